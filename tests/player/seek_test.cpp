// Seeking: by time while paused and playing, twice in a row, beyond the end, relative and by
// byte position.
#include <gtest/gtest.h>

#include <filesystem>

#include "player/player_test_util.h"

namespace trelvix::player::testing {
namespace {

class SeekTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadLibraries();
    UseDummyAudio();
  }
  std::string Clip(double seconds) {
    const std::string path = dir_.File("clip.mkv");
    fixtures::MakeClip(path, SmallClip(seconds));
    return path;
  }
  test::TempDir dir_;
  test::LogCapture log_;
};

TEST_F(SeekTest, SeekWhilePausedShowsThePictureAtTheNewPositionAndStaysPaused) {
  const std::string clip = Clip(2.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_GE(WaitForPicture(player), 0);
  player.Pause();
  ASSERT_TRUE(player.Paused());

  player.Seek(static_cast<int64_t>(1000000), 0, true);
  int64_t pts = -1;
  runtime::TBitmap* bmp = player.CurrentFrame(pts);
  EXPECT_NEAR(pts, 1000000, 1000);
  EXPECT_EQ(BitmapFrameNumber(bmp), 25);
  ASSERT_TRUE(PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) == 25; }));
  ASSERT_TRUE(PumpUntil([&] { return std::llabs(rec.LastPosition() - 1000000) <= 1000; }));

  PumpFor(300);  // still paused on that picture
  EXPECT_TRUE(player.Paused());
  EXPECT_EQ(SurfaceFrameNumber(player.Surface().Snapshot()), 25);
  EXPECT_NEAR(player.CurrentPTS(), 1000000, 1000);
  EXPECT_EQ(BitmapFrameNumber(player.CurrentFrame()), 25);
  player.Stop(true);
}

TEST_F(SeekTest, ASecondSeekBeforeTheFirstRanHasNoEffect) {
  const std::string clip = Clip(2.0);
  TFFPlayer player;
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_GE(WaitForPicture(player), 0);
  player.Pause();
  PumpFor(200);  // the reader idles, looking at its requests every 10 ms
  player.Seek(static_cast<int64_t>(1200000), 0, false);
  player.Seek(static_cast<int64_t>(400000), 0, false);
  ASSERT_TRUE(PumpUntil([&] { return !player.Seeking(); }));
  ASSERT_TRUE(PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) == 30; }))
      << SurfaceFrameNumber(player.Surface().Snapshot());
  PumpFor(100);
  EXPECT_EQ(SurfaceFrameNumber(player.Surface().Snapshot()), 30);
  player.Stop(true);
}

TEST_F(SeekTest, ASeekBeyondTheDurationGoesToTheDuration) {
  fixtures::ClipSpec spec = SmallClip(1.2);
  const std::string clip = dir_.File("end.mkv");
  fixtures::MakeClip(clip, spec);
  TFFPlayer player;
  TEventRecorder rec(player);
  int64_t duration = 0;
  player.SetOnFileOpen([&](TObject*, int64_t d, int, int, int&, int&) { duration = d; });
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_GE(WaitForPicture(player), 0);
  player.Seek(static_cast<int64_t>(60000000), 0, true);
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psEnd); }));
  ASSERT_TRUE(PumpUntil([&] { return rec.LastPosition() == duration; }));
  EXPECT_EQ(SurfaceFrameNumber(player.Surface().Snapshot()), fixtures::FrameCount(spec) - 1);
  player.Stop(true);
}

TEST_F(SeekTest, ARelativeSeekMovesFromTheCurrentPosition) {
  const std::string clip = Clip(2.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  ASSERT_TRUE(player.Open(clip, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psPause); }));
  player.Seek(0.8, 0, true);
  int64_t pts = -1;
  const int n = BitmapFrameNumber(player.CurrentFrame(pts));
  EXPECT_GE(n, 19);
  EXPECT_LE(n, 21);
  EXPECT_EQ(pts, n * 40000);
  EXPECT_TRUE(player.Paused());
  player.Stop(true);
}

TEST_F(SeekTest, ASeekByBytesLandsInsideTheFile) {
  fixtures::ClipSpec spec = SmallClip(2.0);
  spec.container = "mpegts";
  spec.video_codec = "mpeg2video";
  spec.audio_codec = "mp2";
  const std::string clip = dir_.File("clip.ts");
  fixtures::MakeClip(clip, spec);
  const auto size = static_cast<int64_t>(std::filesystem::file_size(clip));
  TFFPlayer player;
  TEventRecorder rec(player);
  ASSERT_TRUE(player.Open(clip, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psPause); }));
  EXPECT_EQ(player.seek_by_bytes(), 1);  // time stamps of this format may jump
  player.Seek(size / 2, sfByte, true);
  ASSERT_TRUE(PumpUntil([&] {
    const int n = SurfaceFrameNumber(player.Surface().Snapshot());
    return n >= 10 && n <= 40;
  })) << SurfaceFrameNumber(player.Surface().Snapshot());
  player.Stop(true);
}

}  // namespace
}  // namespace trelvix::player::testing
