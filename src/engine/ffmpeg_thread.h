// The conversion worker: one thread per running job, created suspended by StartConvert.
#pragma once

#include <atomic>
#include <thread>

#include "engine/ffmpeg.h"

namespace trelvix::engine {

class TConvertThread {
 public:
  TConvertThread(TCustomFFmpeg* owner, TThreadPriority priority)
      : FOwner(owner), FPriority(priority) {}
  TConvertThread(const TConvertThread&) = delete;
  TConvertThread& operator=(const TConvertThread&) = delete;
  ~TConvertThread();  // waits for the body to end

  // Starts the body once (later calls do nothing).
  void Start();
  bool Started() const { return FThread.joinable(); }
  TThreadPriority Priority() const { return FPriority; }
  // Waits for the end of a started body (not from the worker itself).
  void Join();
  bool IsCurrentThread() const { return FId.load() == std::this_thread::get_id(); }

 private:
  void Execute();
  TCustomFFmpeg* FOwner;
  TThreadPriority FPriority;
  std::thread FThread;
  std::atomic<std::thread::id> FId{};  // the worker's id once it runs
};

}  // namespace trelvix::engine
