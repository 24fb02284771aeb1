// Targets: VCD, SVCD, DVD and DV settings by norm, norm detection and the aspect defaults.
#include <gtest/gtest.h>

#include "engine/engine_test_util.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using testing::TestEngine;

class Targets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
};

struct TargetCase {
  const char* value;
  const char* format;
  int width, height;
  AVRational rate;
  int gop;  // 0: unchanged
  const char* vcodec;
  const char* acodec;
  int sample_rate;
  int64_t bit_rate;  // 0: unchanged
  int pix_fmt;       // -1: unchanged
  float aspect;      // 0: unchanged
};

void PrintTo(const TargetCase& c, std::ostream* os) {
  *os << c.value;
}

class TargetTable : public Targets, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TargetTable, Settings) {
  const TargetCase& c = GetParam();
  LogCapture log;
  TestEngine e;
  const int gop_before = e.OptionContext(AVMEDIA_TYPE_VIDEO)->gop_size;
  e.SetOption("target", c.value);
  EXPECT_EQ(e.Flast_asked_format, c.format);
  EXPECT_EQ(e.Fframe_width, c.width);
  EXPECT_EQ(e.Fframe_height, c.height);
  EXPECT_EQ(e.Fframe_rate.num, c.rate.num);
  EXPECT_EQ(e.Fframe_rate.den, c.rate.den);
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->gop_size, c.gop ? c.gop : gop_before);
  EXPECT_EQ(e.Fvideo_codec_name, c.vcodec);
  EXPECT_EQ(e.Faudio_codec_name, c.acodec);
  EXPECT_EQ(e.Faudio_sample_rate, c.sample_rate);
  EXPECT_EQ(e.Faudio_channels, 2);
  if (c.bit_rate) {
    EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->bit_rate, c.bit_rate);
  }
  EXPECT_EQ(e.Fframe_pix_fmt, c.pix_fmt);
  EXPECT_FLOAT_EQ(e.Fframe_aspect_ratio, c.aspect);
}

const AVRational kPal{25, 1}, kNtsc{30000, 1001}, kFilm{24000, 1001};

INSTANTIATE_TEST_SUITE_P(
    Table, TargetTable,
    ::testing::Values(
        TargetCase{"pal-vcd", "vcd", 352, 288, kPal, 15, "mpeg1video", "mp2", 44100, 1150000, -1,
                   4.0f / 3},
        TargetCase{"ntsc-vcd", "vcd", 352, 240, kNtsc, 18, "mpeg1video", "mp2", 44100, 1150000, -1,
                   4.0f / 3},
        TargetCase{"pal-svcd", "svcd", 480, 576, kPal, 15, "mpeg2video", "mp2", 44100, 2040000, -1,
                   4.0f / 3},
        TargetCase{"ntsc-svcd", "svcd", 480, 480, kNtsc, 18, "mpeg2video", "mp2", 44100, 2040000,
                   -1, 4.0f / 3},
        TargetCase{"pal-dvd", "dvd", 720, 576, kPal, 15, "mpeg2video", "ac3", 48000, 6000000, -1,
                   16.0f / 9},
        TargetCase{" ntsc-dvd ", "dvd", 720, 480, kNtsc, 18, "mpeg2video", "ac3", 48000, 6000000,
                   -1, 16.0f / 9},
        TargetCase{"film-dvd", "dvd", 720, 480, kFilm, 18, "mpeg2video", "ac3", 48000, 6000000, -1,
                   16.0f / 9},
        TargetCase{"pal-dv", "dv", 720, 576, kPal, 0, "", "", 48000, 0, AV_PIX_FMT_YUV420P, 0},
        TargetCase{"ntsc-dv", "dv", 720, 480, kNtsc, 0, "", "", 48000, 0, AV_PIX_FMT_YUV411P, 0},
        TargetCase{"film-dv50", "dv", 720, 480, kFilm, 0, "", "", 48000, 0, AV_PIX_FMT_YUV422P,
                   0}));

TEST_F(Targets, RateAndMuxerSettings) {
  LogCapture log;
  TestEngine vcd;
  vcd.SetOption("target", "pal-vcd");
  EXPECT_FLOAT_EQ(vcd.Fmux_preload, 0.44f);
  EXPECT_EQ(vcd.Fmuxer_opts, (std::vector<TOptionPair>{{"muxrate", "1411200"}}));
  EXPECT_EQ(vcd.Options().avformat_opts->packet_size, 2324u);
  EXPECT_EQ(vcd.OptionContext(AVMEDIA_TYPE_VIDEO)->rc_min_rate, 1150000);
  EXPECT_EQ(vcd.OptionContext(AVMEDIA_TYPE_VIDEO)->rc_buffer_size, 327680);
  EXPECT_EQ(vcd.OptionContext(AVMEDIA_TYPE_AUDIO)->bit_rate, 224000);
  EXPECT_TRUE(log.Contains("Assuming 4:3 for aspect ratio"));

  TestEngine svcd;
  svcd.SetOption("target", "pal-svcd");
  EXPECT_EQ(svcd.Fencoder_opts[mkVideo], (std::vector<TOptionPair>{{"scan_offset", "1"}}));
  EXPECT_EQ(svcd.OptionContext(AVMEDIA_TYPE_VIDEO)->rc_max_rate, 2516000);

  TestEngine dvd;
  dvd.SetOption("target", "pal-dvd");
  EXPECT_EQ(dvd.Fmuxer_opts, (std::vector<TOptionPair>{{"muxrate", "10080000"}}));
  EXPECT_EQ(dvd.OptionContext(AVMEDIA_TYPE_AUDIO)->bit_rate, 448000);
  EXPECT_EQ(dvd.Options().avformat_opts->packet_size, 2048u);
  EXPECT_TRUE(log.Contains("Assuming 16:9 for aspect ratio"));
}

TEST_F(Targets, ChannelsAndAspect) {
  struct Case {
    const char* target;
    int channels_before, channels_after;
  };
  for (const Case& c : {Case{"pal-svcd", 1, 2}, Case{"pal-dvd", 1, 2}, Case{"pal-dvd", 6, 6},
                        Case{"pal-vcd", 6, 2}, Case{"pal-dv", 1, 2}}) {
    TestEngine e;
    e.SetOption("ac", std::to_string(c.channels_before));
    e.SetOption("aspect", "2.21");  // already set: kept
    e.SetOption("target", c.target);
    EXPECT_EQ(e.Faudio_channels, c.channels_after) << c.target;
    EXPECT_FLOAT_EQ(e.Fframe_aspect_ratio, 2.21f) << c.target;
  }
}

TEST_F(Targets, NormFromTheFrameRateAndTheInputs) {
  struct Case {
    const char* rate;  // nullptr: an opened 29.97 fps input sets it
    const char* fallback;
    const char* assumed;  // in the log
    int height;
  };
  const Case cases[] = {
      {"25", "ntsc", "PAL", 576},         {"30000/1001", "pal", "NTSC", 480},
      {"24000/1001", "pal", "NTSC", 480}, {nullptr, "pal", "NTSC", 480},
      {"50", "pal", "PAL", 576},          {"50", "ntsc", "NTSC", 480},
      {"50", "film", "NTSC", 480},
  };
  for (const Case& c : cases) {
    LogCapture log;
    TestEngine e;
    if (c.rate)
      e.SetOption("r", c.rate);
    else
      ASSERT_TRUE(e.OpenInputFile(testing::NtscClip())) << e.LastErrMsg();
    e.SetTarget("dvd", "auto", c.fallback);
    EXPECT_TRUE(log.Contains(std::string("Assuming ") + c.assumed + " for target."))
        << (c.rate ? c.rate : "input");
    EXPECT_EQ(e.Fframe_height, c.height);
    if (std::string(c.fallback) == "film" && !c.rate) {
      EXPECT_EQ(e.Fframe_rate.num, 24000);
    }
  }
}

TEST_F(Targets, AnInputDecidesWhenTheRateDoesNot) {
  // The pending rate (50 fps) matches no norm; the opened 29.97 fps input does.
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::NtscClip())) << e.LastErrMsg();
  e.SetOption("r", "50");
  e.SetTarget("svcd", "auto", "pal");
  EXPECT_EQ(e.Fframe_height, 480);
  EXPECT_EQ(e.Fframe_rate.num, 30000);
}

TEST_F(Targets, QuietWhenVerboseIsOff) {
  LogCapture log;
  TestEngine e;
  e.SetVerbose(0);
  e.SetOption("r", "25");
  e.SetOption("target", "dvd");
  EXPECT_FALSE(log.Contains("for target."));
}

TEST_F(Targets, Failures) {
  TestEngine e;
  try {
    e.SetTarget("dvd", "auto", "pal");
    ADD_FAILURE() << "no exception";
  } catch (const FFmpegException& x) {
    EXPECT_STREQ(x.what(), "frame_rate is invalid.");
  }
  for (const char* bad : {"pal-bluray", "cd", ""}) {
    try {
      e.SetOption("target", bad);
      ADD_FAILURE() << "no exception for " << bad;
    } catch (const FFmpegException& x) {
      EXPECT_STREQ(x.what(), "Unknown target type");
    }
  }
  EXPECT_TRUE(e.Flast_asked_format.empty());
  EXPECT_EQ(e.Fframe_width, 0);
}

}  // namespace
}  // namespace trelvix::engine
