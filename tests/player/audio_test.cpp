// The audio path: files without video, the waveform and spectrum, mute and volume, the audio
// hook, and audio from codecs that decode to floating point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

int CountPixels(const QImage& img, const std::function<bool(QRgb)>& pred) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (pred(img.pixel(x, y))) ++n;
  return n;
}

class AudioTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadLibraries(); }
  std::string AudioClip(double seconds, const std::string& codec = "pcm_s16le") {
    fixtures::ClipSpec spec = fixtures::AudioOnly("mkv", codec);
    spec.seconds = seconds;
    spec.tone_hz = 440.0;
    const std::string path = dir_.File("audio_" + codec + ".mkv");
    fixtures::MakeClip(path, spec);
    return path;
  }
  test::TempDir dir_;
  test::LogCapture log_;
};

TEST_F(AudioTest, AnAudioOnlyFileReportsTheAudioClockAndShowsTheWaveform) {
  const std::string clip = AudioClip(1.0);
  UseDummyAudio();
  TFFPlayer player;
  TEventRecorder rec(player);
  int64_t duration = 0;
  int frame_w = 0;
  player.SetOnFileOpen([&](TObject*, int64_t d, int w, int, int&, int&) {
    duration = d;
    frame_w = w;
  });
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_EQ(frame_w, -1);
  EXPECT_EQ(player.VideoStreamIndex(), -1);
  ASSERT_TRUE(PumpUntil([&] { return player.CurrentPTS() > 300000; }));
  const QImage wave = player.Surface().Snapshot();
  EXPECT_EQ(wave.size(), QSize(640, 480));
  const int white = CountPixels(wave, [](QRgb c) { return c == qRgb(255, 255, 255); });
  EXPECT_GT(white, 640 * 20);  // a tone fills the bars up and down around each channel's line
  int64_t pts = 0;
  runtime::TBitmap* bmp = player.CurrentFrame(pts);
  EXPECT_EQ(pts, -1);
  EXPECT_TRUE(bmp->Empty());

  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psEnd); }));
  ASSERT_TRUE(PumpUntil([&] { return rec.LastPosition() == duration; }))
      << rec.LastPosition() << " " << duration << " " << player.CurrentPTS();
  const auto pos = rec.Positions();
  EXPECT_TRUE(std::is_sorted(pos.begin(), pos.end()));
  EXPECT_GE(pos.size(), 10u);
  PumpFor(100);
  const auto states = rec.States();
  EXPECT_EQ(std::count(states.begin(), states.end(), psEnd), 1);  // once per reaching the end
  player.Stop(true);
}

TEST_F(AudioTest, TheSpectrumAndSwitchingTheVisualisationOff) {
  const std::string clip = AudioClip(1.5);
  UseDummyAudio();
  TFFPlayer player;
  player.SetShowAudio(saRDFT);
  player.SetScreenWidth(200);
  player.SetScreenHeight(100);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] {
    // Columns of colour: the tone's bin is bright, the rest dark.
    return CountPixels(player.Surface().Snapshot(), [](QRgb c) { return qRed(c) > 60; }) >= 5;
  }));
  player.ToggleAudioDisplay();  // spectrum -> none
  PumpFor(100);
  EXPECT_EQ(CountPixels(player.Surface().Snapshot(), [](QRgb c) { return c != qRgb(0, 0, 0); }), 0);
  player.ToggleAudioDisplay();  // none -> wave
  ASSERT_TRUE(PumpUntil([&] {
    return CountPixels(player.Surface().Snapshot(),
                       [](QRgb c) { return c == qRgb(255, 255, 255); }) > 200;
  }));
  player.Stop(true);
}

TEST_F(AudioTest, MutingWritesSilenceWhileTheClockRuns) {
  const std::string clip = AudioClip(0.6);
  const std::string raw = dir_.File("muted.raw");
  UseDiskAudio(raw);
  TFFPlayer player;
  TEventRecorder rec(player);
  player.SetMute(true);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psEnd); }));
  EXPECT_GE(rec.LastPosition(), 550000);
  player.Stop(true);
  const auto s = ReadS16(raw);
  EXPECT_GT(s.size(), 44100u);  // at least 0.5 s of stereo went out
  EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(AudioTest, TheVolumeScalesTheSamples) {
  const std::string clip = AudioClip(0.5);
  const std::string raw = dir_.File("half.raw");
  UseDiskAudio(raw);
  TFFPlayer player;
  TEventRecorder rec(player);
  player.SetAudioVolume(64);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psEnd); }));
  player.Stop(true);
  const auto s = ReadS16(raw);
  int peak = 0;
  for (int16_t v : s) peak = std::max(peak, std::abs(static_cast<int>(v)));
  // The tone's peak is half of full scale; half volume halves it again.
  EXPECT_NEAR(peak, 32767 / 4, 600);
}

TEST_F(AudioTest, TheHookSeesSigned16BitSamplesOfAFloatCodec) {
  const std::string clip = AudioClip(1.0, "aac");  // decodes to planar float
  UseDummyAudio();
  TFFPlayer player;
  std::mutex lock;
  std::vector<int16_t> samples;
  std::vector<int64_t> times;
  int rate = 0, channels = 0;
  player.SetAudioHook(true);
  player.SetOnAudioHook([&](TObject*, int64_t pts, uint8_t* data, int size, int r, int ch) {
    std::lock_guard g(lock);
    const auto* p = reinterpret_cast<const int16_t*>(data);
    samples.insert(samples.end(), p, p + size / 2);
    times.push_back(pts);
    rate = r;
    channels = ch;
  });
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] {
    std::lock_guard g(lock);
    return samples.size() > 44100;
  }));
  player.Stop(true);
  std::lock_guard g(lock);
  EXPECT_EQ(rate, 44100);
  EXPECT_EQ(channels, 2);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  EXPECT_NEAR(fixtures::DominantFrequencyS16(samples.data(), samples.size() / 2, 2, 44100), 440.0,
              2.0);
}

TEST_F(AudioTest, VideoAsTheMasterClockStillPlaysTheSoundThrough) {
  fixtures::ClipSpec spec = SmallClip(1.0);
  const std::string clip = dir_.File("av.mkv");
  fixtures::MakeClip(clip, spec);
  const std::string raw = dir_.File("video_master.raw");
  UseDiskAudio(raw);
  TFFPlayer player;
  TEventRecorder rec(player);
  player.Setav_sync_type(AV_SYNC_VIDEO_MASTER);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psEnd); }));
  player.Stop(true);
  const auto s = ReadS16(raw);
  const auto first = std::find_if(s.begin(), s.end(), [](int16_t v) { return v != 0; });
  ASSERT_NE(first, s.end());
  const auto last = std::find_if(s.rbegin(), s.rend(), [](int16_t v) { return v != 0; });
  const size_t frames = static_cast<size_t>(last.base() - first) / 2;
  // Corrections stretch or shorten by at most 10 %.
  EXPECT_NEAR(static_cast<double>(frames) / 44100.0, 1.0, 0.1);
  EXPECT_NEAR(fixtures::DominantFrequencyS16(&*first, frames, 2, 44100), 440.0, 3.0);
}

}  // namespace
}  // namespace trelvix::player::testing
