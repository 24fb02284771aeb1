// The video surface that the host paints.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "player/video_surface.h"

namespace trelvix::player {
namespace {

TEST(VideoSurfaceTest, ANewModeIsBlackAndBlitsAreClipped) {
  TVideoSurface s;
  EXPECT_FALSE(s.HasMode());
  EXPECT_TRUE(s.Snapshot().isNull());
  ASSERT_TRUE(s.SetMode(8, 4));
  EXPECT_EQ(s.Snapshot().pixel(3, 2), qRgb(0, 0, 0));
  std::vector<uint32_t> block(4 * 4, 0xff102030u);
  s.Blit(6, 2, 4, 4, reinterpret_cast<const uint8_t*>(block.data()), 16);  // half outside
  const QImage img = s.Snapshot();
  EXPECT_EQ(img.pixel(6, 2), 0xff102030u);
  EXPECT_EQ(img.pixel(7, 3), 0xff102030u);
  EXPECT_EQ(img.pixel(5, 2), qRgb(0, 0, 0));
  s.FillRect(QRect(-2, -2, 4, 4), qRgb(255, 255, 255));
  EXPECT_EQ(s.Snapshot().pixel(1, 1), qRgb(255, 255, 255));
  EXPECT_EQ(s.Snapshot().pixel(2, 2), qRgb(0, 0, 0));
  EXPECT_FALSE(s.SetMode(0, 4));
  EXPECT_EQ(s.Width(), 8);
}

TEST(VideoSurfaceTest, SnapshotsAreCopiesAndUpdatesAreCounted) {
  TVideoSurface s;
  ASSERT_TRUE(s.SetMode(2, 2));
  QImage before = s.Snapshot();
  std::atomic<int> calls{0};
  s.SetOnUpdate([&] { ++calls; });
  s.FillRect(QRect(0, 0, 2, 2), qRgb(9, 9, 9));
  s.Update();
  EXPECT_EQ(before.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(s.Snapshot().pixel(0, 0), qRgb(9, 9, 9));
  EXPECT_EQ(s.UpdateCount(), 1u);
  EXPECT_EQ(calls, 1);
  s.Reset();
  EXPECT_FALSE(s.HasMode());
}

}  // namespace
}  // namespace trelvix::player
