// Damaged inputs: good clips in five containers, damaged as a bad disk or a broken copy leaves
// them (flipped bytes, a zeroed block, a repeated block), are converted as the iPhone profile
// converts. Each conversion ends with a file that decodes and holds about what the good file
// holds, or fails with a message and leaves no file. What is checked is the work done (frames
// and duration written); the test's time-out only catches a hang.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine_test_util.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using test::TempDir;
using testing::TestEngine;

struct Container {
  const char* name;
  fixtures::ClipSpec spec;
};

std::ostream& operator<<(std::ostream& os, const Container& c) {
  return os << c.name;
}

std::vector<Container> Containers() {
  const auto clip = [](const char* container, const char* video, const char* audio) {
    fixtures::ClipSpec s;
    s.container = container;
    s.video_codec = video;
    s.audio_codec = audio;
    s.seconds = 6.0;
    s.gop = 25;
    s.video_bit_rate = 800000;
    return s;
  };
  fixtures::ClipSpec ts = clip("mpegts", "libx264", "aac");
  ts.seconds = 10.0;  // flipped bytes hit enough time stamps
  ts.video_bit_rate = 0;
  return {{"mpegts", ts},
          {"mkv", clip("matroska", "libx264", "aac")},
          {"webm", clip("webm", "libvpx", "libvorbis")},
          {"avi", clip("avi", "mpeg4", "libmp3lame")},
          {"mp4", clip("mp4", "libx264", "aac")}};
}

struct Outcome {
  bool finished = false;
  std::string message;
};

// Converts with the iPhone profile's settings; `input_options` are set before the input opens.
Outcome Convert(const std::string& in, const std::string& out,
                const std::vector<TOptionPair>& input_options = {}) {
  TestEngine e;
  for (const auto& [name, value] : input_options) e.SetOption(name, value);
  if (!e.OpenInputFile(in)) return {false, e.LastErrMsg()};
  e.SetOption("f", "ipod");
  e.SetOption("vcodec", "libx264");
  e.SetOption("acodec", "aac");
  e.SetOption("s", "480x320");
  e.SetOption("r", "25");
  e.SetOption("b", "400000");
  e.SetOption("ab", "96000");
  e.SetOption("ac", "2");
  e.ApplyPreset("vpre", "fastfirstpass");
  e.SetSubtitleDisable(true);
  if (e.OpenOutputFile(out) < 0) return {false, e.LastErrMsg()};
  e.StartConvert(false);
  return {e.Finished() && !e.FatalException(), e.FatalMessage()};
}

struct Result {
  size_t frames = 0;
  double video_s = 0;
  double audio_s = 0;
};

// What the output holds, read back; decoding errors fail the test (the log capture).
Result ReadBack(const std::string& out) {
  LogCapture decode_errors;
  Result r;
  const auto frames = fixtures::DecodeVideoFrames(out);
  r.frames = frames.size();
  if (!frames.empty()) r.video_s = (frames.back().pts_us - frames.front().pts_us) / 1e6 + 0.04;
  r.audio_s = fixtures::DecodeAudio(out).duration_s;
  return r;
}

class DamagedInput : public ::testing::TestWithParam<Container> {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
  TempDir dir_;
};

TEST_P(DamagedInput, ConvertsToAPlayableFileOrFailsCleanly) {
  const Container& c = GetParam();
  const std::string good = dir_.File(std::string("good-input.") + c.name);
  fixtures::MakeClip(good, c.spec);
  const Result ref = [&] {
    const std::string out = dir_.File("good.mp4");
    const Outcome o = Convert(good, out);
    EXPECT_TRUE(o.finished) << o.message;
    return ReadBack(out);
  }();
  ASSERT_EQ(static_cast<int>(ref.frames), fixtures::FrameCount(c.spec));

  const auto size = static_cast<int64_t>(std::filesystem::file_size(good));
  struct Damage {
    const char* name;
    fixtures::DamageSpec spec;
    bool converts = false;  // the damage leaves enough to convert: failing is not an option
  };
  const auto flip = [](uint64_t seed) {
    return fixtures::DamageSpec{.kind = fixtures::DamageKind::FlipBytes,
                                .fraction = 0.002,
                                .keep_head = 4096,
                                .seed = seed};
  };
  const Damage damages[] = {
      {"flipped bytes, seed 1", flip(1)},
      {"flipped bytes, seed 4", flip(4)},
      {"flipped bytes, seed 7", flip(7)},
      {"zeroed block",
       {.kind = fixtures::DamageKind::ZeroBlock, .block = size / 20, .where = 0.5},
       true},
      {"repeated block",
       {.kind = fixtures::DamageKind::RepeatBlock, .block = size / 20, .where = 0.5},
       true},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    const std::string in = dir_.File(std::string("damaged-input.") + c.name);
    fixtures::MakeDamagedCopy(good, in, d.spec);
    const std::string out = dir_.File("damaged.mp4");
    std::filesystem::remove(out);
    Outcome o;
    {
      LogCapture conversion;
      conversion.Allow(".");  // the damage itself is reported while decoding
      o = Convert(in, out);
    }
    // An mp4 file finds its packets by byte offsets: a block moved by the damage leaves them
    // pointing elsewhere, and refusing the file is fair.
    EXPECT_TRUE(o.finished || !d.converts || std::string(c.name) == "mp4") << o.message;
    if (!o.finished) {
      // A failure says why and leaves nothing behind.
      EXPECT_FALSE(o.message.empty());
      EXPECT_FALSE(std::filesystem::exists(out)) << o.message;
      continue;
    }
    const Result r = ReadBack(out);
    // About what the good file holds: pictures and sound in damaged packets are lost, nothing
    // is invented (no run of repeated pictures, no time line longer than the input's).
    EXPECT_GE(r.frames, ref.frames / 2);
    EXPECT_LE(r.frames, ref.frames * 11 / 10);
    EXPECT_GE(r.video_s, ref.video_s * 0.5);
    EXPECT_LE(r.video_s, ref.video_s * 1.1);
    EXPECT_GT(r.audio_s, 0.0);
    EXPECT_LE(r.audio_s, ref.audio_s * 1.1);
  }
}

// A stream whose picture format or size the probe did not find (a damaged or short header) is
// converted with what its first decoded picture shows.
TEST_P(DamagedInput, StreamsKnownOnlyFromTheirFirstPictureAreConverted) {
  const Container& c = GetParam();
  const std::string in = dir_.File(std::string("input.") + c.name);
  fixtures::MakeClip(in, c.spec);
  const std::string out = dir_.File("out.mp4");
  LogCapture log;
  log.Allow(".");  // the short probe complains
  const Outcome o = Convert(in, out, {{"probesize", "32"}, {"analyzeduration", "0"}});
  ASSERT_TRUE(o.finished) << o.message;
  const Result r = ReadBack(out);
  EXPECT_EQ(static_cast<int>(r.frames), fixtures::FrameCount(c.spec));
  EXPECT_NEAR(r.audio_s, c.spec.seconds, 0.3);
  const fixtures::MediaSummary m = fixtures::ProbeFile(out);
  ASSERT_NE(m.Video(), nullptr);
  EXPECT_EQ(m.Video()->width, 480);
}

// An output left without any stream (none of the input's kinds is wanted, or none was found) is a
// failure that says so, and no file is left.
TEST(NoStreams, AnOutputWithoutStreamsFailsAndLeavesNoFile) {
  testing::LoadLibraries();
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<TOptionPair> options;
    const char* out;
  };
  const Case cases[] = {
      {"every kind disabled", {{"vn", "1"}, {"an", "1"}, {"sn", "1"}}, "none.mp4"},
      {"video only into an audio format", {{"vn", "1"}}, "none.mp3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    log.Allow("does not contain any stream");
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
    for (const auto& [name, value] : c.options) e.SetOption(name, value);
    const std::string out = dir.File(c.out);
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    e.StartConvert(false);
    EXPECT_FALSE(e.Finished());
    EXPECT_EQ(e.FatalMessage(), "Output file #0 does not contain any stream");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedInput, ::testing::ValuesIn(Containers()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace trelvix::engine
