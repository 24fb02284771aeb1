// A manual-reset event: once set it stays set, releasing every waiter, until Reset().
// Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace trelvix::runtime {

class TEvent {
 public:
  explicit TEvent(bool initially_set = false) : set_(initially_set) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set() {
    {
      std::lock_guard g(lock_);
      set_ = true;
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard g(lock_);
    set_ = false;
  }
  bool IsSet() const {
    std::lock_guard g(lock_);
    return set_;
  }
  // Waits until set; a negative timeout waits without limit. Returns whether the event is set.
  bool Wait(int timeout_ms = -1) {
    std::unique_lock g(lock_);
    if (timeout_ms < 0) {
      cv_.wait(g, [&] { return set_; });
      return true;
    }
    return cv_.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return set_; });
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable cv_;
  bool set_;  // Guarded by lock_.
};

}  // namespace trelvix::runtime
