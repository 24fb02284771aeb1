// The main-thread call queue: how worker threads hand work to the main thread.
//
// A worker calls CallInMainThread(fn) and blocks until the main thread has run fn. The main
// thread runs queued calls in CheckSynchronize(), which a Qt event loop calls when woken by the
// wake-up hook, and which every main-thread wait for a worker calls in its loop, so that the two
// never block each other. Called on the main thread, CallInMainThread runs fn at once.
// Nothing in this interface depends on Qt.
#pragma once

#include <functional>

namespace trelvix::runtime {

// The main thread is the thread that started the process (static initialisation) unless a
// program or test names another one with SetMainThread() before any worker starts.
bool IsMainThread();
void SetMainThread();

// Runs fn on the main thread and waits for it. An exception thrown by fn is re-thrown in the
// calling thread. Any thread.
void CallInMainThread(const std::function<void()>& fn);

// Runs every call queued so far. With timeout_ms > 0 and an empty queue, waits up to that long
// for a call to arrive. Returns true when at least one call ran. Main thread only (on another
// thread it returns false at once).
bool CheckSynchronize(int timeout_ms = 0);

// Installs the hook that tells an event loop that calls are waiting (for Qt: post an event that
// makes the GUI thread call CheckSynchronize). Called on the enqueuing thread; may be empty.
void SetWakeMainThread(std::function<void()> hook);

}  // namespace trelvix::runtime
