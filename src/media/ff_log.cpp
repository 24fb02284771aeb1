#include "media/ff_log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "media/ffapi.h"
#include "runtime/format.h"
#include "runtime/main_thread.h"

namespace trelvix::media {
namespace {

constexpr size_t kLineBufferSize = 2048;

std::atomic<int> g_filter_level{32};

// The current logger and the automatic one, if it was needed. The automatic logger is kept until
// the process ends even while the application's own is current, so that a delivery that picked
// it never outlives it.
struct CurrentLogger {
  std::mutex lock;
  std::condition_variable released;      // a logger's last delivery ended
  TFFLogger* current = nullptr;          // Guarded by lock.
  std::unique_ptr<TFFLogger> automatic;  // Guarded by lock.
};
CurrentLogger& Loggers() {
  static CurrentLogger c;
  return c;
}

// Each thread's text received since its last line end. Items stay until exit.
struct LogList {
  std::mutex FLock;
  std::map<uint32_t, std::string> pending;  // Guarded by FLock.
};
LogList& TheLogList() {
  static LogList l;
  return l;
}
[[maybe_unused]] const bool kListCreated = (TheLogList(), Loggers(), true);

}  // namespace

// Holds a logger for one delivery: its destructor waits until no LoggerUse holds it.
class LoggerUse {
 public:
  // The current logger (the automatic one made current when there is none), held.
  static LoggerUse Current() {
    CurrentLogger& c = Loggers();
    std::lock_guard g(c.lock);
    return LoggerUse(CurrentLocked(c));
  }
  // The given logger, held; the caller guarantees it is alive at this moment.
  static LoggerUse Of(TFFLogger* logger) {
    std::lock_guard g(Loggers().lock);
    return LoggerUse(logger);
  }
  static TFFLogger* CurrentLocked(CurrentLogger& c) {
    if (c.current) return c.current;
    if (c.automatic) {
      c.automatic->Reset();
    } else {
      c.automatic.reset(new TFFLogger(TFFLogger::AutomaticTag{}));
    }
    c.current = c.automatic.get();
    return c.current;
  }

  LoggerUse(LoggerUse&& o) noexcept : logger_(std::exchange(o.logger_, nullptr)) {}
  LoggerUse(const LoggerUse&) = delete;
  LoggerUse& operator=(const LoggerUse&) = delete;
  LoggerUse& operator=(LoggerUse&&) = delete;
  ~LoggerUse() {
    if (!logger_) return;
    CurrentLogger& c = Loggers();
    std::lock_guard g(c.lock);
    if (--logger_->FUses == 0) c.released.notify_all();
  }
  TFFLogger* operator->() const { return logger_; }

 private:
  explicit LoggerUse(TFFLogger* logger) : logger_(logger) { ++logger_->FUses; }  // lock held
  TFFLogger* logger_;
};

namespace {

// The libraries' log callback; runs on any thread.
void LibraryLogCallback(void* avcl, int level, const char* fmt, va_list vl) {
  if (level > g_filter_level.load(std::memory_order_relaxed)) return;
  const uint32_t tid = CurrentThreadID();
  LogList& list = TheLogList();
  std::vector<std::string> lines;
  {
    std::lock_guard g(list.FLock);
    std::string& pending = list.pending[tid];
    char buf[kLineBufferSize] = {};
    int used = 0;
    if (avcl && pending.empty()) {
      const AVClass* avc = *static_cast<const AVClass* const*>(avcl);
      const char* name = (avc && avc->item_name) ? avc->item_name(avcl) : nullptr;
      used = std::snprintf(buf, sizeof buf, "[%s @ %p]", name ? name : "NULL", avcl);
      used = std::clamp(used, 0, static_cast<int>(sizeof buf) - 1);
    }
    const size_t room = sizeof buf - static_cast<size_t>(used);
    const int wanted = std::vsnprintf(buf + used, room, fmt, vl);
    // Text longer than the buffer is cut at its end (vsnprintf never writes past it); a cut line
    // keeps its line end, so it does not swallow the next message.
    pending += buf;
    const size_t fmt_len = std::strlen(fmt);
    if (wanted >= static_cast<int>(room) && fmt_len > 0 && fmt[fmt_len - 1] == '\n')
      pending += '\n';
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      lines.push_back(pending.substr(0, nl));
      pending.erase(0, nl + 1);
    }
  }
  // Delivered outside the list lock: a handler on the main thread may itself cause logging.
  if (lines.empty()) return;
  const LoggerUse use = LoggerUse::Current();
  for (const std::string& line : lines) use->DeliverLibraryLine(tid, level, line);
}

}  // namespace

int LogLevelToAV(TLogLevel level) {
  return static_cast<int>(level) * 8 - 8;
}

TLogLevel AVToLogLevel(int av_level) {
  return static_cast<TLogLevel>(std::clamp(av_level / 8 + 1, 0, static_cast<int>(llDebug)));
}

uint32_t CurrentThreadID() {
  return static_cast<uint32_t>(::syscall(SYS_gettid));
}

int LibraryFilterLevel() {
  return g_filter_level.load();
}

TFFLogger::TFFLogger() : TFFBaseComponent("1.0") {
  FLogLevel = AVToLogLevel(g_filter_level.load());
  CurrentLogger& c = Loggers();
  std::lock_guard g(c.lock);
  // The automatic logger stops delivering as if it were gone; it stays, for deliveries that
  // already picked it.
  if (c.automatic && c.current == c.automatic.get()) c.automatic->SetOnLog(nullptr);
  c.current = this;
}

TFFLogger::TFFLogger(AutomaticTag) : TFFBaseComponent("1.0") {
  FAutoCreated = true;
  FLogLevel = AVToLogLevel(g_filter_level.load());
}

TFFLogger::~TFFLogger() {
  SetOnLog(nullptr);  // a delivery that has not reached the handler yet finds none
  CurrentLogger& c = Loggers();
  std::unique_lock g(c.lock);
  if (c.current == this) c.current = nullptr;
  // A delivery in progress may be waiting for the main thread to run the handler: on the main
  // thread, serve that queue while waiting (the handler is gone, so those calls return at once).
  while (FUses > 0) {
    if (!runtime::IsMainThread()) {
      c.released.wait(g);
      continue;
    }
    g.unlock();
    runtime::CheckSynchronize(1);
    g.lock();
  }
}

void TFFLogger::Reset() {
  std::lock_guard g(FLock);
  FTriggerEventInMainThread = true;
  FLogLevel = AVToLogLevel(g_filter_level.load());
  FOnLog = nullptr;
}

TFFLogger& TFFLogger::Current() {
  CurrentLogger& c = Loggers();
  std::lock_guard g(c.lock);
  return *LoggerUse::CurrentLocked(c);
}

void TFFLogger::Post(runtime::TObject* Sender, TLogLevel ALogLevel, const std::string& ALogMsg) {
  LoggerUse::Current()->Log(Sender, ALogLevel, ALogMsg);
}

void TFFLogger::PostF(runtime::TObject* Sender, TLogLevel ALogLevel, const char* fmt, ...) {
  const LoggerUse use = LoggerUse::Current();
  va_list args;
  va_start(args, fmt);
  use->LogV(Sender, ALogLevel, fmt, args);
  va_end(args);
}

void TFFLogger::InstallAVLogCallback() {
  if (!ff::av_log_set_callback) return;
  ff::av_log_set_callback(&LibraryLogCallback);
  const int av = LogLevelToAV(LogLevel());
  g_filter_level.store(av);
  ff::av_log_set_level(av);
}

TLogLevel TFFLogger::LogLevel() const {
  std::lock_guard g(FLock);
  return FLogLevel;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  {
    std::lock_guard g(FLock);
    if (level == FLogLevel) return;
    FLogLevel = level;
  }
  if (ff::av_log_set_level) {
    g_filter_level.store(LogLevelToAV(level));
    ff::av_log_set_level(LogLevelToAV(level));
  }
}

void TFFLogger::OptLogLevel(const std::string& arg) {
  static const char* const kWords[] = {"quiet",   "panic", "fatal",   "error",
                                       "warning", "info",  "verbose", "debug"};
  std::string lower = arg;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  for (int i = 0; i < 8; ++i) {
    if (lower == kWords[i]) {
      SetLogLevel(static_cast<TLogLevel>(i));
      return;
    }
  }
  size_t used = 0;
  const int value = std::stoi(arg, &used);  // throws std::invalid_argument / out_of_range
  if (used != arg.size()) throw std::invalid_argument("'" + arg + "' is not a valid integer value");
  SetLogLevel(AVToLogLevel(value));
}

bool TFFLogger::TriggerEventInMainThread() const {
  std::lock_guard g(FLock);
  return FTriggerEventInMainThread;
}

void TFFLogger::SetTriggerEventInMainThread(bool v) {
  std::lock_guard g(FLock);
  FTriggerEventInMainThread = v;
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  std::lock_guard g(FLock);
  FOnLog = std::move(handler);
}

bool TFFLogger::Passes(TLogLevel level) const {
  std::lock_guard g(FLock);
  if (!FOnLog) return false;
  return level <= FLogLevel || (level == llVerbose && FLogLevel != llQuiet);
}

void TFFLogger::Log(runtime::TObject* Sender, TLogLevel ALogLevel, const std::string& ALogMsg) {
  if (!Passes(ALogLevel)) return;
  Raise(TLogInfo{Sender, CurrentThreadID(), ALogLevel, ALogMsg});
}

void TFFLogger::LogF(runtime::TObject* Sender, TLogLevel ALogLevel, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  LogV(Sender, ALogLevel, fmt, args);
  va_end(args);
}

void TFFLogger::LogV(runtime::TObject* Sender, TLogLevel ALogLevel, const char* fmt, va_list args) {
  if (!Passes(ALogLevel)) return;  // formatted only when it is delivered
  Raise(TLogInfo{Sender, CurrentThreadID(), ALogLevel, runtime::FormatV(fmt, args)});
}

void TFFLogger::DeliverLibraryLine(uint32_t thread_id, int av_level, const std::string& line) {
  {
    std::lock_guard g(FLock);
    if (!FOnLog) return;
  }
  Raise(TLogInfo{this, thread_id, AVToLogLevel(av_level), line});
}

TLogEvent TFFLogger::Handler() const {
  std::lock_guard g(FLock);
  return FOnLog;
}

void TFFLogger::Raise(const TLogInfo& info) {
  const LoggerUse use = LoggerUse::Of(this);  // the destructor waits for this delivery
  bool in_main;
  {
    std::lock_guard g(FLock);
    if (!FOnLog) return;
    in_main = FTriggerEventInMainThread;
  }
  // Each delivery carries its own record, so concurrent messages never mix their fields.
  if (in_main && !runtime::IsMainThread()) {
    // The handler is read when the main thread runs the call: a logger being destroyed has none.
    runtime::CallInMainThread([&] {
      if (const TLogEvent handler = Handler())
        handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg);
    });
  } else {
    const TLogEvent handler = Handler();
    if (!handler) return;
    std::lock_guard g(FRaiseLock);
    handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg);
  }
}

}  // namespace trelvix::media
