// The main-thread call queue, the manual-reset event and the Qt event-loop hookup.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "runtime/application.h"
#include "runtime/event.h"
#include "runtime/main_thread.h"

namespace trelvix::runtime {
namespace {

using namespace std::chrono_literals;

// Serves the queue until done is set; gives up after a few seconds so a fault cannot hang.
void ServeUntil(const std::atomic<bool>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done && std::chrono::steady_clock::now() < deadline) CheckSynchronize(10);
}

TEST(MainThread, WorkerHandsCallOverAndWaitsForIt) {
  ASSERT_TRUE(IsMainThread());
  const auto main_id = std::this_thread::get_id();
  std::thread::id ran_on;
  int value = 0;  // written on the main thread, read by the worker after the hand-over
  TEvent calling;
  std::atomic<bool> returned{false};
  int seen_by_worker = -1;
  std::thread worker([&] {
    EXPECT_FALSE(IsMainThread());
    calling.Set();
    CallInMainThread([&] {
      ran_on = std::this_thread::get_id();
      value = 42;
    });
    seen_by_worker = value;
    returned = true;
  });
  ASSERT_TRUE(calling.Wait(5000));
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(returned) << "the worker must wait until the main thread ran its call";
  ServeUntil(returned);
  worker.join();
  EXPECT_EQ(ran_on, main_id);
  EXPECT_EQ(seen_by_worker, 42);
}

TEST(MainThread, ExceptionIsRethrownInTheCallingWorker) {
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      CallInMainThread([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  ServeUntil(done);
  worker.join();
  EXPECT_EQ(caught, "boom");
}

TEST(MainThread, CallOnMainThreadRunsAtOnce) {
  bool ran = false;
  CallInMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(CheckSynchronize()) << "nothing was queued";
}

TEST(MainThread, CheckSynchronizeOffTheMainThreadDoesNothing) {
  bool result = true;
  std::thread([&] { result = CheckSynchronize(10); }).join();
  EXPECT_FALSE(result);
}

TEST(MainThread, WakeHookRunsOnTheEnqueuingThreadOnceTheCallIsQueued) {
  std::atomic<int> wakes{0};
  std::thread::id hook_thread;
  TEvent woken;
  SetWakeMainThread([&] {
    hook_thread = std::this_thread::get_id();
    ++wakes;
    woken.Set();
  });
  bool ran = false;
  std::thread::id worker_id;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    worker_id = std::this_thread::get_id();
    CallInMainThread([&] { ran = true; });
    done = true;
  });
  // An event loop that sleeps until woken finds the call waiting.
  ASSERT_TRUE(woken.Wait(5000));
  const bool found = CheckSynchronize();
  ServeUntil(done);
  worker.join();
  SetWakeMainThread(nullptr);
  EXPECT_TRUE(found);
  EXPECT_TRUE(ran);
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(hook_thread, worker_id);
}

TEST(MainThread, CallsFromManyWorkersAllRunOnTheMainThread) {
  int counter = 0;  // main thread only
  std::vector<std::thread> workers;
  std::atomic<int> finished{0};
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 50; ++i) CallInMainThread([&] { ++counter; });
      ++finished;
    });
  }
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (finished < 4) std::this_thread::sleep_for(1ms);
    done = true;
  });
  ServeUntil(done);
  for (auto& t : workers) t.join();
  watcher.join();
  EXPECT_EQ(counter, 200);
}

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
  TEvent ev;
  EXPECT_FALSE(ev.IsSet());
  EXPECT_FALSE(ev.Wait(10));
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { released += ev.Wait() ? 1 : 0; });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(released, 0);
  ev.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released, 3);
  EXPECT_TRUE(ev.Wait(0));
  EXPECT_TRUE(ev.Wait(0)) << "a manual-reset event stays set";
  ev.Reset();
  EXPECT_FALSE(ev.Wait(10));
  EXPECT_TRUE(TEvent(true).Wait(0));
}

TEST(Application, QtEventLoopRunsTheQueueAndPendingMessages) {
  ASSERT_TRUE(EnsureGuiApplication());
  EXPECT_TRUE(EnsureGuiApplication()) << "a second call keeps the same application";

  // A posted event runs in ProcessPendingMessages on the application's thread only.
  bool posted_ran = false;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&] { posted_ran = true; }, Qt::QueuedConnection);
  std::thread([] { ProcessPendingMessages(); }).join();
  EXPECT_FALSE(posted_ran);
  ProcessPendingMessages();
  EXPECT_TRUE(posted_ran);

  // With the hookup, handling messages alone serves a worker's call.
  ConnectMainThreadQueueToEventLoop();
  std::atomic<bool> done{false};
  bool ran = false;
  std::thread worker([&] {
    CallInMainThread([&] { ran = true; });
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!done && std::chrono::steady_clock::now() < deadline) {
    ProcessPendingMessages();
    std::this_thread::sleep_for(1ms);
  }
  const bool served_by_event_loop = done;
  ServeUntil(done);  // so that a failing hookup cannot leave the worker blocked
  worker.join();
  SetWakeMainThread(nullptr);
  EXPECT_TRUE(served_by_event_loop);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace trelvix::runtime
