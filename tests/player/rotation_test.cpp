// A phone clip whose display matrix turns the picture is shown upright.
#include <gtest/gtest.h>

#include <QTransform>

#include "fixtures/tracks.h"
#include "player/player_test_util.h"

namespace trelvix::player::testing {
namespace {

class TurnedClip : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    LoadLibraries();
    UseDummyAudio();
  }
  test::TempDir dir_;
  test::LogCapture log_;
};

TEST_P(TurnedClip, IsShownUprightWithItsTrueShape) {
  const int turn = GetParam();
  const std::string clip = dir_.File("phone.mp4");
  fixtures::MakeRotatedClip(clip, turn,
                            {.container = "mp4",
                             .video_codec = "mpeg4",
                             .width = 320,
                             .height = 180,
                             .seconds = 1.0,
                             .gop = 1});
  TFFPlayer player;
  player.SetScreenWidth(320);
  player.SetScreenHeight(320);
  ASSERT_TRUE(player.Open(clip, nullptr, true)) << player.LastErrMsg();
  QImage img;
  ASSERT_TRUE(PumpUntil([&] {
    img = player.Surface().Snapshot();
    return !img.isNull() && !PictureRect(img).isEmpty();
  }));
  // The player's copy of the picture on screen is upright too.
  const runtime::TBitmap* current = player.CurrentFrame();
  ASSERT_NE(current, nullptr);
  const QImage current_image = current->ToImage();
  player.Stop(true);
  EXPECT_EQ(current_image.width(), 180);
  EXPECT_EQ(current_image.height(), 320);
  EXPECT_GE(SurfaceFrameNumber(current_image.transformed(QTransform().rotate(-turn))
                                   .convertToFormat(QImage::Format_ARGB32)),
            0);
  // A 16:9 picture turned by a quarter is 9:16: 180x320 in the square surface.
  const QRect r = PictureRect(img);
  EXPECT_NEAR(r.width(), 180, 4);
  EXPECT_NEAR(r.height(), 320, 4);
  // Turned back by the stored turn, the stored picture's pattern reads; as shown it does not.
  const QImage shown = img.copy(r);
  const QImage back =
      shown.transformed(QTransform().rotate(-turn)).convertToFormat(QImage::Format_ARGB32);
  EXPECT_GE(SurfaceFrameNumber(back), 0);
  EXPECT_LT(SurfaceFrameNumber(shown.convertToFormat(QImage::Format_ARGB32)), 0);
}

INSTANTIATE_TEST_SUITE_P(QuarterTurns, TurnedClip, ::testing::Values(90, 270));

}  // namespace
}  // namespace trelvix::player::testing
