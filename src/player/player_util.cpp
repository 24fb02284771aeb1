#include "player/player_util.h"

#include <chrono>

#include "media/ffapi.h"
#include "runtime/application.h"
#include "runtime/main_thread.h"

namespace trelvix::player {
namespace {
thread_local TThreadRole tls_role = TThreadRole::kOther;
}

int64_t NowMicros() {
  if (ff::av_gettime_relative) return ff::av_gettime_relative();
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void ServiceMainThread(int wait_ms) {
  if (!runtime::IsMainThread()) {
    if (wait_ms > 0) SleepMs(wait_ms);
    return;
  }
  runtime::CheckSynchronize(wait_ms);
  runtime::ProcessPendingMessages();
}

bool TryLockFor(std::unique_lock<std::mutex>& lock, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!lock.try_lock()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    SleepMs(1);
  }
  return true;
}

TThreadRole CurrentThreadRole() {
  return tls_role;
}
void SetCurrentThreadRole(TThreadRole role) {
  tls_role = role;
}

void TWorker::Start(TThreadRole role, std::function<void()> fn) {
  Join();
  FDone = false;
  try {
    FThread = std::thread([this, role, fn = std::move(fn)] {
      SetCurrentThreadRole(role);
      fn();
      FDone = true;
    });
  } catch (...) {
    FDone = true;
    throw;
  }
}

void TWorker::Join() {
  if (!FThread.joinable()) return;
  if (IsCurrent()) {  // a thread cannot join itself; it ends on its own
    FThread.detach();
    return;
  }
  if (runtime::IsMainThread())
    while (!FDone) ServiceMainThread(5);
  FThread.join();
}

}  // namespace trelvix::player
