// The option records: ext-options syntax, the stream option queue, the translation into engine
// calls in order, extra streams, time stamp and metadata, the string forms, and the two iPhone
// records opening a real output.
#include <gtest/gtest.h>

#include <ctime>

#include "encoder/option_records.h"
#include "engine/engine_test_util.h"
#include "media/ff_utils.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::encoder {
namespace {

using engine::testing::TestEngine;
using test::LogCapture;
using test::TempDir;

class Records : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { engine::testing::LoadLibraries(); }
  TempDir dir_;
};

// --- Ext options ---

TEST(ExtOptions, Syntax) {
  struct Case {
    std::string text;
    std::vector<std::pair<std::string, std::string>> lines;
  };
  const Case cases[] = {
      {"", {}},
      {" \t\r\n ", {}},
      {"a=1", {{"a", "1"}}},
      {"  a=1\r\nb=2\rc\nd=4=5\n\n", {{"a", "1"}, {"b", "2"}, {"c", ""}, {"d", "4=5"}}},
      {"vcodec=mpeg4<CRLF>newvideo=", {{"vcodec", "mpeg4"}, {"newvideo", ""}}},
      {"a=1<crlf>b=2", {{"a", "1<crlf>b=2"}}},  // exact case only
      {"a=1\n\nb=2", {{"a", "1"}, {"", ""}, {"b", "2"}}},
      {" Key = v ", {{"Key ", " v"}}},
  };
  for (const Case& c : cases) {
    std::vector<std::pair<std::string, std::string>> got;
    for (const TExtOption& o : ParseExtOptions(c.text)) got.emplace_back(o.key, o.value);
    EXPECT_EQ(got, c.lines) << c.text;
  }
}

TEST_F(Records, ApplyExtOptionsPassesLowerCaseKeys) {
  TestEngine e;
  ApplyExtOptions(e,
                  "Threads=2\nVCodec=mpeg4\ns=640x480\nnewvideo=\nvpre=ipod640\nVF=hflip\n"
                  "vfilters=x\nAB=64000\nno_such_option=1",
                  true);
  EXPECT_EQ(e.Fthread_count, 2);
  EXPECT_EQ(e.Fvideo_codec_name, "mpeg4");
  EXPECT_EQ(e.Fframe_width, 640);
  EXPECT_TRUE(e.Fvfilters.empty());
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_AUDIO)->bit_rate, 64000);

  TestEngine out;
  ApplyExtOptions(out, "vcodec=mpeg4\nacodec=mp2\nscodec=ass\ns=640x480\ng=12", false);
  EXPECT_TRUE(out.Fvideo_codec_name.empty());
  EXPECT_TRUE(out.Faudio_codec_name.empty());
  EXPECT_TRUE(out.Fsubtitle_codec_name.empty());
  EXPECT_EQ(out.Fframe_width, 0);
  EXPECT_EQ(out.OptionContext(AVMEDIA_TYPE_VIDEO)->gop_size, 12);
}

// --- Stream option queue ---

TEST(StreamOptionQueue, RecordFieldsWinAndExtOptionsFillTheGaps) {
  struct Case {
    std::string video_preset, video_filters, ext;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"fastfirstpass", "", "vpre=ipod640", {"def_vpre=fastfirstpass", "vpre=ipod640"}},
      {"", "", "vpre=ipod640", {"def_vpre=ipod640", "vpre=ipod640"}},
      {"", "", "VFilters=x", {"def_vf=x", "vf=x"}},
      {"", "crop", "vf=x\nvfilters=y", {"def_vf=crop", "vf=x", "vf=y"}},
      {"", "", "vcodec=mpeg4\nnewvideo=\nvcodec=\ng=3", {"def_vcodec=mpeg4", "vcodec=mpeg4"}},
      {"",
       "",
       "ACODEC=mp2\nS=320x240\nscodec=ass\napre=a\nspre=b",
       {"def_acodec=mp2", "def_s=320x240", "def_scodec=ass", "def_apre=a", "def_spre=b",
        "acodec=mp2", "s=320x240", "scodec=ass", "apre=a", "spre=b"}},
  };
  for (const Case& c : cases) {
    TOutputOptions o;
    o.VideoPreset = c.video_preset;
    o.VideoFilters = c.video_filters;
    o.ExtOptions = c.ext;
    EXPECT_EQ(TStreamOptionQueue(o).Lines(), c.lines) << c.ext;
  }
  TOutputOptions o;
  o.VideoCodec = "libx264";
  o.AudioCodec = "aac";
  o.SubtitleCodec = "ass";
  o.AudioPreset = "ap";
  o.VideoPreset = "vp";
  o.SubtitlePreset = "sp";
  o.FrameSize = "480x320";
  o.VideoFilters = "vf";
  o.ExtOptions = "vcodec=mpeg4";
  TStreamOptionQueue q(o);
  EXPECT_EQ(q.Lines(),
            (std::vector<std::string>{"def_acodec=aac", "def_vcodec=libx264", "def_scodec=ass",
                                      "def_apre=ap", "def_vpre=vp", "def_spre=sp", "def_s=480x320",
                                      "def_vf=vf", "vcodec=mpeg4"}));
  EXPECT_EQ(q.Take("vcodec"), "mpeg4");    // the queued entry, removed
  EXPECT_EQ(q.Take("vcodec"), "libx264");  // then the default
  EXPECT_EQ(q.Take("vpre"), "vp");
  EXPECT_EQ(TStreamOptionQueue().Take("apre"), "");
}

// --- Translation ---

TEST_F(Records, InputOptions) {
  TestEngine e;
  TInputOptions o;
  ApplyInputOptions(e, o);  // ProgramID -1 and TimeStart unset change nothing
  EXPECT_EQ(e.Fopt_programid, 0);
  EXPECT_EQ(e.Fstart_time, 0);
  EXPECT_TRUE(e.Flast_asked_format.empty());

  o.ForceFormat = "matroska";
  o.TimeStart = 200000;
  o.ProgramID = 0;
  o.ExtOptions = "acodec=aac\nitsoffset=1";
  ApplyInputOptions(e, o);
  EXPECT_EQ(e.Flast_asked_format, "matroska");
  EXPECT_EQ(e.Fstart_time, 200000);
  EXPECT_EQ(e.Faudio_codec_name, "aac");
  EXPECT_EQ(e.Finput_ts_offset, 1000000);

  TInputOptions named;
  ASSERT_TRUE(OpenInputWithOptions(e, engine::testing::AvClip(), &named)) << e.LastErrMsg();
  EXPECT_EQ(named.FileName, engine::testing::AvClip());
  EXPECT_EQ(e.Fstart_time, 0);
}

TEST_F(Records, FieldsReachTheEngine) {
  LogCapture log;
  TestEngine e;
  TOutputOptions o;
  o.ForceFormat = "mp4";
  o.PacketSize = 1000;
  o.MuxDelay = 0.2f;
  o.MuxPreload = 0.3f;
  o.DisableAudio = true;
  o.AudioVolume = 300;
  o.AudioChannels = 1;
  o.AudioSampleRate = 32000;
  o.AudioBitrate = 96000;
  o.AudioLanguage = "pol";
  o.AudioSyncMethod = 1;
  o.AudioTag = "mp4a";
  o.FrameRate = "30";
  o.FrameAspectRatio = "16:9";
  o.FrameSize = "640x360";
  o.CropTop = 8;  // applies to the size pending before "def_s"
  o.GroupPictureSize = 50;
  o.VideoBitrate = 500000;
  o.VideoMaxRate = 800000;
  o.VideoMinRate = 100000;
  o.VideoBitRateTolerance = 90000;
  o.VideoBufSize = 1000000;
  o.VideoSyncMethod = 2;
  o.VideoTag = "avc1";
  o.VideoLanguage = "eng";
  o.VideoFilters = "hflip";
  o.DisableSubtitle = true;
  o.SubtitleLanguage = "ger";
  o.InputSync = true;
  o.CopyTimestamp = true;
  o.TimeStart = 1000000;
  o.TimeLength = 5000000;
  o.Info.Year = 2010;
  o.Info.Title = "T";
  o.VideoHookBitsPixel = 32;
  e.SetOption("s", "320x240");
  ApplyOutputOptions(e, o);
  EXPECT_EQ(e.Flast_asked_format, "mp4");
  EXPECT_EQ(e.Options().avformat_opts->packet_size, 1000u);
  EXPECT_FLOAT_EQ(e.Fmux_max_delay, 0.2f);
  EXPECT_FLOAT_EQ(e.Fmux_preload, 0.3f);
  EXPECT_TRUE(e.Faudio_disable);
  EXPECT_EQ(e.Faudio_volume, 300);
  EXPECT_EQ(e.Faudio_channels, 1);
  EXPECT_EQ(e.Faudio_sample_rate, 32000);
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_AUDIO)->bit_rate, 96000);
  EXPECT_EQ(e.Faudio_language, "pol");
  EXPECT_EQ(e.Faudio_sync_method, 1);
  EXPECT_EQ(e.Faudio_codec_tag, 0x6134706du);
  EXPECT_EQ(e.Fframe_rate.num, 30);
  EXPECT_FLOAT_EQ(e.Fframe_aspect_ratio, 16.0f / 9.0f);
  EXPECT_EQ(e.Fframe_topBand, 8);
  EXPECT_EQ(e.Fframe_width, 640);
  EXPECT_EQ(e.Fframe_height, 360);
  AVCodecContext* v = e.OptionContext(AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(v->gop_size, 50);
  EXPECT_EQ(v->bit_rate, 500000);
  EXPECT_EQ(v->rc_max_rate, 800000);
  EXPECT_EQ(v->rc_min_rate, 100000);
  EXPECT_EQ(v->bit_rate_tolerance, 90000);
  EXPECT_EQ(v->rc_buffer_size, 1000000);
  EXPECT_EQ(e.Fvideo_sync_method, 2);
  EXPECT_EQ(e.Fvideo_codec_tag, 0x31637661u);
  EXPECT_EQ(e.Fvideo_language, "eng");
  EXPECT_EQ(e.Fvfilters, "hflip");
  EXPECT_TRUE(e.Fsubtitle_disable);
  EXPECT_EQ(e.Fsubtitle_language, "ger");
  EXPECT_TRUE(e.Finput_sync);
  EXPECT_TRUE(e.Fcopy_ts);
  EXPECT_EQ(e.Fstart_time, 1000000);
  EXPECT_EQ(e.Frecording_time, 5000000);
  EXPECT_EQ(e.TotalOutputDuration(), 5000000);
  EXPECT_EQ(e.Frecording_timestamp, 0);  // Info.TimeStamp left at -1
  EXPECT_EQ(e.Fmetadata, (std::vector<engine::TOptionPair>{{"year", "2010"}, {"title", "T"}}));
  EXPECT_EQ(e.VideoHookBitsPixel(), 32);
  EXPECT_FALSE(e.FOnInputVideoHook);
}

TEST_F(Records, UnsetFieldsLeaveExtOptionsStanding) {
  TestEngine e;
  TOutputOptions o;
  o.ExtOptions = "alang=eng\nisync=1\nab=64000";
  ApplyOutputOptions(e, o);
  EXPECT_EQ(e.Faudio_language, "eng");
  EXPECT_TRUE(e.Finput_sync);
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_AUDIO)->bit_rate, 64000);
  EXPECT_EQ(e.Faudio_sync_method, 0);
  EXPECT_EQ(e.Fvideo_sync_method, -1);
}

TEST_F(Records, TargetWithTheRecordsNorms) {
  struct Case {
    TOptionTargetType type;
    TOptionNormType norm;
    TOptionNormDefault fallback;
    bool with_input;  // a 25 fps input
    int height;
    const char* format;
  };
  const Case cases[] = {{ttDVD, ntPAL, ntNTSC, false, 576, "dvd"},
                        {ttSVCD, ntNTSC, ntPAL, false, 480, "svcd"},
                        {ttVCD, ntAuto, ntNTSC, true, 288, "vcd"},
                        {ttDVD, ntAuto, ntNTSC, true, 576, "dvd"}};
  for (const Case& c : cases) {
    TestEngine e;
    if (c.with_input) {
      ASSERT_TRUE(e.OpenInputFile(engine::testing::AvClip()));
    }
    TOutputOptions o;
    o.TargetType = c.type;
    o.NormType = c.norm;
    o.NormDefault = c.fallback;
    ApplyOutputOptions(e, o);
    EXPECT_EQ(e.Fframe_height, c.height) << c.format;
    EXPECT_EQ(e.Flast_asked_format, c.format);
  }
  TestEngine none;
  TOutputOptions o;
  ApplyOutputOptions(none, o);  // ttIgnore
  EXPECT_TRUE(none.Flast_asked_format.empty());
}

TEST_F(Records, CodecsBeforePresets) {
  TestEngine e;
  TOutputOptions o;
  o.VideoCodec = "libx264";
  o.VideoPreset = "ipod320";
  ApplyOutputOptions(e, o);
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->rc_max_rate, 768000);
  EXPECT_EQ(e.Fvideo_codec_name, "libx264");
}

TEST_F(Records, QueuedPresetOfAStreamThatIsNeverAddedIsNotApplied) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(engine::testing::AvClip()));
  TOutputOptions o;
  o.ForceFormat = "ipod";
  o.VideoCodec = "libx264";
  o.VideoPreset = "fastfirstpass";
  o.ExtOptions = "vpre=ipod640";
  ASSERT_EQ(OpenOutputWithOptions(e, dir_.File("q.mp4"), &o), 1) << e.LastErrMsg();
  ASSERT_EQ(e.Output(0).ctx->nb_streams, 2u);
  AVCodecContext* v = e.Stream(0, 0).codec.get();
  EXPECT_EQ(v->max_b_frames, 3);  // fastfirstpass, not ipod640's 0
  EXPECT_EQ(v->rc_max_rate, 0);
  EXPECT_EQ(v->me_subpel_quality, 2);
  EXPECT_EQ(o.FileName, dir_.File("q.mp4"));

  // Without a record preset the ext options' preset is the first stream's.
  TestEngine f;
  TOutputOptions p;
  p.ForceFormat = "ipod";
  p.VideoCodec = "libx264";
  p.ExtOptions = "vpre=ipod640";
  p.DisableAudio = true;
  ASSERT_EQ(OpenOutputWithOptions(f, dir_.File("p.mp4"), &p), 1) << f.LastErrMsg();
  EXPECT_EQ(f.Stream(0, 0).codec->rc_max_rate, 10000000);
  EXPECT_EQ(f.Stream(0, 0).codec->max_b_frames, 0);
}

TEST_F(Records, ExtraStreamsTakeTheQueuedOptions) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(engine::testing::AvClip()));
  TOutputOptions o;
  o.ExtOptions = "vcodec=mpeg4\nnewvideo=\nacodec=mp2\nnewaudio=\nVFilters=x";
  ASSERT_EQ(OpenOutputWithOptions(e, dir_.File("x.mkv"), &o), 1) << e.LastErrMsg();
  const AVFormatContext* oc = e.Output(0).ctx.get();
  ASSERT_EQ(oc->nb_streams, 4u);
  EXPECT_STREQ(e.Stream(0, 0).encoder->name, "mpeg4");
  EXPECT_STREQ(e.Stream(0, 1).encoder->name, "mp2");
  EXPECT_STREQ(e.Stream(0, 2).encoder->name, "mpeg4");  // the queued vcodec entry
  EXPECT_STREQ(e.Stream(0, 3).encoder->name, "mp2");
  EXPECT_EQ(e.Fvfilters, "x");  // VFilters counts as "vf"
  EXPECT_TRUE(e.FEnableFilter);
}

TEST_F(Records, ANullRecordOpensWithThePendingOptions) {
  TestEngine e;
  e.SetOption("vn", "1");
  ASSERT_EQ(OpenOutputWithOptions(e, dir_.File("n.mp4"), nullptr), 1) << e.LastErrMsg();
  EXPECT_EQ(e.Output(0).ctx->nb_streams, 1u);
}

TEST_F(Records, HooksAreInstalledWhenAsked) {
  TestEngine e;
  TOutputOptions o;
  o.AudioHook = true;
  o.VideoOutputHook = true;
  int calls = 0;
  TOutputHooks hooks;
  hooks.audio = [&](runtime::TObject*, int64_t, uint8_t*, int, int, int, int) { ++calls; };
  hooks.input_video = [&](runtime::TObject*, runtime::TBitmap*, int, int64_t, bool&, bool&) {};
  hooks.output_video = [&](runtime::TObject*, runtime::TBitmap*, int, int64_t, bool&, bool&) {};
  ApplyOutputOptions(e, o, hooks);
  EXPECT_TRUE(e.FOnAudioHook);
  EXPECT_FALSE(e.FOnInputVideoHook);
  EXPECT_TRUE(e.FOnOutputVideoHook);
}

// --- Time stamp and metadata ---

TEST(TimeStamp, UnixSecondsWithTheStandardBias) {
  EXPECT_EQ(OutputTimeStamp(25569.0, 0), 0);
  EXPECT_EQ(OutputTimeStamp(25569.5, -60), 39600);     // noon at UTC+1 is 11:00 UTC
  EXPECT_EQ(OutputTimeStamp(40179.0, 0), 1262304000);  // 2010-01-01
  EXPECT_EQ(OutputTimeStamp(40179.0 + 1.0 / 86400 * 0.6, 0), 1262304001);  // rounded

  TStreamInfo info;
  EXPECT_FALSE(RecordingTimeStamp(info).has_value());  // -1: none
  info.TimeStamp = 0;
  const int64_t now = std::time(nullptr);
  ASSERT_TRUE(RecordingTimeStamp(info).has_value());
  EXPECT_NEAR(static_cast<double>(*RecordingTimeStamp(info)), static_cast<double>(now), 2.0);
  info.TimeStamp = 40180.25;
  EXPECT_EQ(*RecordingTimeStamp(info), OutputTimeStamp(40180.25, media::StandardTimeZoneBias()));
}

TEST(Metadata, PairsInOrder) {
  TStreamInfo info;
  EXPECT_TRUE(MetadataPairs(info).empty());
  info.Year = 2009;
  info.Track = 3;
  info.Title = "Title";
  info.Author = "Author";
  info.Copyright = "(c)";
  info.Comment = "Comment";
  info.Album = "Album";
  info.Genre = "Genre";
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"year", "2009"},     {"track", "3"},         {"title", "Title"}, {"author", "Author"},
      {"copyright", "(c)"}, {"comment", "Comment"}, {"album", "Album"}, {"genre", "Genre"}};
  EXPECT_EQ(MetadataPairs(info), expected);
  info.Year = 0;
  info.Track = -5;
  info.Title.clear();
  EXPECT_EQ(MetadataPairs(info).front().first, "author");
}

// --- String forms ---

TEST(StringForms, InputText) {
  TInputOptions o = InputOptionsFromText("timestart=1500000\nss=1<CRLF>f=avi");
  EXPECT_EQ(o.TimeStart, 1500000);
  EXPECT_EQ(o.ExtOptions, "ss=1\nf=avi\n");
  EXPECT_EQ(o.ProgramID, -1);
  EXPECT_EQ(InputOptionsFromText("TimeStart=soon").TimeStart, kNoValue);
}

TEST(StringForms, OutputText) {
  TOutputOptions o = OutputOptionsFromText(
      "Join=\naudiohook=0\nVideoInputHook=yes\nVIDEOOUTPUTHOOK=1\nVideoHookBitsPixel=abc\n"
      "TimeStart=x\nTimeLength=5000000\nvb=1000\nnewvideo=");
  EXPECT_TRUE(o.Join);
  EXPECT_FALSE(o.AudioHook);
  EXPECT_TRUE(o.VideoInputHook);
  EXPECT_TRUE(o.VideoOutputHook);
  EXPECT_EQ(o.VideoHookBitsPixel, 24);
  EXPECT_EQ(o.TimeStart, kNoValue);
  EXPECT_EQ(o.TimeLength, 5000000);
  EXPECT_EQ(o.ExtOptions, "vb=1000\nnewvideo=\n");
  EXPECT_EQ(OutputOptionsFromText("VideoHookBitsPixel=16").VideoHookBitsPixel, 16);
  EXPECT_FALSE(OutputOptionsFromText("Join=0").Join);
}

// --- The iPhone profile ---

TOutputOptions IPhoneRecord(bool hi) {
  TOutputOptions o;
  o.ForceFormat = "ipod";
  o.VideoCodec = "libx264";
  o.AudioCodec = "libfaac";
  o.FrameSize = "480x320";
  o.FrameRate = "25";
  o.VideoBitrate = hi ? 600000 : 400000;
  o.VideoBitRateTolerance = hi ? 250000 : 96000;
  o.AudioBitrate = hi ? 128000 : 96000;
  o.AudioChannels = 2;
  o.VideoPreset = hi ? "default" : "fastfirstpass";
  o.ExtOptions = "vpre=ipod640";
  o.VideoInputHook = true;
  o.DisableSubtitle = true;
  o.FileExt = "_iphone.mp4";
  o.Info.Author = "Trelvix to iPhone";
  o.Info.Comment = "www.trelvix.example";
  o.Info.TimeStamp = 0;
  return o;
}

class IPhoneProfile : public Records, public ::testing::WithParamInterface<bool> {};

TEST_P(IPhoneProfile, OpensAnIpodOutputWithTheRecordsSettings) {
  LogCapture log;
  const bool hi = GetParam();
  TestEngine e;
  TInputOptions in;
  ASSERT_TRUE(OpenInputWithOptions(e, engine::testing::AvClip(), &in)) << e.LastErrMsg();
  TOutputOptions o = IPhoneRecord(hi);
  TOutputHooks hooks;
  hooks.input_video = [](runtime::TObject*, runtime::TBitmap*, int, int64_t, bool&, bool&) {};
  ASSERT_EQ(OpenOutputWithOptions(e, dir_.File("clip_(Trelvix)_iphone.mp4"), &o, hooks), 1)
      << e.LastErrMsg();
  EXPECT_TRUE(e.FOnInputVideoHook);
  EXPECT_EQ(e.VideoHookBitsPixel(), 24);

  const AVFormatContext* oc = e.Output(0).ctx.get();
  EXPECT_STREQ(oc->oformat->name, "ipod");
  ASSERT_EQ(oc->nb_streams, 2u);
  EXPECT_EQ(media::MetadataValue(oc->metadata, "author"), "Trelvix to iPhone");
  EXPECT_EQ(media::MetadataValue(oc->metadata, "comment"), "www.trelvix.example");
  EXPECT_FALSE(media::MetadataValue(oc->metadata, "creation_time").empty());

  engine::TOutputStreamSetup& video = e.Stream(0, 0);
  AVCodecContext* v = video.codec.get();
  ASSERT_NE(video.encoder, nullptr);
  EXPECT_STREQ(video.encoder->name, "libx264");
  EXPECT_EQ(v->codec_type, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(v->width, 480);
  EXPECT_EQ(v->height, 320);
  EXPECT_EQ(v->time_base.num, 1);
  EXPECT_EQ(v->time_base.den, 25);
  EXPECT_EQ(v->bit_rate, hi ? 600000 : 400000);
  EXPECT_EQ(v->bit_rate_tolerance, hi ? 250000 : 96000);
  EXPECT_EQ(v->pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_TRUE(v->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
  EXPECT_EQ(v->rc_max_rate, 0);  // "vpre=ipod640" was only queued

  engine::TOutputStreamSetup& audio = e.Stream(0, 1);
  AVCodecContext* a = audio.codec.get();
  ASSERT_NE(audio.encoder, nullptr);
  EXPECT_EQ(audio.encoder->id, AV_CODEC_ID_AAC);  // "libfaac" through the alias table
  EXPECT_EQ(a->bit_rate, hi ? 128000 : 96000);
  EXPECT_EQ(a->ch_layout.nb_channels, 2);
  EXPECT_EQ(a->sample_rate, 44100);  // the input's rate: the profile sets none
  EXPECT_EQ(a->sample_fmt, AV_SAMPLE_FMT_FLTP);
  {
    std::lock_guard lock(media::CodecLock());
    EXPECT_EQ(ff::avcodec_open2(a, audio.encoder, nullptr), 0);
  }

  auto x264 = engine::testing::OpenAndReadX264Settings(video);
  if (hi) {
    EXPECT_EQ(x264["ref"], "3");
    EXPECT_EQ(x264["bframes"], "3");
    EXPECT_EQ(x264["8x8dct"], "1");
    EXPECT_EQ(x264["subme"], "7");
    EXPECT_EQ(x264["me"], "hex");
    EXPECT_EQ(x264["bitrate"], "600");
  } else {
    EXPECT_EQ(x264["subme"], "2");
    EXPECT_EQ(x264["me"], "dia");
    EXPECT_EQ(x264["ref"], "1");
    EXPECT_EQ(x264["8x8dct"], "0");
    EXPECT_EQ(x264["bitrate"], "400");
  }
  EXPECT_EQ(x264["keyint"], "250");
  EXPECT_EQ(x264["cabac"], "1");
}

INSTANTIATE_TEST_SUITE_P(HiLo, IPhoneProfile, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? "Hi" : "Lo";
                         });

}  // namespace
}  // namespace trelvix::encoder
