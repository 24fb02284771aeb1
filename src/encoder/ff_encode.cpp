#include "encoder/ff_encode.h"

#include <chrono>
#include <thread>

#include "media/ff_load.h"
#include "runtime/bitmap.h"
#include "runtime/format.h"
#include "runtime/main_thread.h"

namespace trelvix::encoder {
namespace {

constexpr char kEncoderVersion[] = "3.5";
constexpr char kCannotWhileWorking[] = "Cannot %s while working.";
constexpr char kCannotClearTasks[] = "Cannot ClearTasks while working.";
constexpr char kMaxInputFiles[] = "max input files %d reached";
constexpr char kMaxOutputFiles[] = "max output files %d reached";
constexpr char kNoSuchTask[] = "task index %d out of range";

std::string StreamName(const void* stream, const std::string& private_data) {
  return runtime::Format("stream:%llu:%s",
                         static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(stream)),
                         private_data.c_str());
}

// Sets or clears one post-hook bit of a task, keeping the others.
void SetHookBit(TFFmpeg* t, engine::TPostHook bit, bool on) {
  engine::TPostHooks h = t->PostHooks();
  h = on ? (h | engine::PostHookBit(bit)) : (h & ~engine::PostHookBit(bit));
  t->SetPostHooks(h);
}

}  // namespace

// --- TFFmpeg ---

TFFmpeg::~TFFmpeg() {
  // The conversion ends before the callbacks it may still be calling are cleared.
  Stop(true);
  SetOnAudioHook(nullptr);
  SetOnInputVideoHook(nullptr);
  SetOnOutputVideoHook(nullptr);
  SetOnPreviewBitmap(nullptr);
  SetOnProgress(nullptr);
  SetOnTerminate(nullptr);
  for (auto& d : FDecoders) d.reset();
  for (auto& o : FInputOptions) o.reset();
  for (auto& o : FOutputOptions) o.reset();
}

decoder::TFFDecoder* TFFmpeg::GetDecoder(int i) {
  if (!FDecoders[i]) FDecoders[i] = std::make_unique<decoder::TFFDecoder>();
  return FDecoders[i].get();
}

void TFFmpeg::SetInputOptions(int i, const TInputOptions* o) {
  FInputOptions[i] = o ? std::make_unique<TInputOptions>(*o) : nullptr;
}

void TFFmpeg::SetOutputOptions(int i, const TOutputOptions* o) {
  FOutputOptions[i] = o ? std::make_unique<TOutputOptions>(*o) : nullptr;
}

// --- TFFmpegList ---

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
  std::lock_guard g(FLock);
  FList.push_back(std::move(task));
  return static_cast<int>(FList.size()) - 1;
}

void TFFmpegList::Clear() {
  std::vector<std::unique_ptr<TFFmpeg>> old;
  {
    std::lock_guard g(FLock);
    old.swap(FList);
  }
  old.clear();  // each task waits for its own conversion; outside the lock
}

void TFFmpegList::Delete(int index) {
  std::unique_ptr<TFFmpeg> old;
  {
    std::lock_guard g(FLock);
    if (index < 0 || index >= static_cast<int>(FList.size())) return;
    old = std::move(FList[index]);
    FList.erase(FList.begin() + index);
  }
}

void TFFmpegList::Exchange(int i, int j) {
  std::lock_guard g(FLock);
  const int n = static_cast<int>(FList.size());
  if (i < 0 || j < 0 || i >= n || j >= n) return;
  std::swap(FList[i], FList[j]);
}

TFFmpeg* TFFmpegList::Items(int index) const {
  std::lock_guard g(FLock);
  if (index < 0 || index >= static_cast<int>(FList.size())) return nullptr;
  return FList[index].get();
}

int TFFmpegList::IndexOf(const runtime::TObject* task) const {
  std::lock_guard g(FLock);
  for (size_t i = 0; i < FList.size(); ++i)
    if (FList[i].get() == task) return static_cast<int>(i);
  return -1;
}

int TFFmpegList::Count() const {
  std::lock_guard g(FLock);
  return static_cast<int>(FList.size());
}

std::vector<TFFmpeg*> TFFmpegList::Snapshot() const {
  std::lock_guard g(FLock);
  std::vector<TFFmpeg*> v;
  for (const auto& t : FList) v.push_back(t.get());
  return v;
}

void TFFmpegList::Pause() {
  for (TFFmpeg* t : Snapshot()) t->Pause();
}
void TFFmpegList::Resume() {
  for (TFFmpeg* t : Snapshot()) t->Resume();
}
void TFFmpegList::Abort(bool wait) {
  for (TFFmpeg* t : Snapshot()) t->Abort(wait);
}

void TFFmpegList::SetPreviewHook(bool on) {
  for (TFFmpeg* t : Snapshot()) SetHookBit(t, engine::phPreview, on);
}
void TFFmpegList::SetBitmapHook(bool on) {
  for (TFFmpeg* t : Snapshot()) SetHookBit(t, engine::phBitmap, on);
}

// --- TCustomEncoder ---

TCustomEncoder::TCustomEncoder()
    : TFFBaseComponent(kEncoderVersion), FDecoder(std::make_unique<decoder::TFFDecoder>()) {}

TCustomEncoder::~TCustomEncoder() {
  // Detach every handler under its family's lock: an event still inside a handler finishes first
  // (the main-thread queue is served meanwhile, so a handed-over event cannot block this).
  SetOnAudioHook(nullptr);
  SetOnVideoInputHook(nullptr);
  SetOnVideoOutputHook(nullptr);
  SetOnPreviewBitmap(nullptr);
  SetOnProgress(nullptr);
  SetOnTerminate(nullptr);
  FFFmpegList.Clear();  // each task stops and waits for its own conversion
  WaitForTerminateThreads();
  FDecoder.reset();
}

namespace {

// Takes a lock that a conversion thread may hold while it waits for the main thread.
template <class Mutex>
std::unique_lock<Mutex> LockServingMainThread(Mutex& m) {
  std::unique_lock<Mutex> g(m, std::try_to_lock);
  while (!g.owns_lock()) {
    runtime::CheckSynchronize(1);
    g.try_lock();
  }
  return g;
}

}  // namespace

void TCustomEncoder::CheckWorking(const char* AOperation) const {
  if (FWorking) throw EEncoderError(runtime::Format(kCannotWhileWorking, AOperation));
}

TOutputHooks TCustomEncoder::HooksFor() {
  TOutputHooks h;
  h.audio = [this](runtime::TObject* s, int64_t pts, uint8_t* sample, int size, int rate,
                   int channels,
                   int fmt) { HandleAudioHook(s, pts, sample, size, rate, channels, fmt); };
  h.input_video = [this](runtime::TObject* s, runtime::TBitmap* b, int n, int64_t pts, bool& u,
                         bool& stop) { HandleInputVideoHook(s, b, n, pts, u, stop); };
  h.input_video_query = [this](runtime::TObject* s, int w, int ht, int n, int64_t pts, bool& stop) {
    return HandleInputVideoHookQuery(s, w, ht, n, pts, stop);
  };
  h.output_video = [this](runtime::TObject* s, runtime::TBitmap* b, int n, int64_t pts, bool& u,
                          bool& stop) { HandleOutputVideoHook(s, b, n, pts, u, stop); };
  return h;
}

int TCustomEncoder::AddTask(const std::string& AFileName, TInputOptions* AOptions) {
  CheckWorking("AddTask");
  try {
    auto task = std::make_unique<TFFmpeg>(this);
    task->ResetState();
    task->SetVerbose(FVerbose);
    SetHookBit(task.get(), engine::phPreview, FPreview);
    SetHookBit(task.get(), engine::phBitmap, FPreviewBitmap);
    task->SetOnPreviewBitmap([this](runtime::TObject* s, runtime::TBitmap* b, int n, int64_t pts) {
      HandlePreviewBitmap(s, b, n, pts);
    });
    const int slot = task->nb_input_files();
    if (AOptions) {
      if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
      task->SetInputOptions(slot, AOptions);
    }
    if (!OpenInputWithOptions(*task, AFileName, AOptions ? task->InputOptions(slot) : nullptr)) {
      FLastErrMsg = task->LastErrMsg();
      return -1;
    }
    task->GetDecoder(slot)->SetFileHandle(task->InputFormatContext(slot));
    task->SetOnProgress([this](runtime::TObject* s, int fi, int fn, int fps, float q, float br,
                               int64_t size, int64_t dur, int64_t total) {
      HandleProgress(s, fi, fn, fps, q, br, size, dur, total);
    });
    task->SetOnTerminate([this](runtime::TObject* s) { HandleTerminate(s); });
    return FFFmpegList.Add(std::move(task));
  } catch (const std::exception& e) {
    FLastErrMsg = e.what();
    return -1;
  }
}

int TCustomEncoder::AddTask(const std::string& AFileName, const std::string& AExtOptions) {
  TInputOptions o = InputOptionsFromText(AExtOptions);
  return AddTask(AFileName, &o);
}

int TCustomEncoder::AddTask(const void* AStream, const std::string& APrivateData,
                            TInputOptions* AOptions) {
  return AddTask(StreamName(AStream, APrivateData), AOptions);
}

TFFmpeg* TCustomEncoder::TaskWithRoom(int ATaskIndex, bool output) {
  TFFmpeg* task = FFFmpegList.Items(ATaskIndex);
  if (!task) {
    FLastErrMsg = runtime::Format(kNoSuchTask, ATaskIndex);
    return nullptr;
  }
  const int files = output ? task->nb_output_files() : task->nb_input_files();
  if (files == task->MaxFiles()) {
    FLastErrMsg = runtime::Format(output ? kMaxOutputFiles : kMaxInputFiles, task->MaxFiles());
    return nullptr;
  }
  return task;
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const std::string& AFileName,
                                  TInputOptions* AOptions) {
  CheckWorking("AddInputFile");
  TFFmpeg* task = TaskWithRoom(ATaskIndex, false);
  if (!task) return false;
  const int slot = task->nb_input_files();
  try {
    if (AOptions && AOptions->FileName.empty()) AOptions->FileName = AFileName;
    const TInputOptions defaults;
    task->SetInputOptions(slot, AOptions ? AOptions : &defaults);
    if (!OpenInputWithOptions(*task, AFileName, task->InputOptions(slot))) {
      task->SetInputOptions(slot, nullptr);
      FLastErrMsg = task->LastErrMsg();
      return false;
    }
    task->GetDecoder(slot)->SetFileHandle(task->InputFormatContext(slot));
    return true;
  } catch (const std::exception& e) {
    task->SetInputOptions(slot, nullptr);
    FLastErrMsg = e.what();
    return false;
  }
}

bool TCustomEncoder::AddInputFile(int ATaskIndex, const std::string& AFileName,
                                  const std::string& AExtOptions) {
  TInputOptions o = InputOptionsFromText(AExtOptions);
  return AddInputFile(ATaskIndex, AFileName, &o);
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const std::string& AFileName,
                                   TOutputOptions* AOptions) {
  CheckWorking("SetOutputFile");
  TFFmpeg* task = TaskWithRoom(ATaskIndex, true);
  if (!task) return false;
  const int slot = task->nb_output_files();
  try {
    if (AOptions && AOptions->FileName.empty()) AOptions->FileName = AFileName;
    task->SetOutputOptions(slot, AOptions);
    const int r = OpenOutputWithOptions(*task, AFileName, task->OutputOptions(slot), HooksFor());
    if (r < 0) {
      task->SetOutputOptions(slot, nullptr);
      FLastErrMsg = task->LastErrMsg();
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    task->SetOutputOptions(slot, nullptr);
    FLastErrMsg = e.what();
    return false;
  }
}

bool TCustomEncoder::SetOutputFile(int ATaskIndex, const std::string& AFileName,
                                   const std::string& AExtOptions) {
  TOutputOptions o = OutputOptionsFromText(AExtOptions);
  return SetOutputFile(ATaskIndex, AFileName, &o);
}

bool TCustomEncoder::SetOutputStream(int ATaskIndex, const void* AStream,
                                     const std::string& APrivateData, TOutputOptions* AOptions) {
  return SetOutputFile(ATaskIndex, StreamName(AStream, APrivateData), AOptions);
}

void TCustomEncoder::Exchange(int ATaskIndex1, int ATaskIndex2) {
  CheckWorking("Exchange");
  FFFmpegList.Exchange(ATaskIndex1, ATaskIndex2);
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
  CheckWorking("RemoveTask");
  FFFmpegList.Delete(ATaskIndex);
}

void TCustomEncoder::ClearTasks() {
  if (FWorking && !FTerminated) throw EEncoderError(kCannotClearTasks);
  WaitForTerminateThreads();
  FFFmpegList.Clear();
  std::lock_guard g(FTerminateLock);
  FLastErrMsg.clear();
  FCompleteTasks = 0;
  FCurrentTask = -1;
  FPendingTasks = 0;
  FTerminated = false;
  FThreadMode = false;
  FWorking = false;
}

void TCustomEncoder::Start(int AThreadCount) {
  CheckWorking("StartTask");
  std::lock_guard g(FTerminateLock);
  FCompleteTasks = 0;
  FCurrentTask = 0;
  FPendingTasks = TasksCount();
  FTerminated = false;
  FThreadMode = AThreadCount > 0;
  FWorking = true;
  while (FPendingTasks > 0) {
    StartNextTask();
    if (FThreadMode && --AThreadCount == 0) break;
  }
}

void TCustomEncoder::StartNextTask() {
  std::lock_guard g(FTerminateLock);
  if (FPendingTasks <= 0) return;
  --FPendingTasks;
  TFFmpeg* task = FFFmpegList.Items(FCurrentTask++);
  if (!task) return;
  task->ReportInterval = static_cast<int64_t>(FProgressInterval) * 1000;
  task->SetVerbose(FVerbose);  // the component's verbosity now, not when the task was added
  task->StartConvert(FThreadMode, FThreadPriority);
}

void TCustomEncoder::Pause() {
  FFFmpegList.Pause();
}
void TCustomEncoder::Resume() {
  FFFmpegList.Resume();
}

void TCustomEncoder::Stop(bool AWaitForStop) {
  {
    std::lock_guard g(FTerminateLock);
    FPendingTasks = 0;
  }
  if (FWorking) FFFmpegList.Abort(AWaitForStop);
}

bool TCustomEncoder::LoadAVLib(const std::string& APath) {
  media::FFLoader().SetLibraryPath(APath);
  if (media::FFLoader().Load(media::kEncoderLibraries)) return true;
  FLastErrMsg = media::FFLoader().LastErrMsg();
  return false;
}

bool TCustomEncoder::AVLibLoaded() const {
  return media::FFLoader().Loaded(media::kEncoderLibraries);
}
void TCustomEncoder::UnloadAVLib() {
  media::FFLoader().Unload(media::kEncoderLibraries);
}

void TCustomEncoder::SetPreview(bool v) {
  FPreview = v;
  FFFmpegList.SetPreviewHook(v);
}

void TCustomEncoder::SetPreviewBitmap(bool v) {
  FPreviewBitmap = v;
  FFFmpegList.SetBitmapHook(v);
}

void TCustomEncoder::SetOnAudioHook(TAudioHookEvent e) {
  auto g = LockServingMainThread(FAudioHookLock);
  FOnAudioHook = std::move(e);
}
void TCustomEncoder::SetOnPreviewBitmap(TPreviewBitmapEvent e) {
  auto g = LockServingMainThread(FPreviewLock);
  FOnPreviewBitmap = std::move(e);
}
void TCustomEncoder::SetOnProgress(TProgressEvent e) {
  auto g = LockServingMainThread(FProgressLock);
  FOnProgress = std::move(e);
}
void TCustomEncoder::SetOnTerminate(TTerminateEvent e) {
  auto g = LockServingMainThread(FTerminateLock);
  FOnTerminate = std::move(e);
}
void TCustomEncoder::SetOnVideoInputHook(TVideoHookEvent e) {
  auto g = LockServingMainThread(FVideoHookLock);
  FOnInputVideoHook = std::move(e);
}
void TCustomEncoder::SetOnVideoInputHookQuery(TVideoHookQuery q) {
  auto g = LockServingMainThread(FVideoHookLock);
  FOnInputVideoHookQuery = std::move(q);
}
void TCustomEncoder::SetOnVideoOutputHook(TVideoHookEvent e) {
  auto g = LockServingMainThread(FVideoHookLock);
  FOnOutputVideoHook = std::move(e);
}

void TCustomEncoder::Raise(const std::function<void()>& call) {
  if (FTriggerEventInMainThread)
    runtime::CallInMainThread(call);
  else
    call();
}

void TCustomEncoder::HandleProgress(runtime::TObject* Sender, int AFileIndex, int AFrameNumber,
                                    int AFPS, float AQuality, float ABitRate, int64_t ACurrentSize,
                                    int64_t ACurrentDuration, int64_t ATotalDuration) {
  std::lock_guard g(FProgressLock);
  if (!FOnProgress) return;
  FProgressInfo.TaskIndex = FFFmpegList.IndexOf(Sender);
  FProgressInfo.FileIndex = AFileIndex;
  FProgressInfo.FrameNumber = AFrameNumber;
  FProgressInfo.FPS = AFPS;
  FProgressInfo.Quality = AQuality;
  FProgressInfo.BitRate = ABitRate;
  FProgressInfo.CurrentSize = ACurrentSize;
  FProgressInfo.CurrentDuration = ACurrentDuration;
  FProgressInfo.TotalDuration = ATotalDuration;
  Raise([&] { FOnProgress(this, &FProgressInfo); });
}

void TCustomEncoder::HandlePreviewBitmap(runtime::TObject* Sender, runtime::TBitmap* ABitmap,
                                         int AFrameNumber, int64_t APTS) {
  std::lock_guard g(FPreviewLock);
  if (!FOnPreviewBitmap) return;
  FPreviewInfo.TaskIndex = FFFmpegList.IndexOf(Sender);
  FPreviewInfo.Bitmap = ABitmap;
  FPreviewInfo.FrameNumber = AFrameNumber;
  FPreviewInfo.PTS = APTS;
  Raise([&] { FOnPreviewBitmap(this, FPreviewInfo); });
}

void TCustomEncoder::VideoHook(const TVideoHookEvent& handler, runtime::TObject* Sender,
                               runtime::TBitmap* ABitmap, int AFrameNumber, int64_t APTS,
                               bool& AUpdate, bool& AStopHook) {
  std::lock_guard g(FVideoHookLock);
  if (!handler) return;
  FVideoHookInfo.TaskIndex = FFFmpegList.IndexOf(Sender);
  FVideoHookInfo.Bitmap = ABitmap;
  FVideoHookInfo.FrameNumber = AFrameNumber;
  FVideoHookInfo.PTS = APTS;
  FVideoHookInfo.Update = AUpdate;
  FVideoHookInfo.StopHook = AStopHook;
  {
    runtime::TBitmapLock canvas(*ABitmap);  // released also when the handler raises
    handler(this, &FVideoHookInfo);
  }
  AUpdate = FVideoHookInfo.Update;
  AStopHook = FVideoHookInfo.StopHook;
}

void TCustomEncoder::HandleInputVideoHook(runtime::TObject* Sender, runtime::TBitmap* ABitmap,
                                          int AFrameNumber, int64_t APTS, bool& AUpdate,
                                          bool& AStopHook) {
  VideoHook(FOnInputVideoHook, Sender, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

runtime::TDrawArea TCustomEncoder::HandleInputVideoHookQuery(runtime::TObject* Sender, int AWidth,
                                                             int AHeight, int AFrameNumber,
                                                             int64_t APTS, bool& AStopHook) {
  std::lock_guard g(FVideoHookLock);
  if (!FOnInputVideoHook) return {};
  if (!FOnInputVideoHookQuery) return runtime::TRect{0, 0, AWidth, AHeight};
  return FOnInputVideoHookQuery(this, FFFmpegList.IndexOf(Sender), AWidth, AHeight, AFrameNumber,
                                APTS, AStopHook);
}

void TCustomEncoder::HandleOutputVideoHook(runtime::TObject* Sender, runtime::TBitmap* ABitmap,
                                           int AFrameNumber, int64_t APTS, bool& AUpdate,
                                           bool& AStopHook) {
  VideoHook(FOnOutputVideoHook, Sender, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

void TCustomEncoder::HandleAudioHook(runtime::TObject* Sender, int64_t APTS, uint8_t* ASample,
                                     int ASize, int ASampleRate, int AChannels, int ASampleFormat) {
  std::lock_guard g(FAudioHookLock);
  if (!FOnAudioHook) return;
  FOnAudioHook(this, FFFmpegList.IndexOf(Sender), APTS, ASample, ASize, ASampleRate, AChannels,
               ASampleFormat);
}

void TCustomEncoder::HandleTerminate(runtime::TObject* Sender) {
  std::lock_guard g(FTerminateLock);
  std::exception_ptr failure;
  if (FOnTerminate) {
    auto* task = static_cast<TFFmpeg*>(Sender);
    FTerminateInfo.TaskIndex = FFFmpegList.IndexOf(Sender);
    FTerminateInfo.Finished = task->Finished();
    FTerminateInfo.Exception = task->FatalException();
    FTerminateInfo.ExceptionMsg = task->FatalMessage();
    failure = DeliverTerminate(FTerminateInfo, false);
  }
  // The task counts as complete even when the handler raised, or the run would never end.
  ++FCompleteTasks;
  if (FPendingTasks < 1) {
    if (FCompleteTasks >= TasksCount()) FinishAllTasks();
  } else if (FThreadMode) {
    StartNextTask();
  }
  // The handler's failure reaches the task, which records and logs it.
  if (failure) std::rethrow_exception(failure);
}

void TCustomEncoder::FinishAllTasks() {
  FTerminated = true;
  if (!FOnTerminate) return;
  FTerminateInfo = TTerminateInfo{-1, true, false, ""};
  if (std::exception_ptr failure = DeliverTerminate(FTerminateInfo, true))
    std::rethrow_exception(failure);
}

std::exception_ptr TCustomEncoder::DeliverTerminate(const TTerminateInfo& info, bool after_all) {
  if (FThreadMode || !FWorking) {
    StartTerminateThread(info, after_all);
    return nullptr;
  }
  try {
    FOnTerminate(this, info);
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void TCustomEncoder::StartTerminateThread(const TTerminateInfo& info, bool after_all) {
  {
    std::lock_guard g(FThreadsLock);
    ++FTerminateThreads;
  }
  // The thread keeps its own copy of the handler: it may run after the handler was detached.
  std::thread([this, info, after_all, handler = FOnTerminate] {
    if (after_all) {
      // The final event comes after every task's own termination event.
      std::unique_lock g(FThreadsLock);
      FThreadsDone.wait(g, [&] { return FTerminateThreads == 1; });
    }
    try {
      if (handler) handler(this, info);
    } catch (...) {
      // A handler's failure must not end the process; the event has been delivered.
    }
    std::lock_guard g(FThreadsLock);
    --FTerminateThreads;
    FThreadsDone.notify_all();
  }).detach();
}

void TCustomEncoder::WaitForTerminateThreads() {
  std::unique_lock g(FThreadsLock);
  while (FTerminateThreads > 0) {
    // A handler may be handing work to the main thread; keep serving it.
    g.unlock();
    runtime::CheckSynchronize(10);
    g.lock();
    FThreadsDone.wait_for(g, std::chrono::milliseconds(1), [&] { return FTerminateThreads == 0; });
  }
}

}  // namespace trelvix::encoder
