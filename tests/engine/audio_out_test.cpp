// Audio output in whole conversions: channel counts beyond the common layouts into planar
// encoders, and volume factors at the top of their range.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/engine_test_util.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using test::TempDir;
using testing::ClipCache;
using testing::TestEngine;

class AudioOut : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
  TempDir dir_;
};

TEST_F(AudioOut, ManyChannelsIntoPlanarEncoders) {
  LogCapture log;
  struct Case {
    int channels;
    const char* out_file;
    const char* acodec;
  };
  const Case cases[] = {{10, "ten.nut", "pcm_s16le_planar"},
                        {16, "sixteen.nut", "pcm_s24le_planar"},
                        {10, "ten-float.nut", "pcm_f32le"},
                        {12, "twelve.nut", "pcm_s32le_planar"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out_file);
    fixtures::ClipSpec s = fixtures::AudioOnly("mkv", "pcm_s16le");
    s.channels = c.channels;
    s.seconds = 1.0;
    const std::string in =
        ClipCache::Get().Clip("channels" + std::to_string(c.channels) + ".mkv", s);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(in));
    const std::string out = dir_.File(c.out_file);
    e.SetOption("acodec", c.acodec);
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    e.StartConvert(false);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    const fixtures::AudioSummary a = fixtures::DecodeAudio(out);
    EXPECT_EQ(a.channels, c.channels);
    EXPECT_NEAR(a.duration_s, 1.0, 0.05);
    EXPECT_NEAR(a.dominant_hz, 440.0, 5.0);
    // Every channel carries the tone: the mix keeps its level.
    EXPECT_NEAR(a.rms, 0.5 / std::sqrt(2.0), 0.05);
  }
}

// Volume factors scale and clip; the largest ones clip a tone to a square wave of the same
// frequency and sign.
TEST_F(AudioOut, LargeVolumesClipWithoutWrapping) {
  struct Case {
    int volume;
    double rms;
  };
  fixtures::ClipSpec s = fixtures::AudioOnly("mkv", "pcm_s16le");
  s.seconds = 1.0;
  const std::string in = ClipCache::Get().Clip("tone.mkv", s);
  for (const Case& c : {Case{256, 0.5 / std::sqrt(2.0)}, Case{512, 1.0 / std::sqrt(2.0)},
                        Case{65536, 1.0}, Case{1 << 20, 1.0}, Case{1 << 30, 1.0}}) {
    SCOPED_TRACE(c.volume);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(in));
    const std::string out = dir_.File("vol" + std::to_string(c.volume) + ".wav");
    e.SetOption("vol", std::to_string(c.volume));
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    e.StartConvert(false);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    const fixtures::DecodedAudio a = fixtures::DecodeAudioMono(out);
    const fixtures::DecodedAudio ref = fixtures::DecodeAudioMono(in);
    ASSERT_EQ(a.mono.size(), ref.mono.size());
    double sum = 0;
    int wrong_sign = 0;
    for (size_t i = 0; i < a.mono.size(); ++i) {
      sum += double(a.mono[i]) * a.mono[i];
      if (std::fabs(ref.mono[i]) > 0.01 && (a.mono[i] > 0) != (ref.mono[i] > 0)) ++wrong_sign;
    }
    EXPECT_EQ(wrong_sign, 0);
    EXPECT_NEAR(std::sqrt(sum / a.mono.size()), c.rms, 0.03);
  }
}

}  // namespace
}  // namespace trelvix::engine
