// File and stream information: counts, records, their failure texts, and the file description.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/custom_decoder.h"
#include "decoder/decoder_messages.h"
#include "decoder/ff_decoder.h"
#include "decoder/info_text.h"
#include "decoder_test_util.h"
#include "media/ff_ptr.h"
#include "media/ff_utils.h"
#include "media/ffapi.h"
#include "media/unicode_io.h"
#include "support/log_capture.h"

namespace trelvix::decoder {
namespace {

using testing::ClipCache;

class DecoderInfo : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadLibraries(); }

  static const std::string& AudioFirstClip() {
    fixtures::ClipSpec spec = fixtures::Preset("mkv");
    spec.audio_first = true;
    spec.seconds = 1;
    return ClipCache::Get().Clip("audio_first.mkv", spec);
  }

  // The text's lines without their CR LF ends; fails when a line lacks one.
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "line without CR LF: " << text.substr(start);
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
};

TEST_F(DecoderInfo, NothingAttached) {
  test::LogCapture log;
  TCustomDecoder dec;
  EXPECT_EQ(dec.FileHandle(), nullptr);
  for (int32_t v : {dec.StreamCount(), dec.ProgramCount(), dec.AudioStreamCount(),
                    dec.VideoStreamCount(), dec.SubtitleStreamCount(), dec.FirstAudioStreamIndex(),
                    dec.FirstVideoStreamIndex(), dec.FirstSubtitleStreamIndex()})
    EXPECT_EQ(v, -1);
  EXPECT_EQ(dec.FileSize(), -1);

  EXPECT_EQ(dec.FileInfoText(), "");
  EXPECT_EQ(dec.FileName(), "");
  EXPECT_FALSE(dec.IsVideoStream(0));
  const TFileStreamInfo fi = dec.FileStreamInfo();
  EXPECT_EQ(fi.Duration, -1);
  EXPECT_EQ(fi.BitRate, -1);
  EXPECT_EQ(fi.Year, -1);
  EXPECT_EQ(dec.LastErrMsg(), msg::kFileNotLoaded);
  // Reported at the warning level, so nothing at error level was logged.
  for (const auto& m : log.Messages()) EXPECT_EQ(m.level, media::llWarning) << m.text;
}

TEST_F(DecoderInfo, AudioFirstThenVideo) {
  test::LogCapture log;
  log.Allow("is not (video|audio) stream|no subtitle stream|is invalid");
  TCustomDecoder dec;
  ASSERT_TRUE(dec.LoadFile(AudioFirstClip())) << dec.LastErrMsg();
  EXPECT_EQ(dec.StreamCount(), 2);
  EXPECT_EQ(dec.ProgramCount(), 0);
  EXPECT_EQ(dec.AudioStreamCount(), 1);
  EXPECT_EQ(dec.VideoStreamCount(), 1);
  EXPECT_EQ(dec.SubtitleStreamCount(), 0);
  EXPECT_EQ(dec.FirstAudioStreamIndex(), 0);
  EXPECT_EQ(dec.FirstVideoStreamIndex(), 1);
  EXPECT_EQ(dec.FirstSubtitleStreamIndex(), -1);
  EXPECT_EQ(dec.FormatName(), "matroska,webm");
  EXPECT_EQ(dec.FileName(), AudioFirstClip());
  EXPECT_EQ(dec.ForceFormat(), "");

  // What the main window asks for: stream 0, which is audio here.
  const TVideoStreamInfo wrong = dec.ReadVideoStreamInfo(0);
  EXPECT_EQ(dec.LastErrMsg(), "stream #0 is not video stream.");
  EXPECT_TRUE(log.Contains("stream #0 is not video stream."));
  EXPECT_EQ(wrong.Language, "");
  EXPECT_EQ(wrong.CodecName, "");
  for (int64_t v :
       {wrong.StartTime, wrong.StartTimeScaled, wrong.Duration, wrong.DurationScaled,
        int64_t{wrong.BitRate}, int64_t{wrong.Height}, int64_t{wrong.Width}, int64_t{wrong.PixFmt},
        int64_t{wrong.FrameRate.num}, int64_t{wrong.FrameRate.den}})
    EXPECT_EQ(v, -1);
  EXPECT_EQ(wrong.AspectRatio, -1.0f);

  const TVideoStreamInfo video = dec.FirstVideoStreamInfo();
  EXPECT_EQ(video.Width, 320);
  EXPECT_EQ(video.Height, 240);
  EXPECT_FLOAT_EQ(video.AspectRatio, 320.0f / 240.0f);
  EXPECT_EQ(video.PixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(video.FrameRate.num, 25);
  EXPECT_EQ(video.FrameRate.den, 1);
  EXPECT_EQ(video.CodecName.rfind("h264", 0), 0u) << video.CodecName;
  EXPECT_GE(video.StartTimeScaled, 0);
  // Matroska keeps no stream durations.
  EXPECT_EQ(video.Duration, AV_NOPTS_VALUE);
  EXPECT_EQ(video.DurationScaled, -1);

  const TAudioStreamInfo audio = dec.ReadAudioStreamInfo(-1);
  EXPECT_EQ(audio.Channels, 2);
  EXPECT_EQ(audio.SampleRate, 44100);
  EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_FLTP);
  EXPECT_EQ(audio.CodecName.rfind("aac", 0), 0u) << audio.CodecName;

  EXPECT_TRUE(dec.IsAudioStream(0));
  EXPECT_FALSE(dec.IsVideoStream(0));
  EXPECT_TRUE(dec.IsVideoStream(1));
  EXPECT_FALSE(dec.IsSubtitleStream(1));

  const struct {
    int32_t index;
    const char* message;
  } failures[] = {{2, "stream index #2 is invalid."}, {-1, "no subtitle stream."}};
  for (const auto& f : failures) {
    const TSubtitleStreamInfo s = dec.ReadSubtitleStreamInfo(f.index);
    EXPECT_EQ(s.CodecName, "");
    EXPECT_EQ(dec.LastErrMsg(), f.message);
  }
  EXPECT_FALSE(dec.IsVideoStream(7));
  EXPECT_EQ(dec.LastErrMsg(), "stream index #7 is invalid.");
  EXPECT_EQ(dec.ReadAudioStreamInfo(1).Channels, -1);
  EXPECT_EQ(dec.LastErrMsg(), "stream #1 is not audio stream.");

  dec.CloseFile();
  EXPECT_EQ(dec.StreamCount(), -1);
  EXPECT_EQ(dec.FirstVideoStreamIndex(), -1);
  EXPECT_EQ(dec.FileHandle(), nullptr);
}

TEST_F(DecoderInfo, OpenFailures) {
  test::LogCapture log;
  log.Allow("No such file or directory|Invalid data found");
  const std::string missing = ClipCache::Get().File("missing.avi");
  const std::string garbage = ClipCache::Get().File("garbage.avi");
  fixtures::MakeRandomFile(garbage, 4096, 7);
  TCustomDecoder dec;

  EXPECT_FALSE(dec.LoadFile(missing));
  EXPECT_EQ(dec.LastErrMsg(), missing + ": No such file or directory");
  EXPECT_FALSE(dec.LoadFile(garbage));
  EXPECT_EQ(dec.LastErrMsg(), garbage + ": Invalid data found when processing input");
  EXPECT_EQ(dec.FileHandle(), nullptr);

  // An unknown forced format is only kept as the last error, not logged.
  const std::string& clip = AudioFirstClip();
  log.Clear();
  EXPECT_FALSE(dec.LoadFile(clip, "nosuchformat"));
  EXPECT_EQ(dec.LastErrMsg(), "Unknown input format: nosuchformat");
  EXPECT_FALSE(log.Contains("nosuchformat"));

  // A failed load leaves no file, even after a good one.
  ASSERT_TRUE(dec.LoadFile(AudioFirstClip()));
  EXPECT_FALSE(dec.LoadFile(missing));
  EXPECT_EQ(dec.StreamCount(), -1);
}

TEST_F(DecoderInfo, ForcedFormatIsKeptAndSizesArePrinted) {
  // Raw PCM takes any bytes, so files of exact sizes are valid media.
  const struct {
    int64_t bytes;
    const char* size_line;
  } cases[] = {{1024, "File Size: 1024 Byte"}, {1025, "File Size: 1.00 KB"}};
  for (const auto& c : cases) {
    const std::string path = ClipCache::Get().File("raw" + std::to_string(c.bytes) + ".pcm");
    fixtures::MakeRandomFile(path, c.bytes);
    TCustomDecoder dec;
    ASSERT_TRUE(dec.LoadFile(path, "s16le")) << dec.LastErrMsg();
    EXPECT_EQ(dec.ForceFormat(), "s16le");
    EXPECT_EQ(dec.FileSize(), c.bytes);
    const auto lines = Lines(dec.FileInfoText());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], c.size_line);
    dec.CloseFile();
    EXPECT_EQ(dec.ForceFormat(), "");
  }
}

TEST_F(DecoderInfo, ForeignContextIsNeverClosed) {
  test::LogCapture log;
  media::InputFormatPtr ctx;
  media::UnicodeIOPtr io;
  ASSERT_EQ(media::OpenInputFile(ctx, io, media::LibFileName(AudioFirstClip()), nullptr, nullptr),
            0);
  ASSERT_GE(ff::avformat_find_stream_info(ctx.get(), nullptr), 0);
  {
    TFFDecoder dec;
    dec.SetFileHandle(ctx.get());
    EXPECT_EQ(dec.FileHandle(), ctx.get());
    EXPECT_EQ(dec.FirstVideoStreamIndex(), 1);
    EXPECT_GT(dec.FileSize(), 0);
    dec.SetFileHandle(ctx.get());  // the same context again: nothing happens
    EXPECT_EQ(dec.StreamCount(), 2);

    // Frame access needs a file the decoder opened itself.
    log.Clear();
    try {
      dec.Decode(-1);
      ADD_FAILURE() << "Decode on a foreign context did not throw";
    } catch (const EDecoderError& e) {
      EXPECT_STREQ(e.what(), "file cannot be seeked, handle is readonly.");
    }
    EXPECT_THROW(dec.Seek(0), EDecoderError);
    EXPECT_EQ(dec.LastErrMsg(), msg::kHandleReadonly);

    dec.SetFileHandle(nullptr);
    EXPECT_EQ(dec.FileHandle(), nullptr);
    EXPECT_EQ(dec.StreamCount(), -1);
    dec.SetFileHandle(ctx.get());
  }  // destroyed while attached
  // The context still works: read a packet from it.
  media::PacketPtr pkt = media::MakePacket();
  EXPECT_GE(ff::av_read_frame(ctx.get(), pkt.get()), 0);
}

TEST(InfoTextPieces, RateTexts) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{25.0, ", 25 fps"},      {30000.0 / 1001.0, ", 29.97 fps"},
               {90000.0, ", 90k fps"},  {1000.0, ", 1k fps"},
               {23.976, ", 23.98 fps"}, {50.0, ", 50 fps"},
               {1200.0, ", 1200 fps"},  {12.5, ", 12.50 fps"}};
  for (const auto& c : cases) EXPECT_EQ(RateText(c.value, "fps"), c.text) << c.value;
}

TEST(InfoTextPieces, StartTimes) {
  EXPECT_EQ(StartTimeText(1400000), "1.400000");
  EXPECT_EQ(StartTimeText(0), "0.000000");
  EXPECT_EQ(StartTimeText(12), "0.000012");
  EXPECT_EQ(StartTimeText(-1400000), "-1.400000");
  EXPECT_EQ(StartTimeText(-500000), "-0.500000");
}

TEST(InfoTextPieces, MetadataBlocks) {
  testing::LoadLibraries();
  const struct {
    std::vector<std::pair<const char*, const char*>> entries;
    std::vector<std::string> lines;
  } cases[] = {
      {{}, {}},
      {{{"language", "eng"}}, {}},
      {{{"TIT2", "Song"}, {"language", "eng"}}, {"  Metadata:", "    title           : Song"}},
      {{{"TAL", "Disc"}, {"TXXX", "x"}, {"Language", "pl"}},
       {"  Metadata:", "    album           : Disc", "    TXXX            : x",
        "    Language        : pl"}},
      {{{"a_very_long_key_name", "v"}}, {"  Metadata:", "    a_very_long_key_name: v"}},
  };
  for (const auto& c : cases) {
    media::Dict d;
    for (const auto& [k, v] : c.entries) ff::av_dict_set(&d.raw, k, v, AV_DICT_MATCH_CASE);
    std::vector<std::string> lines;
    AppendMetadataBlock(lines, d.raw, "  ");
    EXPECT_EQ(lines, c.lines);
  }
  EXPECT_EQ(DisplayMetadataKey("TYER"), "year");
  EXPECT_EQ(DisplayMetadataKey("tyer"), "tyer");  // exact, case-sensitive
}

TEST_F(DecoderInfo, MetadataOnlyFileDescription) {
  // A metadata text file: a container with metadata and no streams, duration or bit rate.
  const std::string path = ClipCache::Get().File("tags.txt");
  fixtures::MakeTextFile(path, ";FFMETADATA1\nTIT2=First\nlanguage=pol\nartist=Band\n");
  TCustomDecoder dec;
  ASSERT_TRUE(dec.LoadFile(path, "ffmetadata")) << dec.LastErrMsg();
  EXPECT_EQ(dec.StreamCount(), 0);
  EXPECT_EQ(dec.FileStreamInfo().Duration, -1);
  EXPECT_EQ(dec.FileStreamInfo().Title, "");
  const std::vector<std::string> expected = {
      "File Name: " + path,
      "Format Name: ffmetadata",
      "Format Long Name: FFmpeg metadata in text",
      "File Size: 49 Byte",
      "Duration: N/A",
      "StartTime: 0.000000",
      "Bit Rate: N/A",
      "Metadata:",
      "  title           : First",
      "  artist          : Band",
  };
  EXPECT_EQ(Lines(dec.FileInfoText()), expected);
}

TEST_F(DecoderInfo, ContainerRecordFromMetadata) {
  const std::string path = ClipCache::Get().File("record.txt");
  fixtures::MakeTextFile(path,
                         ";FFMETADATA1\ntitle=T\nauthor=A\ncopyright=C\ncomment=Cm\nalbum=Al\n"
                         "genre=G\ndate=2009-05-01\ntrack=3/12\n"
                         "creation_time=2009-05-01T12:00:00.000000Z\n");
  TCustomDecoder dec;
  ASSERT_TRUE(dec.LoadFile(path, "ffmetadata"));
  const TFileStreamInfo fi = dec.FileStreamInfo();
  EXPECT_EQ(fi.Title, "T");
  EXPECT_EQ(fi.Author, "A");
  EXPECT_EQ(fi.Copyright, "C");
  EXPECT_EQ(fi.Comment, "Cm");
  EXPECT_EQ(fi.Album, "Al");
  EXPECT_EQ(fi.Genre, "G");
  EXPECT_EQ(fi.Year, 2009);
  EXPECT_EQ(fi.Track, 3);
  EXPECT_EQ(fi.TimeStamp, 1241179200);
  EXPECT_EQ(fi.BitRate, 0);
  // Shown in local standard time; noon UTC is the same day in every zone.
  bool found = false;
  for (const std::string& line : Lines(dec.FileInfoText()))
    found = found || line.rfind("Time Stamp: 2009-05-01 ", 0) == 0;
  EXPECT_TRUE(found);
}

TEST_F(DecoderInfo, KnownTransportStreamDescribedInFull) {
  // A 29.97 fps MPEG-TS clip: a program with its metadata, 90 kHz time bases, show-ids.
  fixtures::ClipSpec spec = fixtures::VideoOnly("mpegts", "mpeg2video");
  spec.fps = {30000, 1001};
  spec.seconds = 0.5;
  const std::string& path = ClipCache::Get().Clip("known.ts", spec);
  TCustomDecoder dec;
  ASSERT_TRUE(dec.LoadFile(path));
  // 15 frames of 1001/30000 s; the muxer starts the clock one frame in (3003/90000 s).
  const std::vector<std::string> expected = {
      "File Name: " + path,
      "Format Name: mpegts",
      "Format Long Name: MPEG-TS (MPEG-2 Transport Stream)",
      "File Size: 15.05 KB",
      "Duration: 00:00:00.500",
      "StartTime: 0.033367",
      "Bit Rate: 246 kb/s",
      "Program 1 FFmpeg@Service01",
      "  Metadata:",
      "    service_name    : Service01",
      "    service_provider: FFmpeg",
      "Stream #0[0x100], 1/90000: Video: mpeg2video (Main) ([2][0][0][0] / 0x0002), "
      "yuv420p(tv, progressive), 320x240 [SAR 1:1 DAR 4:3], 29.97 fps, 29.97 tbr, 90k tbn, "
      "59.94 tbc, StartTime: 0.033367, Duration: 00:00:00.500",
  };
  EXPECT_EQ(Lines(dec.FileInfoText()), expected);
}

TEST_F(DecoderInfo, StreamLineRatesAndAspects) {
  fixtures::ClipSpec spec = fixtures::VideoOnly("avi", "mpeg4");
  spec.seconds = 0.2;
  const std::string& path = ClipCache::Get().Clip("rates.avi", spec);
  media::InputFormatPtr ctx;
  media::UnicodeIOPtr io;
  ASSERT_EQ(media::OpenInputFile(ctx, io, media::LibFileName(path), nullptr, nullptr), 0);
  ASSERT_GE(ff::avformat_find_stream_info(ctx.get(), nullptr), 0);
  TCustomDecoder dec;
  dec.SetFileHandle(ctx.get());
  std::vector<std::string> lines = Lines(dec.FileInfoText());
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(", 25 fps, 25 tbr, 25 tbn, 25 tbc, StartTime: 0.000000"),
            std::string::npos)
      << lines.back();
  EXPECT_EQ(lines.back().find("PAR"), std::string::npos);

  // A stream aspect that differs from the codec's is printed with the display aspect.
  AVStream* st = ctx->streams[0];
  st->sample_aspect_ratio = {16, 11};
  lines = Lines(dec.FileInfoText());
  EXPECT_NE(lines.back().find("[SAR 1:1 DAR 4:3], PAR 16:11 DAR 64:33, 25 fps"), std::string::npos)
      << lines.back();

  // A codec sample aspect of 0/1 (unknown) gives an aspect ratio of 0.
  st->codecpar->sample_aspect_ratio = {0, 1};
  EXPECT_EQ(dec.ReadVideoStreamInfo(0).AspectRatio, 0.0f);
  st->codecpar->sample_aspect_ratio = {4, 3};
  EXPECT_FLOAT_EQ(dec.ReadVideoStreamInfo(0).AspectRatio, 320.0f * 4 / 3 / 240);
  dec.SetFileHandle(nullptr);
}

}  // namespace
}  // namespace trelvix::decoder
