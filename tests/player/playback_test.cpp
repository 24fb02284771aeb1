// Playing files to their end: states, positions, the pictures shown and the sound that reached
// the audio device.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "player/player_test_util.h"

namespace trelvix::player::testing {
namespace {

std::vector<int16_t> ReadS16(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

class PlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadLibraries(); }
  test::TempDir dir_;
  test::LogCapture log_;
};

TEST_F(PlaybackTest, PlaysToTheEndWithPositionsStatesAndSound) {
  const std::string clip = dir_.File("clip.mkv");
  fixtures::ClipSpec spec = SmallClip(1.2);
  fixtures::MakeClip(clip, spec);
  const std::string raw = dir_.File("audio.raw");
  UseDiskAudio(raw);

  TFFPlayer player;
  TEventRecorder rec(player);
  int64_t opened_duration = -2;
  int opened_w = 0, opened_h = 0;
  player.SetOnFileOpen([&](TObject*, int64_t d, int w, int h, int&, int&) {
    opened_duration = d;
    opened_w = w;
    opened_h = h;
  });
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_EQ(opened_w, 320);
  EXPECT_EQ(opened_h, 240);
  EXPECT_NEAR(opened_duration, 1200000, 50000);
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psEnd); }, 6000));
  // The final position comes with or shortly after the end.
  ASSERT_TRUE(PumpUntil([&] { return rec.LastPosition() == opened_duration; }, 2000))
      << rec.LastPosition();
  // The last picture is on screen.
  const QImage img = player.Surface().Snapshot();
  EXPECT_EQ(img.width(), 320);
  EXPECT_EQ(SurfaceFrameNumber(img), fixtures::FrameCount(spec) - 1);
  player.Stop(true);
  EXPECT_FALSE(player.Playing());

  const std::vector<TPlayState> states = rec.States();
  for (TPlayState s : states) std::printf("state %d\n", s);
  ASSERT_GE(states.size(), 3u);
  EXPECT_EQ(states.front(), psPlay);
  EXPECT_EQ(states[states.size() - 2], psEnd);
  EXPECT_EQ(states.back(), psStop);
  const std::vector<int64_t> pos = rec.Positions();
  ASSERT_GE(pos.size(), 5u);
  EXPECT_TRUE(std::is_sorted(pos.begin(), pos.end()));
  EXPECT_EQ(pos.back(), opened_duration);

  // The sound that reached the device: the clip's tone, as long as the clip.
  const std::vector<int16_t> s = ReadS16(raw);
  const auto first = std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; });
  const auto last = std::find_if(s.rbegin(), s.rend(), [](int16_t v) { return v != 0; });
  ASSERT_NE(first, s.end());
  const size_t frames = static_cast<size_t>((last.base() - first)) / 2;
  EXPECT_NEAR(static_cast<double>(frames) / 44100.0, 1.2, 0.05);
  EXPECT_NEAR(fixtures::DominantFrequencyS16(&*first, frames, 2, 44100), 440.0, 2.0);
}

}  // namespace
}  // namespace trelvix::player::testing
