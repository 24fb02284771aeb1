#include "media/ff_log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "media/ffapi.h"
#include "runtime/format.h"
#include "runtime/main_thread.h"

namespace trelvix::media {
namespace {

constexpr size_t kLineBufferSize = 2048;

std::atomic<int> g_filter_level{32};

// The current logger and the one created automatically, if any.
struct CurrentLogger {
  std::mutex lock;
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
  for (const std::string& line : lines) TFFLogger::Current().DeliverLibraryLine(tid, level, line);
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
  std::unique_ptr<TFFLogger> replaced;  // an auto-created logger, destroyed after the lock
  CurrentLogger& c = Loggers();
  std::lock_guard g(c.lock);
  if (c.automatic && c.current == c.automatic.get()) replaced = std::move(c.automatic);
  c.current = this;
}

TFFLogger::~TFFLogger() {
  CurrentLogger& c = Loggers();
  std::lock_guard g(c.lock);
  if (c.current == this) c.current = nullptr;
}

TFFLogger& TFFLogger::Current() {
  CurrentLogger& c = Loggers();
  static std::mutex creation;  // one thread creates the automatic logger
  std::lock_guard create(creation);
  {
    std::lock_guard g(c.lock);
    if (c.current) return *c.current;
  }
  auto logger = std::make_unique<TFFLogger>();  // makes itself current
  logger->FAutoCreated = true;
  TFFLogger& ref = *logger;
  std::lock_guard g(c.lock);
  c.automatic = std::move(logger);
  return ref;
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
  if (!Passes(ALogLevel)) return;  // formatted only when it is delivered
  va_list args;
  va_start(args, fmt);
  std::string msg = runtime::FormatV(fmt, args);
  va_end(args);
  Raise(TLogInfo{Sender, CurrentThreadID(), ALogLevel, std::move(msg)});
}

void TFFLogger::DeliverLibraryLine(uint32_t thread_id, int av_level, const std::string& line) {
  {
    std::lock_guard g(FLock);
    if (!FOnLog) return;
  }
  Raise(TLogInfo{this, thread_id, AVToLogLevel(av_level), line});
}

void TFFLogger::Raise(const TLogInfo& info) {
  TLogEvent handler;
  bool in_main;
  {
    std::lock_guard g(FLock);
    handler = FOnLog;
    in_main = FTriggerEventInMainThread;
  }
  if (!handler) return;
  // Each delivery carries its own record, so concurrent messages never mix their fields.
  if (in_main && !runtime::IsMainThread()) {
    runtime::CallInMainThread(
        [&] { handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg); });
  } else {
    std::lock_guard g(FRaiseLock);
    handler(info.Sender, info.ThreadID, info.LogLevel, info.LogMsg);
  }
}

}  // namespace trelvix::media
