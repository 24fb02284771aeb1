// The conversion thread and the job's life: StartConvert, Stop, Pause, Resume, Abort, DoConvert
// and DoTerminate.
#include "engine/ffmpeg_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/ffmpeg_messages.h"
#include "engine/transcode_streams.h"
#include "media/ff_log.h"
#include "runtime/main_thread.h"

namespace trelvix::engine {
namespace {

// Nice values for the priorities; raising above normal is best effort.
int NiceValue(TThreadPriority p) {
  switch (p) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 10;
    case tpLower:
      return 5;
    case tpNormal:
      return 0;
    case tpHigher:
      return -5;
    case tpHighest:
      return -10;
    case tpTimeCritical:
      return -15;
  }
  return 0;
}

}  // namespace

// --- TConvertThread ---

TConvertThread::~TConvertThread() {
  Join();
}

void TConvertThread::Start() {
  if (FThread.joinable()) return;
  FThread = std::thread([this] { Execute(); });
}

void TConvertThread::Join() {
  if (FThread.joinable() && !IsCurrentThread()) FThread.join();
}

void TConvertThread::Execute() {
  FId = std::this_thread::get_id();
  if (FPriority != tpNormal) {
    // Errors (no permission to raise the priority) are ignored.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), NiceValue(FPriority));
  }
  try {
    FOwner->DoConvert();
  } catch (...) {
    // DoConvert captures every failure itself; nothing may escape the thread.
  }
  FOwner->FStopEvent.Set();
}

void TCustomFFmpeg::TConvertThreadDeleter::operator()(TConvertThread* t) const {
  delete t;
}

// --- Control ---

TConvertThread* TCustomFFmpeg::Thread() const {
  return FConvertState.converting ? FConvertThread.get() : nullptr;
}

TConvertThread* TCustomFFmpeg::StartConvert(bool use_thread, TThreadPriority priority) {
  if (FConvertState.converting) return nullptr;
  // Terminated until ResetState: a job runs once.
  if (FConvertState.terminated) return nullptr;
  const char* missing = Fnb_output_files == 0  ? msg::kNeedOutputFile
                        : Fnb_input_files == 0 ? msg::kNeedInputFile
                                               : nullptr;
  if (missing) {
    FreeResources();
    media::TFFLogger::Current().Log(this, media::llQuiet, missing);
    FFatalException = true;
    FFatalMessage = missing;
    DoTerminate();
    return nullptr;
  }
  FConvertState.converting = true;
  FBroken = false;
  FFinished = false;
  {
    std::lock_guard g(FConvertState.lock);
    FConvertState.paused = false;
  }
  if (!use_thread) {
    DoConvert();
    return nullptr;
  }
  // An earlier worker of this object (a job reset and started again) is finished by now.
  FConvertThread.reset();
  FPriority = priority;
  FStopEvent.Reset();
  FConvertThread.reset(new TConvertThread(this, priority));
  // Started at once: owners that only keep the job (the encoder's task list) need not start it.
  FConvertThread->Start();
  return FConvertThread.get();
}

void TCustomFFmpeg::PauseGate() {
  std::unique_lock g(FConvertState.lock);
  FConvertState.cv.wait(g, [this] { return !FConvertState.paused || FBroken; });
}

void TCustomFFmpeg::Pause() {
  if (!FConvertThread || !FConvertState.converting) return;
  std::lock_guard g(FConvertState.lock);
  FConvertState.paused = true;
}

void TCustomFFmpeg::Resume() {
  TConvertThread* t = Thread();
  if (!t) return;
  {
    std::lock_guard g(FConvertState.lock);
    FConvertState.paused = false;
  }
  FConvertState.cv.notify_all();
  // The worker is created suspended: resuming it the first time starts it.
  if (!t->Started()) t->Start();
}

void TCustomFFmpeg::Stop(bool wait_for_stop) {
  {
    std::lock_guard g(FConvertState.lock);
    FBroken = true;
    FConvertState.paused = false;
  }
  FConvertState.cv.notify_all();
  TConvertThread* t = Thread();  // a worker of a running job only: one that ended is not restarted
  if (t && !t->Started()) t->Start();  // a never-started worker ends at once and reports
  if (wait_for_stop && FConvertThread && !FConvertThread->IsCurrentThread()) {
    const bool main = runtime::IsMainThread();
    while (!FStopEvent.Wait(20)) {
      if (main) runtime::CheckSynchronize();
    }
    FConvertThread->Join();
  }
  if (wait_for_stop && FTerminateThread.joinable() &&
      FTerminateThread.get_id() != std::this_thread::get_id())
    FTerminateThread.join();
}

void TCustomFFmpeg::Abort(bool wait) {
  if (FConvertState.converting) {
    Stop(wait);
    return;
  }
  if (FConvertState.terminated || FTerminateThread.joinable()) {
    if (wait && FTerminateThread.joinable() &&
        FTerminateThread.get_id() != std::this_thread::get_id())
      FTerminateThread.join();
    return;
  }
  FTermEvent.Reset();
  FTerminateThread = std::thread([this] {
    try {
      DoTerminate();
    } catch (const std::exception& e) {
      FFatalException = true;
      FFatalMessage = e.what();
      media::TFFLogger::Current().Log(this, media::llQuiet, FFatalMessage);
    }
    FTermEvent.Set();
  });
  if (wait) {
    const bool main = runtime::IsMainThread();
    while (!FTermEvent.Wait(20))
      if (main) runtime::CheckSynchronize();
  }
}

void TCustomFFmpeg::DoTerminate() {
  FConvertState.terminated = true;
  FConvertState.converting = false;
  if (FOnTerminate) FOnTerminate(this);
}

void TCustomFFmpeg::DoConvert() {
  FFinished = false;
  const auto capture = [this](const std::exception& e) {
    media::TFFLogger::Current().Log(this, media::llQuiet, e.what());
    FFatalException = true;
    FFatalMessage = e.what();
  };
  try {
    Transcode();
  } catch (const std::exception& e) {
    capture(e);
  }
  try {
    FreeResources();
  } catch (const std::exception& e) {
    capture(e);
  }
  try {
    DoTerminate();
  } catch (const std::exception& e) {
    capture(e);
  }
}

}  // namespace trelvix::engine
