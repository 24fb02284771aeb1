#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hang_guard.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ffapi.h"
#include "runtime/main_thread.h"

namespace trelvix::media {
namespace {

// A worker holds the codec lock (as around a codec open or a probe) and logs a line that is
// handed to the main thread, while the main thread waits for the same lock (probing a file while
// the player opens a stream). The main thread must deliver the line while it waits.
TEST(CodecLockHandOver, MainThreadWaitingForTheLockDeliversTheHoldersLogLines) {
  ASSERT_TRUE(FFLoader().Load(avUtil)) << FFLoader().LastErrMsg();
  const struct {
    const char* name;
    void (*log)();
    const char* expected;
  } cases[] = {
      {"suite message", [] { TFFLogger::Post(nullptr, llError, "inside the lock"); },
       "inside the lock"},
      {"library line", [] { ff::av_log(nullptr, AV_LOG_ERROR, "library inside the lock\n"); },
       "library inside the lock"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFFLogger logger;
    logger.SetLogLevel(llDebug);
    std::mutex lock;
    std::vector<std::string> got;
    std::atomic<bool> all_on_main{true};
    logger.SetOnLog([&](runtime::TObject*, uint32_t, TLogLevel, const std::string& m) {
      all_on_main = all_on_main && runtime::IsMainThread();
      std::lock_guard g(lock);
      got.push_back(m);
    });
    std::atomic<bool> holding{false};
    test::HangGuard guard(std::string("codec lock against the main-thread hand-over: ") + c.name);
    std::thread worker([&] {
      std::lock_guard g(CodecLock());
      holding = true;
      c.log();
    });
    while (!holding) std::this_thread::yield();
    { std::lock_guard g(CodecLock()); }
    worker.join();
    EXPECT_EQ(got, std::vector<std::string>{c.expected});
    EXPECT_TRUE(all_on_main);
  }
}

// The lock stays recursive and exclusive between workers.
TEST(CodecLockHandOver, IsRecursiveAndExclusive) {
  std::lock_guard outer(CodecLock());
  { std::lock_guard inner(CodecLock()); }
  std::atomic<bool> other_got_it{true};
  std::thread other([&] { other_got_it = CodecLock().try_lock(); });
  other.join();
  EXPECT_FALSE(other_got_it);
}

}  // namespace
}  // namespace trelvix::media
