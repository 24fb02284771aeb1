// Video filter graphs and bitstream filters in whole conversions: one graph per output stream
// (several outputs, joins), filters that hold pictures back until the end, and bitstream filters
// that refuse the stream they are given.
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
using testing::ClipCache;
using testing::TestEngine;

class VideoFilters : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
  TempDir dir_;
};

// 1 s (25 frames) of mpeg4 video numbered from `first`.
const std::string& NumberedClip(int first) {
  fixtures::ClipSpec s = fixtures::VideoOnly("mkv", "mpeg4");
  s.seconds = 1.0;
  s.first_number = first;
  return ClipCache::Get().Clip("numbered" + std::to_string(first) + ".mkv", s);
}

std::vector<int> Numbers(const std::string& path) {
  std::vector<int> n;
  for (const fixtures::DecodedFrame& f : fixtures::DecodeVideoFrames(path)) n.push_back(f.number);
  return n;
}

std::vector<int> Range(int first, int count, int step = 1) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(first + i * step);
  return v;
}

TEST_F(VideoFilters, EveryVideoOutputHasItsOwnGraph) {
  struct Case {
    const char* name;
    bool join;
    const char* filters;
    std::vector<int> expected;  // frame numbers of each output
  };
  std::vector<int> joined = Range(0, 25);
  const std::vector<int> second = Range(100, 25);
  joined.insert(joined.end(), second.begin(), second.end());
  const Case cases[] = {
      {"two outputs", false, "hflip,hflip", Range(0, 25)},
      {"join", true, "null", joined},
      {"join with a size change", true, "scale=160:120", joined},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(NumberedClip(0)));
    if (c.join) {
      ASSERT_TRUE(e.OpenInputFile(NumberedClip(100)));
    }
    std::vector<std::string> outs;
    for (int i = 0; i < (c.join ? 1 : 2); ++i) {
      outs.push_back(dir_.File(std::string(c.name) + std::to_string(i) + ".mkv"));
      e.SetOption("vcodec", "mpeg4");
      e.SetOption("qscale", "3");
      e.SetOption("vf", c.filters);
      ASSERT_GT(e.OpenOutputFile(outs.back(), c.join), 0) << e.LastErrMsg();
    }
    e.StartConvert(false);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    for (const std::string& out : outs) {
      std::vector<int> got = Numbers(out);
      // The seam of a join may repeat one picture.
      got.erase(std::unique(got.begin(), got.end()), got.end());
      EXPECT_EQ(got, c.expected) << out;
    }
  }
}

// Filters that give their pictures only at the end of the input are drained, also at the seam of
// a join.
TEST_F(VideoFilters, PicturesHeldBackByAFilterAreEncodedAtTheEnd) {
  struct Case {
    const char* name;
    bool join;
    std::vector<int> expected;
  };
  std::vector<int> joined = Range(24, 25, -1);
  const std::vector<int> second = Range(124, 25, -1);
  joined.insert(joined.end(), second.begin(), second.end());
  for (const Case& c : {Case{"one input", false, Range(24, 25, -1)}, Case{"join", true, joined}}) {
    SCOPED_TRACE(c.name);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(NumberedClip(0)));
    if (c.join) {
      ASSERT_TRUE(e.OpenInputFile(NumberedClip(100)));
    }
    const std::string out = dir_.File(std::string("reversed-") + c.name + ".mkv");
    e.SetOption("vcodec", "mpeg4");
    e.SetOption("qscale", "3");
    e.SetOption("vf", "reverse");
    ASSERT_GT(e.OpenOutputFile(out, c.join), 0) << e.LastErrMsg();
    e.StartConvert(false);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    std::vector<int> got = Numbers(out);
    got.erase(std::unique(got.begin(), got.end()), got.end());
    EXPECT_EQ(got, c.expected);
  }
}

// A bitstream filter that cannot take the stream fails the conversion before anything is
// written, with a message that names it, and leaves no file.
TEST_F(VideoFilters, ABitstreamFilterThatRefusesTheStreamFailsTheSetUp) {
  LogCapture log;
  log.Allow("not supported by the bitstream filter|failed for stream");
  struct Case {
    const char* option;
    const char* filter;
    const char* vcodec;
    const char* message;
  };
  const Case cases[] = {
      {"vbsf", "h264_mp4toannexb", "mpeg4", "h264_mp4toannexb failed for stream 0, codec mpeg4"},
      {"vbsf", "hevc_mp4toannexb", "copy", "hevc_mp4toannexb failed for stream 0, codec copy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(NumberedClip(0)));
    const std::string out = dir_.File(std::string("bsf-") + c.filter + ".mkv");
    e.SetOption("vcodec", c.vcodec);
    e.SetOption(c.option, c.filter);
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    e.StartConvert(false);
    EXPECT_FALSE(e.Finished());
    EXPECT_TRUE(e.FatalException());
    EXPECT_NE(e.FatalMessage().find(c.message), std::string::npos) << e.FatalMessage();
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

// A bitstream filter that changes the stream's parameters gives them to the muxer, and what it
// holds back at the end is written.
TEST_F(VideoFilters, BitstreamFiltersGiveTheirParametersAndLastPacketsToTheMuxer) {
  const std::string in = dir_.File("h264.mp4");
  fixtures::ClipSpec s = fixtures::VideoOnly("mp4", "libx264");
  s.seconds = 1.0;
  fixtures::MakeClip(in, s);
  const std::string out = dir_.File("annexb.ts");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(in));
  e.SetOption("vcodec", "copy");
  e.SetOption("vbsf", "h264_mp4toannexb");
  ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  e.StartConvert(false);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_EQ(Numbers(out), Range(0, 25));
}

}  // namespace
}  // namespace trelvix::engine
