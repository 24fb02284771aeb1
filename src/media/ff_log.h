// The logger: one event for the media libraries' log output and the suite's own messages.
//
// There is one current logger per process. The application creates its own TFFLogger (which
// then becomes current); code that logs before that, or after it is gone, gets the automatic one,
// which lives until the process ends. The libraries' callback (installed when the utility library
// is loaded) assembles each thread's fragments into whole lines and delivers them through the
// current logger. With TriggerEventInMainThread the OnLog handler runs on the main thread
// (through the main-thread call queue) while the logging thread waits; so the main thread must
// not wait for a worker that may be logging without serving that queue (runtime::CheckSynchronize).
//
// Lifetime: a delivery holds the logger it goes through, and a logger's destructor waits until
// no delivery holds it (serving the main-thread queue meanwhile when it runs on the main thread),
// so no handler runs after the destructor has returned. Code on threads that may outlive the
// application's logger posts with Post/PostF, which pick the current logger and hold it in one
// step; a reference from Current() is for the main thread and the logger's owner.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "media/ff_base_component.h"

namespace trelvix::media {

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// Library scale: ordinal x 8 - 8 (llQuiet -8 ... llDebug 48).
int LogLevelToAV(TLogLevel level);
// level / 8 + 1, clamped to llQuiet..llDebug.
TLogLevel AVToLogLevel(int av_level);
// The calling thread's system thread identifier.
uint32_t CurrentThreadID();

struct TLogInfo {
  runtime::TObject* Sender = nullptr;
  uint32_t ThreadID = 0;
  TLogLevel LogLevel = llInfo;
  std::string LogMsg;
};

using TLogEvent = std::function<void(runtime::TObject* Sender, uint32_t AThreadID,
                                     TLogLevel ALogLevel, const std::string& ALogMsg)>;

class TFFLogger : public TFFBaseComponent {
 public:
  TFFLogger();  // becomes the current logger; the automatic one stops delivering
  // Stops being current and stops delivering, then waits for deliveries in progress.
  ~TFFLogger() override;
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  // The current logger; when there is none, the automatic one (created on first need, AutoCreated
  // true) becomes current again, with no handler, as if new. The automatic logger lives until the
  // process ends; the application's as long as its owner keeps it. Any thread.
  static TFFLogger& Current();

  // Log / LogF through the current logger, which is not destroyed before the call returns.
  // Any thread.
  static void Post(runtime::TObject* Sender, TLogLevel ALogLevel, const std::string& ALogMsg);
  static void PostF(runtime::TObject* Sender, TLogLevel ALogLevel, const char* fmt, ...)
      __attribute__((format(printf, 3, 4)));

  // Installs the library log callback and applies LogLevel to the library. Main thread.
  void InstallAVLogCallback();

  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel level);
  // "quiet" ... "debug" (any letter case) or a decimal number on the library scale; other text
  // throws std::invalid_argument.
  void OptLogLevel(const std::string& arg);

  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool v);
  void SetOnLog(TLogEvent handler);
  bool AutoCreated() const { return FAutoCreated; }

  // Posts a suite message: delivered when OnLog is set and the level passes (a verbose message
  // passes at every level but llQuiet). Any thread.
  void Log(runtime::TObject* Sender, TLogLevel ALogLevel, const std::string& ALogMsg);
  void LogF(runtime::TObject* Sender, TLogLevel ALogLevel, const char* fmt, ...)
      __attribute__((format(printf, 4, 5)));

  // Delivers one completed library line (no level test: the library filter did that).
  void DeliverLibraryLine(uint32_t thread_id, int av_level, const std::string& line);

 private:
  friend class LoggerUse;
  struct AutomaticTag {};
  explicit TFFLogger(AutomaticTag);  // the automatic logger; not made current here
  void Reset();                      // the settings of a new logger, no handler
  void LogV(runtime::TObject* Sender, TLogLevel ALogLevel, const char* fmt, va_list args);
  bool Passes(TLogLevel level) const;
  TLogEvent Handler() const;
  void Raise(const TLogInfo& info);

  bool FAutoCreated = false;
  int FUses = 0;  // deliveries holding this logger; guarded by the process-wide logger lock
  mutable std::mutex FLock;  // guards the fields below
  bool FTriggerEventInMainThread = true;
  TLogLevel FLogLevel = llInfo;
  TLogEvent FOnLog;
  std::recursive_mutex FRaiseLock;  // one direct delivery at a time
};

// The library filter level on the library scale (initially 32).
int LibraryFilterLevel();

}  // namespace trelvix::media
