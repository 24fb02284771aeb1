// Joins of several inputs into one output: the audio the encoder has not taken yet at a seam goes
// on with the next input, and what is left at the end is written, whatever the inputs' frame
// sizes and rates.
#include <gtest/gtest.h>

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

class Join : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
  TempDir dir_;
};

const std::string& AudioClip(const std::string& codec, int rate, double seconds) {
  fixtures::ClipSpec s = fixtures::Preset("mkv");
  s.audio_codec = codec;
  s.sample_rate = rate;
  s.seconds = seconds;
  return ClipCache::Get().Clip(
      codec + "-" + std::to_string(rate) + "-" + std::to_string(seconds) + ".mkv", s);
}

TEST_F(Join, AudioLeftAtASeamGoesOnWithTheNextInput) {
  LogCapture log;
  struct Case {
    const char* name;
    const char* in_codec;
    int second_rate;  // sample rate of the second input (the first is 44100)
    const char* out_file;
    const char* acodec;
  };
  const Case cases[] = {
      {"mp2 into aac", "mp2", 44100, "mp2.mp4", "aac"},
      {"pcm into aac", "pcm_s16le", 44100, "pcm.mp4", "aac"},
      {"mp2 into mp2", "mp2", 44100, "mp2.mkv", "mp2"},
      {"rate change into aac", "mp2", 48000, "rates.mp4", "aac"},
      {"rate change into pcm", "pcm_s16le", 48000, "rates.mov", "pcm_s16le"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(AudioClip(c.in_codec, 44100, 1.0)));
    ASSERT_TRUE(e.OpenInputFile(AudioClip(c.in_codec, c.second_rate, 1.0)));
    ASSERT_TRUE(e.OpenInputFile(AudioClip(c.in_codec, 44100, 0.6)));
    const std::string out = dir_.File(c.out_file);
    e.SetOption("vcodec", "mpeg4");
    e.SetOption("acodec", c.acodec);
    e.SetOption("ar", "44100");
    ASSERT_EQ(e.OpenOutputFile(out, true), 3) << e.LastErrMsg();
    e.StartConvert(false);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    // The file is complete and holds the audio of all three inputs, in order of time.
    const fixtures::AudioSummary a = fixtures::DecodeAudio(out);
    EXPECT_NEAR(a.duration_s, 2.6, 0.1);
    EXPECT_NEAR(a.dominant_hz, 440.0, 5.0);
    int64_t last = INT64_MIN;
    for (const fixtures::PacketInfo& p : fixtures::ReadPackets(out)) {
      if (p.stream != 1 || p.dts_us == fixtures::kNoTime) continue;
      EXPECT_GT(p.dts_us, last);
      last = p.dts_us;
    }
    EXPECT_NEAR(last / 1e6, 2.6, 0.1);
  }
}

}  // namespace
}  // namespace trelvix::engine
