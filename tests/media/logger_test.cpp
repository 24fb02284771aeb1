#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

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

}  // namespace
}  // namespace trelvix::media
