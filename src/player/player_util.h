// Small helpers of the player: wall clock, waits that keep the main thread serving, joinable
// workers, and the marking of the player's own threads. Internal to the player.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace trelvix::player {

// The library's wall clock in microseconds (monotonic).
int64_t NowMicros();
inline double NowSeconds() {
  return static_cast<double>(NowMicros()) / 1000000.0;
}
void SleepMs(int ms);

// On the main thread: runs the queued main-thread calls (waiting up to wait_ms for one) and Qt's
// pending events when an application object exists. Elsewhere: sleeps wait_ms.
void ServiceMainThread(int wait_ms);

// Tries to take the lock for up to timeout_ms (polling: timed waits on mutexes are not seen by
// the thread checker).
bool TryLockFor(std::unique_lock<std::mutex>& lock, int timeout_ms);

// Which of the player's threads the calling thread is.
enum class TThreadRole { kOther, kPlay, kEvent, kPlayback };
TThreadRole CurrentThreadRole();
void SetCurrentThreadRole(TThreadRole role);

// A thread that can be joined from the main thread without blocking the main-thread queue: the
// join serves it until the thread has finished.
class TWorker {
 public:
  TWorker() = default;
  TWorker(const TWorker&) = delete;
  TWorker& operator=(const TWorker&) = delete;
  ~TWorker() { Join(); }

  // Starts fn on a new thread marked with the role. Throws std::system_error when no thread can
  // be made.
  void Start(TThreadRole role, std::function<void()> fn);
  bool Joinable() const { return FThread.joinable(); }
  bool Done() const { return FDone; }
  bool IsCurrent() const { return FThread.get_id() == std::this_thread::get_id(); }
  void Join();

 private:
  std::thread FThread;
  std::atomic<bool> FDone{true};
};

}  // namespace trelvix::player
