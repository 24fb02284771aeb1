#include <gtest/gtest.h>

#include <cstdlib>

#include "profile/progress_stats.h"

namespace trelvix::profile {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr int64_t kUsPerSecond = 1000000;

class ProgressStatsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("LC_ALL", "C", 1); }  // a locale with leading zeros
};

TEST_F(ProgressStatsTest, FirstEstimateComesWithTheSecondTick) {
  TProgressStatistics s;
  const double t0 = 45000.0;
  // 10 s of a 205 s clip converted per 3 s tick: 195 s left at 10/3 per second -> 58.5 s.
  s.Tick(t0, 10 * kUsPerSecond, 205 * kUsPerSecond);
  EXPECT_EQ(s.RemainingText(), "");
  s.Tick(t0 + 3 * kSecond, 20 * kUsPerSecond, 205 * kUsPerSecond);
  EXPECT_EQ(s.RemainingText(), "(-00:55)");
}

TEST_F(ProgressStatsTest, ConstantPositionGivesTheUnknownText) {
  TProgressStatistics s;
  for (int i = 0; i < 12; ++i)
    s.Tick(45000.0 + i * 3 * kSecond, 5 * kUsPerSecond, 100 * kUsPerSecond);
  EXPECT_EQ(s.SampleCount(), 10);
  EXPECT_EQ(s.RemainingText(), kUnknownRemaining);
}

TEST_F(ProgressStatsTest, EstimateUsesTheOldestOfTenSamples) {
  TProgressStatistics s;
  // A slow start then steady speed: after 12 ticks only the last 10 samples count (27 s).
  int64_t pos = 0;
  for (int i = 0; i < 12; ++i) {
    pos += (i < 2 ? 1 : 3) * kUsPerSecond;
    s.Tick(45000.0 + i * 3 * kSecond, pos, pos + 300 * kUsPerSecond);
  }
  // 27 s of wall time moved 27 s of media: 1x, so 300 s are left.
  EXPECT_EQ(s.RemainingText(), "(-05:00)");
}

TEST_F(ProgressStatsTest, RemainingTimeTexts) {
  EXPECT_EQ(RemainingTimeText((3 * 60 + 15) * 1000), "(-03:15)");
  EXPECT_EQ(RemainingTimeText((3600 + 3 * 60 + 15) * 1000), "(-01:03:15)");
  EXPECT_EQ(RemainingTimeText(int64_t{25} * 3600 * 1000), kUnknownRemaining);
  EXPECT_EQ(RemainingTimeText(-1), kUnknownRemaining);
}

TEST_F(ProgressStatsTest, PercentAndLine) {
  EXPECT_EQ(ProgressPercent(0, 1000000), 0);
  EXPECT_EQ(ProgressPercent(999999, 1000000), 99);
  EXPECT_EQ(ProgressPercent(5, 0), -1);
  EXPECT_EQ(ProgressLine("Progress: ", 42, "(-03:15)"), "Progress: 42% (-03:15)");
}

}  // namespace
}  // namespace trelvix::profile
