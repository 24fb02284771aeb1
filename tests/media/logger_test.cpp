#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hang_guard.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ffapi.h"
#include "runtime/main_thread.h"
#include "support/log_capture.h"

namespace trelvix::media {
namespace {

struct Delivered {
  uint32_t tid;
  TLogLevel level;
  std::string msg;
};

// Collects what the current logger delivers, on the logging thread.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(avUtil)) << FFLoader().LastErrMsg();
    logger_.SetTriggerEventInMainThread(false);
    logger_.SetLogLevel(llDebug);
    logger_.SetOnLog([this](runtime::TObject*, uint32_t tid, TLogLevel l, const std::string& m) {
      std::lock_guard g(lock_);
      got_.push_back({tid, l, m});
    });
  }
  void TearDown() override { logger_.SetOnLog(nullptr); }
  std::vector<Delivered> Got() {
    std::lock_guard g(lock_);
    return got_;
  }
  TFFLogger logger_;  // becomes the current logger for the test
  std::mutex lock_;
  std::vector<Delivered> got_;
};

struct FakeContext {
  const AVClass* cls;
};

TEST(LogLevelConversion, BothDirections) {
  const struct {
    int av;
    TLogLevel level;
  } cases[] = {{-8, llQuiet}, {0, llPanic},  {16, llError}, {32, llInfo},   {33, llInfo},
               {39, llInfo},  {48, llDebug}, {56, llDebug}, {-100, llQuiet}};
  for (const auto& c : cases) EXPECT_EQ(AVToLogLevel(c.av), c.level) << c.av;
  EXPECT_EQ(LogLevelToAV(llQuiet), -8);
  EXPECT_EQ(LogLevelToAV(llWarning), 24);
  EXPECT_EQ(LogLevelToAV(llDebug), 48);
}

TEST_F(LoggerTest, IsTheCurrentLoggerAndTheLibraryFilterFollowsItsLevel) {
  EXPECT_EQ(&TFFLogger::Current(), &logger_);
  logger_.SetLogLevel(llWarning);
  EXPECT_EQ(ff::av_log_get_level(), 24);
  EXPECT_EQ(LibraryFilterLevel(), 24);
}

TEST_F(LoggerTest, FragmentIsCompletedByALaterMessageWithTheFirstPrefixOnly) {
  AVClass cls{};
  cls.class_name = "Fake";
  cls.item_name = ff::av_default_item_name.get();
  FakeContext ctx{&cls};
  ff::av_log(&ctx, AV_LOG_INFO, "first %d", 1);
  EXPECT_TRUE(Got().empty());
  ff::av_log(&ctx, AV_LOG_INFO, " second\n");
  const auto got = Got();
  ASSERT_EQ(got.size(), 1u);
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "[Fake @ %p]", static_cast<void*>(&ctx));
  EXPECT_EQ(got[0].msg, std::string(prefix) + "first 1 second");
  EXPECT_EQ(got[0].level, llInfo);
  EXPECT_EQ(got[0].tid, CurrentThreadID());
}

TEST_F(LoggerTest, TwoLinesInOneMessageGiveTwoEventsAndNothingPending) {
  ff::av_log(nullptr, AV_LOG_WARNING, "a\nb\n");
  ff::av_log(nullptr, AV_LOG_WARNING, "c\n");
  const auto got = Got();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].msg, "a");
  EXPECT_EQ(got[1].msg, "b");
  EXPECT_EQ(got[2].msg, "c");
  EXPECT_EQ(got[0].level, llWarning);
}

TEST_F(LoggerTest, FragmentsOfTwoThreadsDoNotMix) {
  std::atomic<int> step{0};
  std::thread other([&] {
    ff::av_log(nullptr, AV_LOG_INFO, "other-");
    step = 1;
    while (step != 2) std::this_thread::yield();
    ff::av_log(nullptr, AV_LOG_INFO, "end\n");
  });
  while (step != 1) std::this_thread::yield();
  ff::av_log(nullptr, AV_LOG_INFO, "main-");
  step = 2;
  other.join();
  ff::av_log(nullptr, AV_LOG_INFO, "end\n");
  const auto got = Got();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].msg, "other-end");
  EXPECT_EQ(got[1].msg, "main-end");
  EXPECT_NE(got[0].tid, got[1].tid);
}

TEST_F(LoggerTest, LibraryMessagesAboveTheFilterAreDropped) {
  logger_.SetLogLevel(llError);
  ff::av_log(nullptr, AV_LOG_INFO, "dropped\n");
  ff::av_log(nullptr, AV_LOG_ERROR, "kept\n");
  const auto got = Got();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].msg, "kept");
  EXPECT_EQ(got[0].level, llError);
}

TEST_F(LoggerTest, OverlongLibraryTextIsCutAtTheBuffer) {
  const std::string big(5000, 'x');
  ff::av_log(nullptr, AV_LOG_INFO, "%s\n", big.c_str());
  ff::av_log(nullptr, AV_LOG_INFO, "next\n");
  const auto got = Got();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].msg, std::string(2047, 'x'));  // the buffer's last byte stays zero
  EXPECT_EQ(got[1].msg, "next");
}

TEST_F(LoggerTest, SuiteMessagesPassTheLevelTest) {
  const struct {
    TLogLevel logger;
    TLogLevel msg;
    bool delivered;
  } cases[] = {{llError, llVerbose, true},  {llError, llInfo, false},  {llError, llError, true},
               {llQuiet, llVerbose, false}, {llQuiet, llError, false}, {llInfo, llDebug, false}};
  for (const auto& c : cases) {
    got_.clear();
    logger_.SetLogLevel(c.logger);
    logger_.Log(nullptr, c.msg, "m");
    logger_.LogF(nullptr, c.msg, "n%d", 1);
    EXPECT_EQ(Got().size(), c.delivered ? 2u : 0u) << c.logger << " " << c.msg;
  }
}

TEST_F(LoggerTest, OptLogLevelTakesWordsAndNumbers) {
  logger_.OptLogLevel("WARNING");
  EXPECT_EQ(logger_.LogLevel(), llWarning);
  logger_.OptLogLevel("33");
  EXPECT_EQ(logger_.LogLevel(), llInfo);
  logger_.OptLogLevel("-100");
  EXPECT_EQ(logger_.LogLevel(), llQuiet);
  logger_.OptLogLevel("Debug");
  EXPECT_EQ(logger_.LogLevel(), llDebug);
  EXPECT_THROW(logger_.OptLogLevel("loud"), std::invalid_argument);
  EXPECT_THROW(logger_.OptLogLevel("12x"), std::invalid_argument);
}

TEST_F(LoggerTest, WorkerMessagesRunOnTheMainThreadWhenAsked) {
  logger_.SetTriggerEventInMainThread(true);
  std::atomic<bool> on_main{false};
  logger_.SetOnLog([&](runtime::TObject*, uint32_t, TLogLevel, const std::string&) {
    on_main = runtime::IsMainThread();
  });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    logger_.Log(nullptr, llError, "from worker");
    done = true;
  });
  while (!done) runtime::CheckSynchronize(10);
  worker.join();
  EXPECT_TRUE(on_main);
}

TEST(LoggerCurrent, AutoCreatedLoggerIsReplacedByTheApplicationsOwn) {
  TFFLogger& automatic = TFFLogger::Current();
  EXPECT_TRUE(automatic.AutoCreated());
  {
    TFFLogger mine;
    EXPECT_EQ(&TFFLogger::Current(), &mine);
    EXPECT_FALSE(mine.AutoCreated());
  }
  // With the application's logger gone, a new one is created on demand.
  EXPECT_TRUE(TFFLogger::Current().AutoCreated());
}

// Records events of several threads in the order they happen.
class EventOrder {
 public:
  void Add(const std::string& e) {
    std::lock_guard g(lock_);
    events_.push_back(e);
  }
  std::vector<std::string> Events() {
    std::lock_guard g(lock_);
    return events_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> events_;
};

// How a worker's message reaches the logger: a suite message or a library line.
struct DeliveryPath {
  const char* name;
  void (*log)();
};
const DeliveryPath kDeliveryPaths[] = {
    {"suite message", [] { TFFLogger::Post(nullptr, llError, "worker message"); }},
    {"library line", [] { ff::av_log(nullptr, AV_LOG_ERROR, "worker line\n"); }},
};

// The window owns its logger and destroys it on the main thread; its handler's data goes with
// the window. Destruction must wait for a delivery that is running the handler.
TEST(LoggerLifetime, DestructionWaitsForTheDeliveryInProgress) {
  ASSERT_TRUE(FFLoader().Load(avUtil)) << FFLoader().LastErrMsg();
  for (const DeliveryPath& path : kDeliveryPaths) {
    SCOPED_TRACE(path.name);
    EventOrder order;
    std::atomic<bool> entered{false}, release{false};
    auto logger = std::make_unique<TFFLogger>();
    logger->SetTriggerEventInMainThread(false);
    logger->SetOnLog([&](runtime::TObject*, uint32_t, TLogLevel, const std::string&) {
      entered = true;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      order.Add("handler returned");
    });
    std::thread worker(path.log);
    while (!entered) std::this_thread::yield();
    std::thread releaser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      order.Add("released");
      release = true;
    });
    logger.reset();
    order.Add("destroyed");
    releaser.join();
    worker.join();
    EXPECT_EQ(order.Events(),
              (std::vector<std::string>{"released", "handler returned", "destroyed"}));
  }
}

// A worker's line waits for the main thread to run the handler; the main thread destroys the
// logger meanwhile. The destructor serves the queue and no handler runs after it has returned.
TEST(LoggerLifetime, NoHandlerRunsAfterDestruction) {
  ASSERT_TRUE(FFLoader().Load(avUtil)) << FFLoader().LastErrMsg();
  for (const DeliveryPath& path : kDeliveryPaths) {
    SCOPED_TRACE(path.name);
    auto alive = std::make_shared<std::atomic<bool>>(true);
    std::atomic<int> late{0};
    auto logger = std::make_unique<TFFLogger>();
    logger->SetOnLog([&late, alive](runtime::TObject*, uint32_t, TLogLevel, const std::string&) {
      if (!*alive) ++late;
    });
    test::HangGuard guard("logger destruction against a waiting delivery");
    std::thread worker(path.log);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the line is queued
    logger.reset();
    *alive = false;
    while (runtime::CheckSynchronize(50)) {
    }
    worker.join();
    EXPECT_EQ(late, 0);
  }
}

// The application's logger replaces the automatic one while a library callback on a worker is
// inside the automatic one's handler: that delivery completes on a logger that still exists, and
// once the application's logger is gone the automatic one serves again, as if new.
TEST(LoggerLifetime, ReplacingTheAutomaticLoggerKeepsItsDeliveryAlive) {
  ASSERT_TRUE(FFLoader().Load(avUtil)) << FFLoader().LastErrMsg();
  TFFLogger& automatic = TFFLogger::Current();
  ASSERT_TRUE(automatic.AutoCreated());
  automatic.SetTriggerEventInMainThread(false);
  std::atomic<bool> entered{false}, release{false};
  std::atomic<int> calls{0};
  automatic.SetOnLog([&](runtime::TObject*, uint32_t, TLogLevel, const std::string&) {
    ++calls;
    entered = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  std::thread worker([] { ff::av_log(nullptr, AV_LOG_ERROR, "inside the automatic logger\n"); });
  while (!entered) std::this_thread::yield();
  {
    TFFLogger mine;
    EXPECT_EQ(&TFFLogger::Current(), &mine);
    release = true;
    worker.join();
    automatic.Log(nullptr, llError, "replaced: no handler");
  }
  EXPECT_EQ(calls, 1);
  TFFLogger& again = TFFLogger::Current();
  EXPECT_EQ(&again, &automatic);
  EXPECT_TRUE(again.AutoCreated());
  EXPECT_TRUE(again.TriggerEventInMainThread());
  again.Log(nullptr, llError, "no handler");
  EXPECT_EQ(calls, 1);
}

// Loggers come and go on the main thread while workers post suite messages and library lines
// through whichever is current, delivered on the workers and on the main thread by turns. No
// handler may run once its logger is destroyed.
TEST(LoggerLifetime, LoggersComeAndGoWhileWorkersLog) {
  ASSERT_TRUE(FFLoader().Load(avUtil)) << FFLoader().LastErrMsg();
  std::atomic<bool> stop{false};
  std::atomic<int> late{0}, delivered{0}, finished{0};
  constexpr int kWorkers = 3;
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&stop, &finished, w] {
      while (!stop) {
        if (w % 2 == 0)
          TFFLogger::Post(nullptr, llError, "worker message");
        else
          ff::av_log(nullptr, AV_LOG_ERROR, "worker line %d\n", w);
      }
      ++finished;
    });
  }
  test::HangGuard guard("loggers replaced while workers log");
  for (int i = 0; i < 200; ++i) {
    auto alive = std::make_shared<std::atomic<bool>>(true);
    {
      TFFLogger logger;
      logger.SetTriggerEventInMainThread(i % 2 == 0);
      logger.SetOnLog(
          [&late, &delivered, alive](runtime::TObject*, uint32_t, TLogLevel, const std::string&) {
            if (!*alive) ++late;
            ++delivered;
          });
      runtime::CheckSynchronize(1);
    }
    *alive = false;
    runtime::CheckSynchronize(0);
  }
  stop = true;
  while (finished < kWorkers) runtime::CheckSynchronize(1);
  for (std::thread& t : workers) t.join();
  EXPECT_EQ(late, 0);
  EXPECT_GT(delivered, 0);
}

}  // namespace
}  // namespace trelvix::media
