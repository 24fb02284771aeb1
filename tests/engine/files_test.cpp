// File set-up: opening inputs (the pending-option cursor, codec checks, programs, start seek) and
// creating outputs (which streams, their codec contexts, join mode, failures).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "engine/engine_test_util.h"
#include "media/ff_utils.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using test::TempDir;
using testing::TestEngine;

class Files : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
  TempDir dir_;
};

std::string Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const FFmpegException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::string Metadata(const AVDictionary* d, const char* key) {
  return media::MetadataValue(d, key, "(none)");
}

// A file that the raw H.264 demuxer opens but whose codec parameters cannot be found.
std::string NoParametersFile(const TempDir& dir) {
  const std::string path = dir.File("zeros.h264");
  test::WriteFile(path, std::string(4000, '\0'));
  return path;
}

// --- Inputs ---

TEST_F(Files, AnInputSetsThePendingParameters) {
  TestEngine e;
  e.SetOption("vcodec", "h264");  // a decoder forced by name
  e.SetOption("ar", "8000");
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip())) << e.LastErrMsg();
  EXPECT_EQ(e.nb_input_files(), 1);
  EXPECT_EQ(e.Fframe_width, 320);
  EXPECT_EQ(e.Fframe_height, 240);
  EXPECT_FLOAT_EQ(e.Fframe_aspect_ratio, 4.0f / 3.0f);
  EXPECT_EQ(e.Fframe_rate.num, 25);
  EXPECT_EQ(e.Fframe_rate.den, 1);
  EXPECT_EQ(e.Fframe_pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(e.Faudio_sample_rate, 44100);
  EXPECT_EQ(e.Faudio_channels, 2);
  EXPECT_EQ(e.Fchannel_layout, static_cast<int64_t>(AV_CH_LAYOUT_STEREO));
  EXPECT_EQ(e.Faudio_sample_fmt, AV_SAMPLE_FMT_FLTP);
  EXPECT_NEAR(e.TotalOutputDuration(), 1000000, 100000);
  ASSERT_EQ(e.Finput_codecs.size(), 2u);
  ASSERT_NE(e.Finput_codecs[0], nullptr);
  EXPECT_STREQ(e.Finput_codecs[0]->name, "h264");
  EXPECT_EQ(e.Finput_codecs[1], nullptr);
  EXPECT_TRUE(e.Fvideo_codec_name.empty());  // used up by the input
  EXPECT_EQ(e.InputContext(0)->video_codec_id, AV_CODEC_ID_H264);
}

TEST_F(Files, InputFailures) {
  LogCapture log;
  log.Allow("start code|non-existing|no frame|decode_slice|Invalid data|missing picture");
  struct Case {
    std::function<void(TestEngine&)> set;
    std::string file;
    std::string message;
  };
  const std::string missing = dir_.File("missing.mkv");
  const std::string zeros = NoParametersFile(dir_);
  const Case cases[] = {
      {[](TestEngine&) {}, missing, missing + ": No such file or directory"},
      {[](TestEngine& e) { e.SetOption("vcodec", "nosuch"); }, testing::AvClip(),
       "Unknown decoder 'nosuch'"},
      {[](TestEngine& e) { e.SetOption("acodec", "mpeg4"); }, testing::AvClip(),
       "Invalid decoder type 'mpeg4'"},
      {[](TestEngine& e) { e.SetOption("programid", "7"); },
       testing::ClipCache::Get().Clip("program.ts",
                                      [] {
                                        fixtures::ClipSpec s = fixtures::Preset("mpegts");
                                        s.seconds = 0.5;
                                        return s;
                                      }()),
       "Specified program id not found"},
      {[](TestEngine& e) { e.SetOption("f", "h264"); }, zeros,
       zeros + ": could not find codec parameters"},
  };
  for (const Case& c : cases) {
    TestEngine e;
    e.SetOption("vc", "3");
    c.set(e);
    EXPECT_FALSE(e.OpenInputFile(c.file));
    EXPECT_EQ(e.LastErrMsg(), c.message);
    EXPECT_EQ(e.nb_input_files(), 0);
    EXPECT_TRUE(e.Fvideo_codec_name.empty() && e.Faudio_codec_name.empty());
    EXPECT_EQ(e.Fvideo_channel, 0);
    EXPECT_EQ(e.Fopt_programid, 0);
    EXPECT_TRUE(e.Finput_codecs.empty());
  }
  TestEngine e;
  e.SetOption("f", "no_such_format");
  EXPECT_EQ(Raised([&] { e.OpenInputFile(testing::AvClip()); }),
            "Unknown input format: \"no_such_format\"");
  EXPECT_TRUE(e.Flast_asked_format.empty());
}

TEST_F(Files, AVideoSizeOfZeroLeavesAnAspectOfFourThirds) {
  LogCapture log;
  log.Allow("start code|non-existing|no frame|decode_slice|Invalid data|missing picture");
  TestEngine e;
  e.SetVerbose(-1);  // then missing parameters do not fail the open
  e.SetOption("f", "h264");
  ASSERT_TRUE(e.OpenInputFile(NoParametersFile(dir_))) << e.LastErrMsg();
  EXPECT_EQ(e.Fframe_width, 0);
  EXPECT_FLOAT_EQ(e.Fframe_aspect_ratio, 1.3333334f);
}

TEST_F(Files, ProgramSelection) {
  const std::string& ts = testing::ClipCache::Get().Clip("program.ts", [] {
    fixtures::ClipSpec s = fixtures::Preset("mpegts");
    s.seconds = 0.5;
    return s;
  }());
  TestEngine e;
  e.SetOption("programid", "1");  // the muxer's first service
  ASSERT_TRUE(e.OpenInputFile(ts)) << e.LastErrMsg();
  EXPECT_EQ(e.Fopt_programid, 0);
  for (unsigned i = 0; i < e.InputContext(0)->nb_streams; ++i)
    EXPECT_NE(e.InputContext(0)->streams[i]->discard, AVDISCARD_ALL);
}

TEST_F(Files, StartTimeSeeksAndIsUsedUp) {
  LogCapture log;
  TestEngine e;
  e.SetOption("ss", "0.5");
  e.SetOption("itsoffset", "2");
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip())) << e.LastErrMsg();
  EXPECT_EQ(e.Fstart_time, 0);
  const int64_t start = e.InputContext(0)->start_time;
  EXPECT_EQ(e.Finput_files_ts_offset[0], 2000000 - (500000 + start));

  // With copied time stamps the offset is the option's alone.
  TestEngine c;
  c.SetOption("copyts", "");
  c.SetOption("ss", "0.2");
  c.SetOption("itsoffset", "1");
  ASSERT_TRUE(c.OpenInputFile(testing::AvClip()));
  EXPECT_EQ(c.Finput_files_ts_offset[0], 1000000);
}

TEST_F(Files, StartBeyondTheEndOfAnUnseekableInputStillOpens) {
  LogCapture log;
  const std::string& raw = testing::ClipCache::Get().Clip("raw.h264", [] {
    fixtures::ClipSpec s = fixtures::VideoOnly("h264", "libx264");
    s.seconds = 0.5;
    return s;
  }());
  TestEngine e;
  e.SetOption("ss", "100");
  ASSERT_TRUE(e.OpenInputFile(raw)) << e.LastErrMsg();
  EXPECT_TRUE(log.Contains(raw + ": could not seek to position 100.")) << "no seek message";
  EXPECT_EQ(e.Fstart_time, 0);
}

TEST_F(Files, ACodecRateThatDiffersFromTheContainersIsLogged) {
  // FLV stores milliseconds: 29.97 fps averages to 989/33 there.
  const std::string& flv = testing::ClipCache::Get().Clip("ntsc.flv", [] {
    fixtures::ClipSpec s = fixtures::VideoOnly("flv", "libx264");
    s.seconds = 0.5;
    s.fps = AVRational{30000, 1001};
    return s;
  }());
  const std::string kSeems = "Seems stream 0 codec frame rate differs from container frame rate: ";
  {
    LogCapture log(media::llInfo);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(flv)) << e.LastErrMsg();
    EXPECT_TRUE(log.Contains(kSeems + "29.97 (989/33) -> 29.97 (30000/1001)"));
    EXPECT_EQ(e.Fframe_rate.num, 30000);
    EXPECT_EQ(e.Fframe_rate.den, 1001);
  }
  LogCapture log(media::llInfo);
  TestEngine quiet;
  quiet.SetVerbose(-1);
  ASSERT_TRUE(quiet.OpenInputFile(flv));
  EXPECT_FALSE(log.Contains(kSeems));
}

TEST_F(Files, DisabledStreamsAreDiscarded) {
  TestEngine e;
  e.SetOption("vn", "1");
  e.SetOption("an", "1");
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
  EXPECT_EQ(e.InputContext(0)->streams[0]->discard, AVDISCARD_ALL);
  EXPECT_EQ(e.InputContext(0)->streams[1]->discard, AVDISCARD_ALL);
}

// --- Outputs ---

TEST_F(Files, StreamsOfAnOutputFollowTheInputs) {
  struct Case {
    const std::string& input;
    const char* format;
    std::vector<AVMediaType> streams;
  };
  const Case cases[] = {
      {testing::AvClip(), "ipod", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}},
      {testing::VideoOnlyClip(), "ipod", {AVMEDIA_TYPE_VIDEO}},
      {testing::AudioOnlyClip(), "ipod", {AVMEDIA_TYPE_AUDIO}},
      {testing::AvClip(), "wav", {AVMEDIA_TYPE_AUDIO}},  // no default video codec
  };
  for (const Case& c : cases) {
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(c.input));
    e.SetOption("f", c.format);
    ASSERT_EQ(e.OpenOutputFile(dir_.File(std::string("out.") + c.format)), 1) << e.LastErrMsg();
    const AVFormatContext* oc = e.Output(0).ctx.get();
    ASSERT_EQ(oc->nb_streams, c.streams.size()) << c.input << " -> " << c.format;
    for (size_t i = 0; i < c.streams.size(); ++i)
      EXPECT_EQ(e.Stream(0, i).codec->codec_type, c.streams[i]);
  }
  // Disabled kinds are left out; no inputs: every kind the format has.
  TestEngine e;
  e.SetOption("an", "1");
  ASSERT_EQ(e.OpenOutputFile(dir_.File("noaudio.mp4")), 1);
  ASSERT_EQ(e.Output(0).ctx->nb_streams, 1u);
  EXPECT_EQ(e.Stream(0, 0).codec->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_TRUE(e.Faudio_disable);  // reset only by an audio stream; none was made
}

TEST_F(Files, VideoStreamFromThePendingOptions) {
  LogCapture log;
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
  e.SetOption("vcodec", "libx264");
  e.SetOption("s", "480x320");
  e.SetOption("r", "25");
  e.SetOption("pix_fmt", "rgb24");  // libx264 takes no RGB: its first format instead
  e.SetOption("vb", "600000");
  e.SetOption("vlang", "eng");
  e.SetOption("threads", "2");
  e.SetOption("intra", "1");
  e.SetOption("vbsf", "h264_mp4toannexb");
  e.SetOption("rc_override", "0,10,5/11,20,-150");
  e.SetOption("psnr", "1");
  e.SetOption("pass", "1");
  e.SetOption("dc", "10");
  e.SetOption("f", "ipod");
  ASSERT_EQ(e.OpenOutputFile(dir_.File("v.m4v")), 1) << e.LastErrMsg();
  TOutputStreamSetup& v = e.Stream(0, 0);
  AVCodecContext* c = v.codec.get();
  ASSERT_NE(v.encoder, nullptr);
  EXPECT_STREQ(v.encoder->name, "libx264");
  EXPECT_FALSE(v.stream_copy);
  EXPECT_EQ(c->codec_id, AV_CODEC_ID_H264);
  EXPECT_EQ(c->width, 480);
  EXPECT_EQ(c->height, 320);
  EXPECT_EQ(c->time_base.num, 1);
  EXPECT_EQ(c->time_base.den, 25);
  EXPECT_EQ(c->pix_fmt, v.encoder->pix_fmts[0]);
  EXPECT_EQ(c->bit_rate, 600000);
  EXPECT_EQ(c->thread_count, 2);
  EXPECT_EQ(c->gop_size, 0);
  EXPECT_EQ(c->intra_dc_precision, 2);
  EXPECT_TRUE(c->flags & AV_CODEC_FLAG_GLOBAL_HEADER);  // the muxer wants global headers
  EXPECT_TRUE(c->flags & AV_CODEC_FLAG_PSNR);
  EXPECT_TRUE(c->flags & AV_CODEC_FLAG_PASS1);
  ASSERT_EQ(c->rc_override_count, 2);
  EXPECT_EQ(c->rc_override[0].qscale, 5);
  EXPECT_FLOAT_EQ(c->rc_override[0].quality_factor, 1.0f);
  EXPECT_EQ(c->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(c->rc_override[1].quality_factor, 1.5f);
  // Pixel aspect: 4:3 pictures shown at 480x320.
  EXPECT_EQ(v.st->sample_aspect_ratio.num, 8);
  EXPECT_EQ(v.st->sample_aspect_ratio.den, 9);
  EXPECT_EQ(c->sample_aspect_ratio.num, 8);
  EXPECT_EQ(Metadata(v.st->metadata, "language"), "eng");
  ASSERT_EQ(v.bitstream_filters.size(), 1u);
  EXPECT_TRUE(e.Fvideo_bitstream_filters.empty());
  // The encoder each stream opens: video by name, audio the format's own choice.
  ASSERT_EQ(e.Output(0).streams.size(), 2u);
  ASSERT_NE(v.encoder, nullptr);
  EXPECT_STREQ(v.encoder->name, "libx264");
  const TOutputStreamSetup& a = e.Stream(0, 1);
  ASSERT_NE(a.encoder, nullptr);
  EXPECT_EQ(a.encoder, ff::avcodec_find_encoder(a.codec->codec_id));
  // Used up by the stream.
  EXPECT_TRUE(e.Fvideo_codec_name.empty());
  EXPECT_TRUE(e.Fvideo_language.empty());
  EXPECT_EQ(e.Fframe_pix_fmt, -1);
}

TEST_F(Files, FrameRateAndQuantiser) {
  struct Case {
    const char* codec;
    const char* rate;  // nullptr: none pending
    bool force;
    AVRational expected;
  };
  const Case cases[] = {{"mpeg4", nullptr, false, {25, 1}},
                        {"mpeg1video", "26", false, {25, 1}},  // the nearest standard rate
                        {"mpeg1video", "26", true, {26, 1}},
                        {"mpeg4", "30000/1001", false, {30000, 1001}}};
  for (const Case& c : cases) {
    TestEngine e;
    e.SetOption("vcodec", c.codec);
    e.SetOption("s", "64x64");
    if (c.rate) e.SetOption("r", c.rate);
    if (c.force) e.SetOption("force_fps", "1");
    e.SetOption("qscale", "4");
    e.SetOption("an", "1");
    ASSERT_EQ(e.OpenOutputFile(dir_.File("q.avi")), 1) << e.LastErrMsg();
    AVCodecContext* v = e.Stream(0, 0).codec.get();
    EXPECT_EQ(v->time_base.den, c.expected.num) << c.codec;
    EXPECT_EQ(v->time_base.num, c.expected.den) << c.codec;
    EXPECT_TRUE(v->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(v->global_quality, 472);
    EXPECT_FLOAT_EQ(e.Stream(0, 0).quality, 472.0f);
  }
}

TEST_F(Files, AudioStreamFromThePendingOptions) {
  LogCapture log;
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));  // 44100 Hz stereo float
  e.SetOption("acodec", "mp2");
  e.SetOption("ar", "22000");
  e.SetOption("ac", "1");
  e.SetOption("ab", "64000");
  e.SetOption("alang", "pol");
  e.SetOption("vn", "1");
  ASSERT_EQ(e.OpenOutputFile(dir_.File("a.mkv")), 1) << e.LastErrMsg();
  TOutputStreamSetup& a = e.Stream(0, 0);
  AVCodecContext* c = a.codec.get();
  EXPECT_STREQ(a.encoder->name, "mp2");
  EXPECT_EQ(c->sample_rate, 22050);
  EXPECT_TRUE(log.Contains("Requested sampling rate unsupported using closest supported (22050)"));
  EXPECT_EQ(c->sample_fmt, AV_SAMPLE_FMT_S16);  // mp2 takes no float
  EXPECT_EQ(c->ch_layout.nb_channels, 1);       // the stereo layout no longer fits
  EXPECT_EQ(c->ch_layout.u.mask, AV_CH_LAYOUT_MONO);
  EXPECT_EQ(c->bit_rate, 64000);
  EXPECT_EQ(c->time_base.den, 22050);
  EXPECT_EQ(Metadata(a.st->metadata, "language"), "pol");
  EXPECT_TRUE(e.Faudio_codec_name.empty());

  // Audio quality and a supported rate.
  TestEngine q;
  ASSERT_TRUE(q.OpenInputFile(testing::AvClip()));
  q.SetOption("aq", "3");
  q.SetOption("vn", "1");
  LogCapture quiet;
  ASSERT_EQ(q.OpenOutputFile(dir_.File("aq.mp4")), 1) << q.LastErrMsg();
  AVCodecContext* qc = q.Stream(0, 0).codec.get();
  EXPECT_EQ(qc->sample_rate, 44100);
  EXPECT_FALSE(quiet.Contains("closest supported"));
  EXPECT_EQ(qc->ch_layout.u.mask, AV_CH_LAYOUT_STEREO);
  EXPECT_TRUE(qc->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_EQ(qc->global_quality, 354);
}

TEST_F(Files, StreamCopyAndStreamIds) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
  e.SetOption("vcodec", "copy");
  e.SetOption("acodec", "copy");
  e.SetOption("streamid", "0:301");
  e.SetOption("streamid", "1:302");
  ASSERT_EQ(e.OpenOutputFile(dir_.File("copy.ts")), 1) << e.LastErrMsg();
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(e.Stream(0, i).stream_copy);
    EXPECT_EQ(e.Stream(0, i).encoder, nullptr);
    EXPECT_EQ(e.Stream(0, i).st->id, 301 + i);
  }
  EXPECT_EQ(e.Stream(0, 0).st->codecpar->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(e.Stream(0, 1).codec->sample_rate, 44100);
  EXPECT_EQ(e.Fvideo_stream_copy, 0);
  EXPECT_EQ(e.Faudio_stream_copy, 0);
  EXPECT_EQ(e.Fstreamid_map[0], 0);
}

TEST_F(Files, EncoderOptionsReachTheStreamsThatHaveThem) {
  LogCapture log;
  TestEngine e;
  e.SetOption("s", "64x64");
  EXPECT_TRUE(e.SetDefaultOption("coder", "0"));  // no encoder pending yet
  e.SetOption("vcodec", "libx264");
  e.SetOption("an", "1");
  ASSERT_EQ(e.OpenOutputFile(dir_.File("x.mp4")), 1);
  int64_t coder = -2;
  ASSERT_GE(ff::av_opt_get_int(e.Stream(0, 0).codec->priv_data, "coder", 0, &coder), 0);
  EXPECT_EQ(coder, 0);
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("newvideo", "");
  EXPECT_TRUE(log.Contains("Option coder=0 is not an option of encoder mpeg4 and is ignored"));
}

TEST_F(Files, NewStreamsJoinTheLastOutput) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
  ASSERT_EQ(e.OpenOutputFile(dir_.File("n.mkv")), 1);
  const unsigned before = e.Output(0).ctx->nb_streams;
  e.SetOption("acodec", "mp2");
  e.SetOption("alang", "ger");
  e.SetOption("newaudio", "");
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("newvideo", "");
  e.SetOption("scodec", "ass");
  e.SetOption("newsubtitle", "");
  ASSERT_EQ(e.Output(0).ctx->nb_streams, before + 3);
  EXPECT_STREQ(e.Stream(0, before).encoder->name, "mp2");
  EXPECT_EQ(Metadata(e.Stream(0, before).st->metadata, "language"), "ger");
  EXPECT_STREQ(e.Stream(0, before + 1).encoder->name, "mpeg4");
  EXPECT_EQ(e.Stream(0, before + 2).codec->codec_type, AVMEDIA_TYPE_SUBTITLE);
  EXPECT_EQ(e.Stream(0, before + 2).codec->codec_id, AV_CODEC_ID_ASS);
  // A failing addition changes nothing.
  e.SetOption("vcodec", "nosuch");
  EXPECT_EQ(Raised([&] { e.SetOption("newvideo", ""); }), "Unknown encoder 'nosuch'");
  EXPECT_EQ(e.Output(0).ctx->nb_streams, before + 3);
  EXPECT_EQ(e.Output(0).streams.size(), before + 3);
}

TEST_F(Files, OutputFailuresRegisterNothing) {
  LogCapture log;
  log.Allow("Undefined constant|Unable to parse");
  struct Case {
    std::function<void(TestEngine&)> set;
    std::string file;
    std::string message;
  };
  const std::string nodir = dir_.File("no/such/dir/out.mp4");
  const Case cases[] = {
      {[](TestEngine& e) { e.SetOption("f", "ffm"); }, dir_.File("feed.ffm"),
       "Requested output format 'ffm' is not a suitable output format"},
      {[](TestEngine&) {}, dir_.File("out.unknownext"),
       "Unable to find a suitable output format for '" + dir_.File("out.unknownext") + "'"},
      {[](TestEngine&) {}, nodir, nodir + ": No such file or directory"},
      {[](TestEngine& e) { e.SetOption("vcodec", "nosuch"); }, dir_.File("f1.mp4"),
       "new_video_stream fail: Unknown encoder 'nosuch'"},
      {[](TestEngine& e) { e.SetOption("vcodec", "aac"); }, dir_.File("f2.mp4"),
       "new_video_stream fail: Invalid encoder type 'aac'"},
      {[](TestEngine& e) { e.SetOption("acodec", "mpeg4"); }, dir_.File("f3.mp4"),
       "new_audio_stream fail: Invalid encoder type 'mpeg4'"},
      {[](TestEngine& e) { e.SetOption("scodec", "nosuch"); }, dir_.File("f4.mkv"),
       "new_subtitle_stream fail: Unknown encoder 'nosuch'"},
      {[](TestEngine& e) { e.SetOption("rc_override", "7"); }, dir_.File("f5.mp4"),
       "new_video_stream fail: error parsing rc_override"},
      {[](TestEngine& e) {
         e.SetOption("target", "pal-vcd");
         e.SetOption("muxrate", "fast");
       },
       dir_.File("bad.mpg"), dir_.File("bad.mpg") + ": Invalid encoding parameters"},
      {[](TestEngine& e) {
         e.SetOption("f", "webm_chunk");
         e.SetOption("vn", "1");
         e.SetOption("an", "1");
       },
       dir_.File("chunk.webm"), dir_.File("chunk.webm") + ": Number syntax expected in filename"},
  };
  for (const Case& c : cases) {
    TestEngine e;
    c.set(e);
    EXPECT_EQ(e.OpenOutputFile(c.file), -1);
    EXPECT_EQ(e.LastErrMsg(), c.message);
    EXPECT_EQ(e.nb_output_files(), 0);
    EXPECT_FALSE(Exists(c.file)) << c.file;
    EXPECT_TRUE(e.Flast_asked_format.empty());
  }
}

// A failed output leaves nothing behind that a later output of the same job would pick up: the
// retry converts with its own encoders.
TEST_F(Files, ARetryAfterAFailedOutputUsesItsOwnEncoders) {
  LogCapture log;
  struct Case {
    const char* failed_vcodec;
    const char* failed_acodec;
    const char* retry_vcodec;
    const char* retry_acodec;
  };
  const Case cases[] = {{"libx264", "aac", "mpeg4", "mp2"}, {"mpeg4", "ac3", "libx264", "aac"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.failed_vcodec) + " then " + c.retry_vcodec);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
    e.SetOption("vcodec", c.failed_vcodec);
    e.SetOption("acodec", c.failed_acodec);
    ASSERT_EQ(e.OpenOutputFile(dir_.File("no/such/dir/out.mkv")), -1);
    e.SetOption("vcodec", c.retry_vcodec);
    e.SetOption("acodec", c.retry_acodec);
    const std::string out = dir_.File(std::string("retry-") + c.retry_vcodec + ".mkv");
    ASSERT_EQ(e.OpenOutputFile(out), 1) << e.LastErrMsg();
    e.StartConvert(false);
    EXPECT_FALSE(e.FatalException()) << e.FatalMessage();
    ASSERT_TRUE(Exists(out));
    const fixtures::MediaSummary m = fixtures::ProbeFile(out);
    ASSERT_NE(m.Video(), nullptr);
    ASSERT_NE(m.Audio(), nullptr);
    EXPECT_EQ(m.Video()->codec, c.retry_vcodec == std::string("libx264") ? "h264" : c.retry_vcodec);
    EXPECT_EQ(m.Audio()->codec, c.retry_acodec);
  }
}

TEST_F(Files, ExperimentalEncodersNeedStrictExperimental) {
  TestEngine e;
  e.SetOption("acodec", "vorbis");
  e.SetOption("vn", "1");
  EXPECT_EQ(e.OpenOutputFile(dir_.File("v.ogg")), -1);
  const std::string expected =
      "new_audio_stream fail: encoder 'vorbis' is experimental and might produce bad "
      "results.\r\nAdd '-strict experimental' if you want to use it.";
  EXPECT_EQ(e.LastErrMsg().substr(0, expected.size()), expected);
  if (ff::avcodec_find_encoder_by_name("libvorbis")) {
    EXPECT_EQ(e.LastErrMsg().substr(expected.size()),
              "\r\nOr use the non experimental encoder 'libvorbis'.");
  }

  TestEngine s;
  s.SetOption("acodec", "vorbis");
  s.SetOption("strict", "experimental");
  s.SetOption("vn", "1");
  EXPECT_EQ(s.OpenOutputFile(dir_.File("s.ogg")), 1) << s.LastErrMsg();
}

TEST_F(Files, CodecAliases) {
  TestEngine e;
  e.SetOption("acodec", "libfaac");
  e.SetOption("vn", "1");
  ASSERT_EQ(e.OpenOutputFile(dir_.File("faac.mp4")), 1) << e.LastErrMsg();
  const char* expected = ff::avcodec_find_encoder_by_name("libfdk_aac") ? "libfdk_aac" : "aac";
  EXPECT_STREQ(e.Stream(0, 0).encoder->name, expected);
  // Messages name what was asked for.
  TestEngine v;
  v.SetOption("vcodec", "libfaac");
  EXPECT_EQ(v.OpenOutputFile(dir_.File("faac2.mp4")), -1);
  EXPECT_EQ(v.LastErrMsg(), "new_video_stream fail: Invalid encoder type 'libfaac'");
}

TEST_F(Files, MetadataTimestampAndMuxerOptions) {
  TestEngine e;
  e.SetOption("metadata", "title=first");
  e.SetOption("metadata", "title=second");
  e.SetOption("metadata", "author=me");
  e.SetOption("timestamp", "2010-01-02T03:04:05Z");
  e.SetOption("target", "pal-vcd");
  e.SetOption("muxdelay", "0.25");
  ASSERT_EQ(e.OpenOutputFile(dir_.File("vcd.mpg")), 1) << e.LastErrMsg();
  const AVFormatContext* oc = e.Output(0).ctx.get();
  EXPECT_STREQ(oc->oformat->name, "vcd");
  EXPECT_EQ(Metadata(oc->metadata, "title"), "first");
  EXPECT_EQ(Metadata(oc->metadata, "author"), "me");
  EXPECT_EQ(Metadata(oc->metadata, "creation_time"), "2010-01-02T03:04:05.000000Z");
  EXPECT_TRUE(e.Fmetadata.empty());
  int64_t v = 0;
  ASSERT_GE(ff::av_opt_get_int(oc->priv_data, "muxrate", 0, &v), 0);
  EXPECT_EQ(v, 1411200);
  ASSERT_GE(ff::av_opt_get_int(oc->priv_data, "preload", 0, &v), 0);
  EXPECT_EQ(v, 440000);
  EXPECT_EQ(oc->max_delay, 250000);
  EXPECT_EQ(oc->packet_size, 2324u);
  EXPECT_TRUE(oc->flags & AVFMT_FLAG_NONBLOCK);
  EXPECT_TRUE(e.Fmuxer_opts.empty());
  EXPECT_STREQ(e.Stream(0, 0).encoder->name, "mpeg1video");
  EXPECT_STREQ(e.Stream(0, 1).encoder->name, "mp2");
}

TEST_F(Files, JoinGivesOneEntryPerInput) {
  const std::string& clip = testing::AvClip();
  TestEngine e;
  int64_t sum = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(e.OpenInputFile(clip));
    sum += e.InputContext(i)->duration;
  }
  ASSERT_EQ(e.OpenOutputFile(dir_.File("joined.mp4"), true), 3) << e.LastErrMsg();
  EXPECT_TRUE(e.FJoinMode);
  EXPECT_EQ(&e.Output(0), &e.Output(1));
  EXPECT_EQ(&e.Output(1), &e.Output(2));
  EXPECT_EQ(e.TotalOutputDuration(), sum);
  EXPECT_EQ(e.Output(0).ctx->nb_streams, 2u);  // streams of the first input only

  EXPECT_EQ(e.OpenOutputFile(dir_.File("second.mp4")), -1);
  EXPECT_EQ(e.LastErrMsg(), "Cannot join more than one output file.");
  EXPECT_EQ(e.nb_output_files(), 3);
  EXPECT_FALSE(Exists(dir_.File("second.mp4")));
}

TEST_F(Files, JoinNeedsMoreThanOneInput) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
  ASSERT_EQ(e.OpenOutputFile(dir_.File("single.mp4"), true), 1);
  EXPECT_FALSE(e.FJoinMode);
  // A recording limit caps the joined length.
  TestEngine t;
  ASSERT_TRUE(t.OpenInputFile(testing::AvClip()));
  ASSERT_TRUE(t.OpenInputFile(testing::AvClip()));
  t.SetOption("t", "1.5");
  ASSERT_EQ(t.OpenOutputFile(dir_.File("limited.mp4"), true), 2);
  EXPECT_EQ(t.TotalOutputDuration(), 1500000);
}

TEST_F(Files, AnEmptyOutputIsRemovedWithTheJob) {
  const std::string empty = dir_.File("empty.mp4");
  const std::string written = dir_.File("written.mp4");
  {
    TestEngine e;
    ASSERT_EQ(e.OpenOutputFile(empty), 1);
    ASSERT_EQ(e.OpenOutputFile(written), 2);
    EXPECT_TRUE(Exists(empty));
    std::ofstream(written, std::ios::app) << "data";
    e.ResetState();
    EXPECT_EQ(e.nb_output_files(), 0);
  }
  EXPECT_FALSE(Exists(empty));
  EXPECT_TRUE(Exists(written));
  {
    TestEngine e;
    ASSERT_EQ(e.OpenOutputFile(empty), 1);
  }  // destroyed: removed too
  EXPECT_FALSE(Exists(empty));
}

}  // namespace
}  // namespace trelvix::engine
