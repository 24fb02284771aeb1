// The job's option state: defaults, the command-option table with its value forms and messages,
// the guarded setters, and the option set with its encoder and muxer option lists.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <thread>

#include "engine/engine_test_util.h"
#include "engine/ffmpeg_messages.h"
#include "media/ff_log.h"
#include "support/log_capture.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using testing::TestEngine;

class EngineOptions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
};

std::string Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const FFmpegException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

TEST_F(EngineOptions, DefaultsAreRestoredByResetState) {
  TestEngine e;
  for (auto [n, v] : std::vector<std::pair<const char*, const char*>>{{"ar", "22050"},
                                                                      {"ac", "1"},
                                                                      {"aq", "3"},
                                                                      {"vsync", "0"},
                                                                      {"v", "0"},
                                                                      {"muxpreload", "2"},
                                                                      {"t", "5"},
                                                                      {"dc", "10"},
                                                                      {"top", "1"},
                                                                      {"vol", "100"},
                                                                      {"vframes", "3"},
                                                                      {"pix_fmt", "rgb24"},
                                                                      {"sample_fmt", "s16"},
                                                                      {"threads", "4"},
                                                                      {"vcodec", "mpeg4"},
                                                                      {"vlang", "eng"},
                                                                      {"s", "640x480"},
                                                                      {"b", "300000"}})
    e.SetOption(n, v);
  e.ResetState();
  EXPECT_EQ(e.Faudio_sample_rate, 44100);
  EXPECT_EQ(e.Faudio_channels, 2);
  EXPECT_FLOAT_EQ(e.Faudio_qscale, -99999.0f);
  EXPECT_EQ(e.Fvideo_sync_method, -1);
  EXPECT_EQ(e.Faudio_sync_method, 0);
  EXPECT_EQ(e.Fverbose, 1);
  EXPECT_FLOAT_EQ(e.Fmux_preload, 0.5f);
  EXPECT_FLOAT_EQ(e.Fmux_max_delay, 0.7f);
  EXPECT_EQ(e.Frecording_time, INT64_MAX);
  EXPECT_EQ(e.TotalOutputDuration(), -1);
  EXPECT_EQ(e.Fintra_dc_precision, 8);
  EXPECT_EQ(e.Ftop_field_first, -1);
  EXPECT_EQ(e.Floop_output, -1);
  EXPECT_EQ(e.Faudio_volume, 256);
  for (int m : e.Fmax_frames) EXPECT_EQ(m, INT32_MAX);
  EXPECT_EQ(e.Fframe_pix_fmt, -1);
  EXPECT_EQ(e.Faudio_sample_fmt, -1);
  EXPECT_EQ(e.Fthread_count, 0);  // the libraries choose
  EXPECT_EQ(e.Fsws_flags, SWS_BICUBIC);
  EXPECT_FLOAT_EQ(e.Fdts_delta_threshold, 10.0f);
  EXPECT_FLOAT_EQ(e.Faudio_drift_threshold, 0.1f);
  EXPECT_EQ(e.Fframe_width, 0);
  EXPECT_EQ(e.Fframe_rate.num, 0);
  EXPECT_EQ(e.Fframe_rate.den, 0);
  EXPECT_TRUE(e.Fvideo_codec_name.empty());
  EXPECT_TRUE(e.Fvideo_language.empty());
  EXPECT_EQ(e.MaxFiles(), 20);
  EXPECT_EQ(e.ReportInterval, 500000);
  EXPECT_EQ(e.PreviewInterval, 100000);
  EXPECT_EQ(e.VideoHookBitsPixel(), 24);
  // The option set was renewed: the bit rate set before is gone.
  int64_t b = -1;
  ASSERT_GE(ff::av_opt_get_int(e.OptionContext(AVMEDIA_TYPE_VIDEO), "b", 0, &b), 0);
  EXPECT_NE(b, 300000);
}

struct Effect {
  const char* name;
  const char* value;
  std::function<bool(TestEngine&)> holds;
};

void PrintTo(const Effect& c, std::ostream* os) {
  *os << c.name << "=" << c.value;
}

class OptionEffect : public EngineOptions, public ::testing::WithParamInterface<Effect> {};

TEST_P(OptionEffect, SetsTheState) {
  TestEngine e;
  e.SetOption("s", "320x240");
  e.SetOption(GetParam().name, GetParam().value);
  EXPECT_TRUE(GetParam().holds(e));
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionEffect,
    ::testing::Values(
        Effect{"dump", "0", [](TestEngine& e) { return !e.Fdo_pkt_dump; }},
        Effect{"dump", "false", [](TestEngine& e) { return e.Fdo_pkt_dump; }},
        Effect{"hex", "1", [](TestEngine& e) { return e.Fdo_hex_dump; }},
        Effect{"re", "yes", [](TestEngine& e) { return e.Frate_emu; }},
        Effect{"loop_input", "1", [](TestEngine& e) { return e.Floop_input; }},
        Effect{"loop_output", "3", [](TestEngine& e) { return e.Floop_output == 3; }},
        Effect{"v", "5", [](TestEngine& e) { return e.Fverbose == 5; }},
        Effect{"vsync", "2", [](TestEngine& e) { return e.Fvideo_sync_method == 2; }},
        Effect{"async", "1000", [](TestEngine& e) { return e.Faudio_sync_method == 1000; }},
        Effect{"adrift_threshold", "0.5",
               [](TestEngine& e) { return e.Faudio_drift_threshold == 0.5f; }},
        Effect{"vglobal", "2", [](TestEngine& e) { return e.Fvideo_global_header == 2; }},
        Effect{"copyts", "0", [](TestEngine& e) { return e.Fcopy_ts; }},
        Effect{"shortest", "1", [](TestEngine& e) { return e.Fopt_shortest; }},
        Effect{"dts_delta_threshold", "3.5",
               [](TestEngine& e) { return e.Fdts_delta_threshold == 3.5f; }},
        Effect{"programid", "7", [](TestEngine& e) { return e.Fopt_programid == 7; }},
        Effect{"xerror", "", [](TestEngine& e) { return e.Fexit_on_error; }},
        Effect{"copyinkf", "1", [](TestEngine& e) { return e.Fcopy_initial_nonkeyframes == 1; }},
        Effect{"vframes", "10", [](TestEngine& e) { return e.Fmax_frames[mkVideo] == 10; }},
        Effect{"aframes", "11", [](TestEngine& e) { return e.Fmax_frames[mkAudio] == 11; }},
        Effect{"dframes", "12", [](TestEngine& e) { return e.Fmax_frames[mkData] == 12; }},
        Effect{"r", "30000/1001",
               [](TestEngine& e) { return e.Fframe_rate.num == 30000 && e.Fframe_rate.den == 1001; }},
        Effect{"r", "ntsc",
               [](TestEngine& e) { return e.Fframe_rate.num == 30000 && e.Fframe_rate.den == 1001; }},
        Effect{"s", "hd720",
               [](TestEngine& e) { return e.Fframe_width == 1280 && e.Fframe_height == 720; }},
        Effect{"aspect", "1.7777", [](TestEngine& e) { return e.Fframe_aspect_ratio == 1.7777f; }},
        Effect{"aspect", "16:9",
               [](TestEngine& e) { return e.Fframe_aspect_ratio == static_cast<float>(16.0 / 9); }},
        Effect{"pix_fmt", "yuv422p",
               [](TestEngine& e) { return e.Fframe_pix_fmt == AV_PIX_FMT_YUV422P; }},
        Effect{"croptop", "0", [](TestEngine& e) { return e.Fframe_height == 240; }},
        Effect{"croptop", "10",
               [](TestEngine& e) { return e.Fframe_topBand == 10 && e.Fframe_height == 230; }},
        Effect{"cropbottom", "20",
               [](TestEngine& e) { return e.Fframe_bottomBand == 20 && e.Fframe_height == 220; }},
        Effect{"cropleft", "30",
               [](TestEngine& e) { return e.Fframe_leftBand == 30 && e.Fframe_width == 290; }},
        Effect{"cropright", "319",
               [](TestEngine& e) { return e.Fframe_rightBand == 319 && e.Fframe_width == 1; }},
        Effect{"intra", "1", [](TestEngine& e) { return e.Fintra_only; }},
        Effect{"vn", "1", [](TestEngine& e) { return e.Fvideo_disable; }},
        Effect{"vdt", "8", [](TestEngine& e) { return e.Fvideo_discard == 8; }},
        Effect{"qscale", "255", [](TestEngine& e) { return e.Fvideo_qscale == 255.0f; }},
        Effect{"rc_override", "0,10,2",
               [](TestEngine& e) { return e.Fvideo_rc_override_string == "0,10,2"; }},
        Effect{"me_threshold", "5", [](TestEngine& e) { return e.Fme_threshold == 5; }},
        Effect{"sameq", "1", [](TestEngine& e) { return e.Fsame_quality; }},
        Effect{"pass", "2", [](TestEngine& e) { return e.Fdo_pass == 2; }},
        Effect{"passlogfile", "two",
               [](TestEngine& e) { return e.Fpass_logfilename_prefix == "two"; }},
        Effect{"vstats_file", "/tmp/v.log",
               [](TestEngine& e) { return e.Fvstats_filename == "/tmp/v.log"; }},
        Effect{"vf", "hflip", [](TestEngine& e) { return e.Fvfilters == "hflip"; }},
        Effect{"vfilters", "vflip", [](TestEngine& e) { return e.Fvfilters == "vflip"; }},
        Effect{"top", "1", [](TestEngine& e) { return e.Ftop_field_first == 1; }},
        Effect{"dc", "9", [](TestEngine& e) { return e.Fintra_dc_precision == 9; }},
        Effect{"vtag", "XVID", [](TestEngine& e) { return e.Fvideo_codec_tag == 0x44495658u; }},
        Effect{"atag", "mp4a", [](TestEngine& e) { return e.Faudio_codec_tag == 0x6134706du; }},
        Effect{"stag", "tx", [](TestEngine& e) { return e.Fsubtitle_codec_tag == 0x7874u; }},
        Effect{"vlang", "eng", [](TestEngine& e) { return e.Fvideo_language == "eng"; }},
        Effect{"alang", "pol", [](TestEngine& e) { return e.Faudio_language == "pol"; }},
        Effect{"slang", "ger", [](TestEngine& e) { return e.Fsubtitle_language == "ger"; }},
        Effect{"qphist", "1", [](TestEngine& e) { return e.Fqp_hist; }},
        Effect{"force_fps", "1", [](TestEngine& e) { return e.Fforce_fps; }},
        Effect{"streamid", "3:42", [](TestEngine& e) { return e.Fstreamid_map[3] == 42; }},
        Effect{"aq", "5", [](TestEngine& e) { return e.Faudio_qscale == 5.0f; }},
        Effect{"ar", "22050", [](TestEngine& e) { return e.Faudio_sample_rate == 22050; }},
        Effect{"ar", "0", [](TestEngine& e) { return e.Faudio_sample_rate == 44100; }},
        Effect{"ac", "1", [](TestEngine& e) { return e.Faudio_channels == 1; }},
        Effect{"ac", "-1", [](TestEngine& e) { return e.Faudio_channels == 2; }},
        Effect{"an", "1", [](TestEngine& e) { return e.Faudio_disable; }},
        Effect{"sn", "1", [](TestEngine& e) { return e.Fsubtitle_disable; }},
        Effect{"vol", "512", [](TestEngine& e) { return e.Faudio_volume == 512; }},
        Effect{"sample_fmt", "s16",
               [](TestEngine& e) { return e.Faudio_sample_fmt == AV_SAMPLE_FMT_S16; }},
        Effect{"vc", "2", [](TestEngine& e) { return e.Fvideo_channel == 2; }},
        Effect{"tvstd", "pal", [](TestEngine& e) { return e.Fvideo_standard == "pal"; }},
        Effect{"isync", "1", [](TestEngine& e) { return e.Finput_sync; }},
        Effect{"muxdelay", "0.3", [](TestEngine& e) { return e.Fmux_max_delay == 0.3f; }},
        Effect{"muxpreload", "0.2", [](TestEngine& e) { return e.Fmux_preload == 0.2f; }},
        Effect{"fs", "5000000000", [](TestEngine& e) { return e.Flimit_filesize == 5000000000; }},
        Effect{"t", "10",
               [](TestEngine& e) {
                 return e.Frecording_time == 10000000 && e.TotalOutputDuration() == 10000000;
               }},
        Effect{"t", "00:01:02.5", [](TestEngine& e) { return e.Frecording_time == 62500000; }},
        Effect{"ss", "1.5", [](TestEngine& e) { return e.Fstart_time == 1500000; }},
        Effect{"itsoffset", "-2", [](TestEngine& e) { return e.Finput_ts_offset == -2000000; }},
        Effect{"itsscale", "1:0.5",
               [](TestEngine& e) { return e.Finput_files_ts_scale[0][1] == 0.5; }},
        Effect{"timestamp", "2010-01-02T03:04:05Z",
               [](TestEngine& e) { return e.Frecording_timestamp == 1262401445; }},
        Effect{"metadata", "title=a=b",
               [](TestEngine& e) {
                 return e.Fmetadata.size() == 1 && e.Fmetadata[0].first == "title" &&
                        e.Fmetadata[0].second == "a=b";
               }},
        Effect{"map", "0.1",
               [](TestEngine& e) {
                 const TStreamMap& m = e.Fstream_maps.at(0);
                 return m.file_index == 0 && m.stream_index == 1 && m.sync_file_index == 0 &&
                        m.sync_stream_index == 1;
               }},
        Effect{"map", "1.2:0.3",
               [](TestEngine& e) {
                 const TStreamMap& m = e.Fstream_maps.at(0);
                 return m.file_index == 1 && m.stream_index == 2 && m.sync_file_index == 0 &&
                        m.sync_stream_index == 3;
               }},
        Effect{"map_meta_data", "1:0",
               [](TestEngine& e) {
                 return e.Fmeta_data_maps.size() == 1 && e.Fmeta_data_maps[0].out_file == 1 &&
                        e.Fmeta_data_maps[0].in_file == 0;
               }},
        Effect{"f", "mp4", [](TestEngine& e) { return e.Flast_asked_format == "mp4"; }},
        Effect{"f", "pgmyuv",
               [](TestEngine& e) {
                 return e.Flast_asked_format == "image2" && e.Fpgmyuv_compatibility_hack == 1;
               }},
        Effect{"threads", "auto", [](TestEngine& e) { return e.Fthread_count == 0; }},
        Effect{"threads", "3", [](TestEngine& e) { return e.Fthread_count == 3; }},
        Effect{"vcodec", "libx264", [](TestEngine& e) { return e.Fvideo_codec_name == "libx264"; }},
        Effect{"acodec", "aac", [](TestEngine& e) { return e.Faudio_codec_name == "aac"; }},
        Effect{"scodec", "mov_text",
               [](TestEngine& e) { return e.Fsubtitle_codec_name == "mov_text"; }},
        Effect{"acodec", "copy",
               [](TestEngine& e) { return e.Faudio_stream_copy == 1 && e.Faudio_codec_name.empty(); }},
        Effect{"scodec", "copy", [](TestEngine& e) { return e.Fsubtitle_stream_copy == 1; }},
        Effect{"vcodec", "", [](TestEngine& e) { return e.Fvideo_stream_copy == 0; }},
        Effect{"absf", "aac_adtstoasc",
               [](TestEngine& e) { return e.Faudio_bitstream_filters.size() == 1; }},
        Effect{"vbsf", "h264_mp4toannexb",
               [](TestEngine& e) { return e.Fvideo_bitstream_filters.size() == 1; }},
        Effect{"sbsf", "null", [](TestEngine& e) { return e.Fsubtitle_bitstream_filters.size() == 1; }},
        Effect{"vbsf", "=h264_mp4toannexb",
               [](TestEngine& e) { return e.Fvideo_bitstream_filters.empty(); }},
        Effect{"vbsf", "", [](TestEngine& e) { return e.Fvideo_bitstream_filters.empty(); }},
        Effect{"vbsf", "noise=amount=3",
               [](TestEngine& e) { return e.Fvideo_bitstream_filters.size() == 1; }},
        // Names the table does not know go to the option set.
        Effect{"g", "30",
               [](TestEngine& e) { return e.OptionContext(AVMEDIA_TYPE_VIDEO)->gop_size == 30; }},
        Effect{"bt", "96000",
               [](TestEngine& e) {
                 return e.OptionContext(AVMEDIA_TYPE_VIDEO)->bit_rate_tolerance == 96000;
               }},
        Effect{"no_such_option", "1", [](TestEngine&) { return true; }}));

TEST_F(EngineOptions, CodecCopyAfterANameLeavesNoPendingName) {
  TestEngine e;
  e.SetOption("vcodec", "libx264");
  e.SetOption("vcodec", "copy");
  EXPECT_EQ(e.Fvideo_stream_copy, 1);
  EXPECT_TRUE(e.Fvideo_codec_name.empty());
}

struct Rejection {
  const char* name;
  const char* value;
  std::string message;
};

void PrintTo(const Rejection& c, std::ostream* os) {
  *os << c.name << "=" << c.value;
}

class OptionRejection : public EngineOptions, public ::testing::WithParamInterface<Rejection> {};

TEST_P(OptionRejection, RaisesTheMessageAndKeepsTheState) {
  LogCapture log;
  TestEngine e;
  e.SetOption("s", "320x240");
  e.SetOption("aspect", "4:3");
  EXPECT_EQ(Raised([&] { e.SetOption(GetParam().name, GetParam().value); }), GetParam().message);
  EXPECT_EQ(e.Fframe_width, 320);
  EXPECT_EQ(e.Fframe_height, 240);
  EXPECT_FLOAT_EQ(e.Fframe_aspect_ratio, 4.0f / 3.0f);
  EXPECT_FALSE(e.Fintra_matrix.has_value());
  EXPECT_TRUE(e.Fmetadata.empty());
}

const std::string kVerticalCrop =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
const std::string kHorizontalCrop =
    "Horizontal crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";

INSTANTIATE_TEST_SUITE_P(
    Table, OptionRejection,
    ::testing::Values(
        Rejection{"aspect", "16:0", "Incorrect aspect ratio specification."},
        Rejection{"aspect", "0", "Incorrect aspect ratio specification."},
        Rejection{"aspect", "wide", "Incorrect aspect ratio specification."},
        Rejection{"aspect", "-4:3", "Incorrect aspect ratio specification."},
        Rejection{"r", "fast", "Incorrect frame rate"},
        Rejection{"s", "big", "Incorrect frame size"},
        Rejection{"pix_fmt", "nonsense", "Unknown pixel format requested: nonsense"},
        Rejection{"padtop", "10", "Please use vfilters=pad"},
        Rejection{"padbottom", "10", "Please use vfilters=pad"},
        Rejection{"padleft", "10", "Please use vfilters=pad"},
        Rejection{"padright", "10", "Please use vfilters=pad"},
        Rejection{"padcolor", "000000", "Please use vfilters=pad"},
        Rejection{"qscale", "0", "qscale must be > 0.0 and <= 255"},
        Rejection{"qscale", "255.5", "qscale must be > 0.0 and <= 255"},
        Rejection{"pass", "3", "pass number can be only 1 or 2"},
        Rejection{"t", "soon", "Invalid duration specification for t: soon"},
        Rejection{"ss", "x1", "Invalid duration specification for ss: x1"},
        Rejection{"timestamp", "someday", "Invalid date specification for timestamp: someday"},
        Rejection{"metadata", "title", "Missing ="},
        Rejection{"itsscale", "20:1.0", "stream index over MAX_STREAMS(20)"},
        Rejection{"streamid", "5",
                  "Invalid value \"5\" for option \"streamid\", required syntax is "
                  "\"index:value\""},
        Rejection{"streamid", "20:1", "Invalid stream index 20 for option \"streamid\" (0..19)"},
        Rejection{"intra_matrix", "1,2,3", "Syntax error in matrix \"1,2,3\" at coeff 2"},
        Rejection{"vbsf", " nosuchbsf ", "Unknown bitstream filter nosuchbsf"},
        Rejection{"newvideo", "", "At least one output file must be specified"},
        Rejection{"newaudio", "", "At least one output file must be specified"},
        Rejection{"newsubtitle", "", "At least one output file must be specified"},
        Rejection{"v", "loud", "'loud' is not a valid integer value"},
        Rejection{"vol", "99999999999", "'99999999999' is not a valid integer value"},
        Rejection{"muxdelay", "long", "'long' is not a valid floating point value"},
        Rejection{"loglevel", "chatty", "'chatty' is not a valid integer value"},
        Rejection{"target", "xvcd", "Unknown target type"},
        Rejection{"threads", "many",
                  "Invalid value \"many\" for option \"threads\": a thread count or \"auto\" is "
                  "expected"},
        Rejection{"croptop", "240", kVerticalCrop}, Rejection{"cropbottom", "500", kVerticalCrop},
        Rejection{"cropleft", "320", kHorizontalCrop},
        Rejection{"cropright", "321", kHorizontalCrop}));

TEST_F(EngineOptions, FlagOptionsOnlyLog) {
  LogCapture log;
  TestEngine e;
  for (const char* n : {"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters",
                        "i", "y", "benchmark"}) {
    e.SetOption(n, "");
    EXPECT_TRUE(log.Contains(std::string("Do nothing: option - ") + n)) << n;
  }
  e.SetOption("timelimit", "10");
  EXPECT_TRUE(log.Contains("Warning: -timelimit not implemented on Windows"));
  e.SetOption("f", "pgmyuv");
  EXPECT_TRUE(log.Contains("pgmyuv format is deprecated, use image2"));
}

TEST_F(EngineOptions, CropLogsItsDeprecation) {
  LogCapture log;
  TestEngine e;
  e.SetOption("s", "320x240");
  e.SetOption("croptop", "0");
  EXPECT_FALSE(log.Contains("CropXXX is deprecated in favor of the crop avfilter"));
  e.SetOption("croptop", "8");
  EXPECT_TRUE(log.Contains("CropXXX is deprecated in favor of the crop avfilter"));
}

TEST_F(EngineOptions, BitRateBelowOneThousandWarns) {
  struct Case {
    const char* name;
    const char* value;
    bool warns;
  };
  const Case cases[] = {{"b", "500", true},   {"vb", "999", true},     {"ab", "128", true},
                        {"b", "1000", false}, {"vb", "600000", false}, {"ab", "96000", false}};
  const char* kWarning =
      "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
  for (const Case& c : cases) {
    LogCapture log;
    TestEngine e;
    e.SetOption(c.name, c.value);
    EXPECT_EQ(log.Contains(kWarning), c.warns) << c.name << "=" << c.value;
  }
  TestEngine e;
  e.SetOption("vb", "600000");
  e.SetOption("ab", "96000");
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->bit_rate, 600000);
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_AUDIO)->bit_rate, 96000);
}

TEST_F(EngineOptions, QuantiserMatrixTakes64Coefficients) {
  TestEngine e;
  std::string value;
  for (int i = 0; i < 64; ++i) value += (i ? "," : "") + std::to_string(i + 8);
  e.SetOption("intra_matrix", value);
  e.SetOption("inter_matrix", value);
  ASSERT_TRUE(e.Fintra_matrix.has_value());
  ASSERT_TRUE(e.Finter_matrix.has_value());
  EXPECT_EQ((*e.Fintra_matrix)[0], 8);
  EXPECT_EQ((*e.Fintra_matrix)[63], 71);
  // A later syntax error leaves the matrix set before as it was.
  EXPECT_EQ(Raised([&] { e.SetOption("intra_matrix", "1,2"); }),
            "Syntax error in matrix \"1,2\" at coeff 1");
  EXPECT_EQ((*e.Fintra_matrix)[63], 71);
}

TEST_F(EngineOptions, LogLevelGoesToTheLogger) {
  media::TFFLogger& logger = media::TFFLogger::Current();
  const media::TLogLevel before = logger.LogLevel();
  TestEngine e;
  e.SetOption("loglevel", "debug");
  EXPECT_EQ(logger.LogLevel(), media::llDebug);
  e.SetOption("loglevel", "16");
  EXPECT_EQ(logger.LogLevel(), media::llError);
  logger.SetLogLevel(before);
}

TEST_F(EngineOptions, FormatListsAreLogged) {
  LogCapture log(media::llInfo);
  TestEngine e;
  e.SetOption("pix_fmt", "list");
  e.SetOption("sample_fmt", "list");
  const auto messages = log.Messages();
  const auto has_line = [&](const std::regex& r) {
    for (const auto& m : messages)
      if (std::regex_match(m.text, r)) return true;
    return false;
  };
  EXPECT_TRUE(has_line(std::regex(R"(yuv420p\s+3\s+12)")));
  EXPECT_TRUE(has_line(std::regex(R"(s16\s+16)")));
  EXPECT_EQ(e.Fframe_pix_fmt, -1);
  EXPECT_EQ(e.Faudio_sample_fmt, -1);
}

TEST_F(EngineOptions, VstatsNamesAFileBesideTheProgram) {
  TestEngine e;
  e.SetOption("vstats", "");
  EXPECT_TRUE(std::regex_match(e.Fvstats_filename, std::regex(R"(/.*/vstats_\d{6}\.log)")))
      << e.Fvstats_filename;
}

TEST_F(EngineOptions, GuardedSettersIgnoreUnsetValues) {
  TestEngine e;
  e.SetStartTime(kNoValue);
  e.SetRecordingTime(kNoValue);
  e.SetProgramID(-1);
  e.SetAudioVolume(-1);
  e.SetMuxMaxDelay(0);
  e.SetMuxPreload(-1);
  e.SetAudioSampleRate(0);
  e.SetAudioChannels(-2);
  e.SetFrameRate("");
  e.SetFrameSize("");
  e.SetFrameAspectRatio("");
  e.SetVideoFilters("");
  e.SetForceFormat("");
  e.SetVideoTag("");
  EXPECT_EQ(e.Fstart_time, 0);
  EXPECT_EQ(e.Frecording_time, INT64_MAX);
  EXPECT_EQ(e.TotalOutputDuration(), -1);
  EXPECT_EQ(e.Fopt_programid, 0);
  EXPECT_EQ(e.Faudio_volume, 256);
  EXPECT_FLOAT_EQ(e.Fmux_max_delay, 0.7f);
  EXPECT_FLOAT_EQ(e.Fmux_preload, 0.5f);
  EXPECT_EQ(e.Faudio_sample_rate, 44100);
  EXPECT_EQ(e.Faudio_channels, 2);
  EXPECT_EQ(e.Fframe_rate.num, 0);
  EXPECT_EQ(e.Fframe_width, 0);
  EXPECT_EQ(e.Fframe_aspect_ratio, 0);
  EXPECT_TRUE(e.Fvfilters.empty());
  EXPECT_TRUE(e.Flast_asked_format.empty());
  EXPECT_EQ(e.Fvideo_codec_tag, 0u);

  e.SetStartTime(0);
  e.SetRecordingTime(3000000);
  e.SetProgramID(0);
  e.SetAudioVolume(0);
  e.SetMuxMaxDelay(0.1f);
  EXPECT_EQ(e.Frecording_time, 3000000);
  EXPECT_EQ(e.TotalOutputDuration(), 3000000);
  EXPECT_EQ(e.Faudio_volume, 0);
  EXPECT_FLOAT_EQ(e.Fmux_max_delay, 0.1f);
}

// --- The option set: generic options, encoders' and muxers' own options, legacy forms ---

TEST_F(EngineOptions, EncoderOptionsAreKeptForTheStreams) {
  TestEngine e;
  e.SetOption("vcodec", "libx264");
  EXPECT_TRUE(e.SetDefaultOption("coder", "0"));
  EXPECT_TRUE(e.SetDefaultOption("me_method", "dia"));
  EXPECT_TRUE(e.SetDefaultOption("level", "30"));  // libx264's own text option
  EXPECT_TRUE(e.SetDefaultOption("flags2", "+dct8x8-wpred"));
  EXPECT_TRUE(e.SetDefaultOption("partitions", "-parti8x8-parti4x4-partp8x8-partb8x8"));
  EXPECT_TRUE(e.SetDefaultOption("directpred", "3"));
  EXPECT_TRUE(e.SetDefaultOption("cqp", "0"));
  EXPECT_TRUE(e.SetDefaultOption("coder", "1"));  // a later value replaces the first
  const std::vector<TOptionPair> expected = {
      {"coder", "1"},   {"me_method", "dia"},   {"level", "30"},      {"8x8dct", "1"},
      {"weightb", "0"}, {"partitions", "none"}, {"direct-pred", "3"}, {"qp", "0"}};
  EXPECT_EQ(e.Fencoder_opts[mkVideo], expected);
  // The generic level stays untouched while libx264 is pending.
  EXPECT_NE(e.OptionContext(AVMEDIA_TYPE_VIDEO)->level, 30);
}

TEST_F(EngineOptions, OptionSetRefusals) {
  LogCapture log;
  log.Allow("out of range|Undefined constant|Unable to parse|Invalid value");
  TestEngine e;
  e.SetOption("vcodec", "libx264");
  EXPECT_FALSE(e.SetDefaultOption("coder", "17"));  // refused by libx264
  EXPECT_FALSE(e.SetDefaultOption("g", "many"));    // refused by the generic option
  EXPECT_FALSE(e.SetDefaultOption("no_such_thing", "1"));
  EXPECT_FALSE(e.SetDefaultOption("g", ""));
  EXPECT_TRUE(e.Fencoder_opts[mkVideo].empty());
}

TEST_F(EngineOptions, WithoutAPendingEncoderTheGenericOptionHolds) {
  TestEngine e;
  EXPECT_TRUE(e.SetDefaultOption("level", "30"));
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->level, 30);
  // An encoder option that some encoder has is kept for the stream's encoder to check.
  EXPECT_TRUE(e.SetDefaultOption("sc_threshold", "40"));
  EXPECT_EQ(e.Fencoder_opts[mkVideo], (std::vector<TOptionPair>{{"sc_threshold", "40"}}));
}

TEST_F(EngineOptions, MuxerOptionsAreKeptForTheFile) {
  TestEngine e;
  e.SetOption("f", "vcd");
  EXPECT_TRUE(e.SetDefaultOption("muxrate", "1411200"));
  EXPECT_TRUE(e.SetIntOption("packetsize", 2324));  // generic
  EXPECT_EQ(e.Fmuxer_opts, (std::vector<TOptionPair>{{"muxrate", "1411200"}}));
  EXPECT_EQ(e.Options().avformat_opts->packet_size, 2324u);
}

TEST_F(EngineOptions, PostHooksAndAbortOfAJobThatNeverRan) {
  TestEngine e;
  e.SetPostHooks(PostHookBit(phPreview) | PostHookBit(phBitmap));
  EXPECT_EQ(e.PostHooks(), PostHookBit(phPreview) | PostHookBit(phBitmap));
  std::thread::id terminated_on;
  int calls = 0;
  e.SetOnTerminate([&](runtime::TObject* sender) {
    EXPECT_EQ(sender, &e);
    terminated_on = std::this_thread::get_id();
    ++calls;
  });
  e.Abort(true);
  EXPECT_EQ(calls, 1);
  EXPECT_NE(terminated_on, std::this_thread::get_id());
  EXPECT_FALSE(e.Finished());
  EXPECT_FALSE(e.FatalException());
  e.Abort(true);  // already terminated: nothing more
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace trelvix::engine
