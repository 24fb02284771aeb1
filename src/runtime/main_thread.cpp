#include "runtime/main_thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace trelvix::runtime {
namespace {

struct PendingCall {
  const std::function<void()>* fn = nullptr;
  std::exception_ptr error;
  bool done = false;
};

struct Queue {
  std::mutex lock;
  std::condition_variable arrived;   // main thread waits for calls
  std::condition_variable finished;  // workers wait for their call to be run
  std::deque<PendingCall*> calls;    // Guarded by lock. Entries live on the callers' stacks.
  std::function<void()> wake;        // Guarded by lock.
  std::thread::id main_id = std::this_thread::get_id();
};

Queue& TheQueue() {
  static Queue q;
  return q;
}

// Created during static initialisation, so the main thread is the one that runs main().
[[maybe_unused]] const bool kQueueCreated = (TheQueue(), true);

}  // namespace

bool IsMainThread() {
  Queue& q = TheQueue();
  std::lock_guard g(q.lock);
  return q.main_id == std::this_thread::get_id();
}

void SetMainThread() {
  Queue& q = TheQueue();
  std::lock_guard g(q.lock);
  q.main_id = std::this_thread::get_id();
}

void SetWakeMainThread(std::function<void()> hook) {
  Queue& q = TheQueue();
  std::lock_guard g(q.lock);
  q.wake = std::move(hook);
}

void CallInMainThread(const std::function<void()>& fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  Queue& q = TheQueue();
  PendingCall call;
  call.fn = &fn;
  std::function<void()> wake;
  {
    std::lock_guard g(q.lock);
    q.calls.push_back(&call);
    wake = q.wake;
  }
  q.arrived.notify_all();
  if (wake) wake();
  std::unique_lock g(q.lock);
  q.finished.wait(g, [&] { return call.done; });
  if (call.error) std::rethrow_exception(call.error);
}

bool CheckSynchronize(int timeout_ms) {
  if (!IsMainThread()) return false;
  Queue& q = TheQueue();
  std::unique_lock g(q.lock);
  if (q.calls.empty() && timeout_ms > 0) {
    q.arrived.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return !q.calls.empty(); });
  }
  bool ran = false;
  while (!q.calls.empty()) {
    PendingCall* call = q.calls.front();
    q.calls.pop_front();
    g.unlock();
    try {
      (*call->fn)();
    } catch (...) {
      call->error = std::current_exception();
    }
    g.lock();
    call->done = true;
    ran = true;
    q.finished.notify_all();
  }
  return ran;
}

}  // namespace trelvix::runtime
