// Ends the test binary with a message when a scenario that could deadlock has not finished in
// time: a hung test then fails at once with a reason instead of at CTest's time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace trelvix::test {

class HangGuard {
 public:
  explicit HangGuard(std::string what, std::chrono::seconds limit = std::chrono::seconds(60))
      : what_(std::move(what)), thread_([this, limit] {
          std::unique_lock g(lock_);
          if (!done_cv_.wait_for(g, limit, [this] { return done_; })) {
            std::fprintf(stderr, "hung: %s\n", what_.c_str());
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  ~HangGuard() {
    {
      std::lock_guard g(lock_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

 private:
  std::string what_;
  std::mutex lock_;
  std::condition_variable done_cv_;
  bool done_ = false;  // Guarded by lock_.
  std::thread thread_;
};

}  // namespace trelvix::test
