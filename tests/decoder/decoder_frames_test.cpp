// Frame access: seeking, decoding forwards and backwards, end of input, still images.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "decoder/decoder_messages.h"
#include "decoder/ff_decoder.h"
#include "decoder_test_util.h"
#include "media/ffapi.h"
#include "support/log_capture.h"

namespace trelvix::decoder {
namespace {

using testing::ClipCache;

constexpr int64_t kFrameUs = 40000;  // 25 fps
constexpr int kFrames = 50;          // 2 s

// The frame number shown by the current picture, -1 when there is none or it is unreadable.
int ShownNumber(const TFFDecoder& dec) {
  const TFrameInfo fi = dec.FrameInfo();
  if (!fi.Ready) return -1;
  if (fi.PixFmt == AV_PIX_FMT_RGB24)
    return fixtures::ReadFrameNumberRGB(fi.Picture.data[0], fi.Picture.linesize[0], 24, fi.Width,
                                        fi.Height);
  return fixtures::ReadFrameNumber(fi.Picture.data[0], fi.Picture.linesize[0], fi.Width, fi.Height);
}

class DecoderFrames : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    testing::LoadLibraries();
    fixtures::ClipSpec spec = fixtures::Preset(GetParam());
    spec.seconds = kFrames / 25.0;
    path_ = ClipCache::Get().Clip("frames." + GetParam(), spec);
    for (const fixtures::DecodedFrame& f : fixtures::DecodeVideoFrames(path_))
      if (f.key_frame) keys_.push_back(f.number);
    ASSERT_GE(keys_.size(), 3u);
    ASSERT_TRUE(dec_.LoadFile(path_)) << dec_.LastErrMsg();
  }

  int KeyAtOrBefore(int n) const {
    int best = -1;
    for (int k : keys_)
      if (k <= n) best = k;
    return best;
  }
  int KeyAtOrAfter(int n) const {
    for (int k : keys_)
      if (k >= n) return k;
    return -1;
  }
  // Seeks to frame n's key frame and decodes forward to n.
  void GoTo(int n) {
    ASSERT_TRUE(dec_.Seek(n * kFrameUs, sfBackward)) << dec_.LastErrMsg();
    ASSERT_TRUE(dec_.Decode());
    while (dec_.FrameInfo().PTS < n * kFrameUs) ASSERT_TRUE(dec_.Decode()) << dec_.LastErrMsg();
    ASSERT_EQ(ShownNumber(dec_), n);
  }

  std::string path_;
  std::vector<int> keys_;
  TFFDecoder dec_;
};

TEST_P(DecoderFrames, SeekLandsOnKeyFrameThenStepsToTheTarget) {
  test::LogCapture log;
  for (int target : {5, 13, 20, 47}) {
    SCOPED_TRACE(target);
    ASSERT_TRUE(dec_.Seek(target * kFrameUs, sfBackward)) << dec_.LastErrMsg();
    EXPECT_FALSE(dec_.FrameInfo().Ready);  // a seek drops the picture
    ASSERT_TRUE(dec_.Decode()) << dec_.LastErrMsg();
    const int key = KeyAtOrBefore(target);
    EXPECT_EQ(ShownNumber(dec_), key);
    EXPECT_TRUE(dec_.FrameInfo().IsKeyFrame);
    EXPECT_EQ(dec_.FrameInfo().PictureType, ptI);
    EXPECT_EQ(dec_.FrameInfo().PTS, key * kFrameUs);
    while (dec_.FrameInfo().PTS < target * kFrameUs) ASSERT_TRUE(dec_.Decode());
    EXPECT_EQ(ShownNumber(dec_), target);
    EXPECT_EQ(dec_.FrameInfo().PTS, target * kFrameUs);

    // Without sfBackward the library seeks to the key frame at or after the time.
    ASSERT_TRUE(dec_.Seek(target * kFrameUs, 0));
    ASSERT_TRUE(dec_.Decode());
    EXPECT_EQ(ShownNumber(dec_), KeyAtOrAfter(target));
  }
}

TEST_P(DecoderFrames, EveryFrameUpToTheLastIsDecoded) {
  test::LogCapture log;
  bool saw_b_frame = false;
  int64_t last_position = -1;
  for (int n = 0; n < kFrames; ++n) {
    ASSERT_TRUE(dec_.Decode()) << "frame " << n << ": " << dec_.LastErrMsg();
    const TFrameInfo fi = dec_.FrameInfo();
    ASSERT_EQ(ShownNumber(dec_), n);
    EXPECT_EQ(fi.PTS, n * kFrameUs);
    EXPECT_EQ(fi.StreamIndex, dec_.FirstVideoStreamIndex());
    EXPECT_EQ(fi.Width, 320);
    EXPECT_EQ(fi.Height, 240);
    EXPECT_GE(fi.Position, last_position);
    last_position = fi.Position;
    saw_b_frame = saw_b_frame || fi.PictureType == ptB;
  }
  if (GetParam() == "mp4") {
    EXPECT_TRUE(saw_b_frame) << "the clip should hold B-frames";
  }

  // Past the end: the picture stays, and decoding reports the end until the next seek.
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(dec_.Decode());
    EXPECT_EQ(dec_.LastErrMsg(), msg::kStreamEOF);
    EXPECT_TRUE(dec_.Eof());
  }
  EXPECT_EQ(ShownNumber(dec_), kFrames - 1);
  EXPECT_TRUE(log.Contains(msg::kStreamEOF));

  ASSERT_TRUE(dec_.Seek(0));
  EXPECT_FALSE(dec_.Eof());
  ASSERT_TRUE(dec_.Decode());
  EXPECT_EQ(ShownNumber(dec_), 0);
  EXPECT_EQ(dec_.FrameInfo().PTS, 0);
}

TEST_P(DecoderFrames, PreviousFrame) {
  test::LogCapture log;
  for (int from : {20, 12, 1}) {
    SCOPED_TRACE(from);
    GoTo(from);
    ASSERT_TRUE(dec_.DecodePreviousFrame()) << dec_.LastErrMsg();
    EXPECT_EQ(ShownNumber(dec_), from - 1);
    EXPECT_EQ(dec_.FrameInfo().PTS, (from - 1) * kFrameUs);
  }
  // From the first picture there is nothing before: it stays on the first one.
  ASSERT_TRUE(dec_.DecodePreviousFrame());
  EXPECT_EQ(ShownNumber(dec_), 0);
}

TEST_P(DecoderFrames, PreviousKeyFrameBeforeAnyDecodeIsTheLastOne) {
  test::LogCapture log;
  ASSERT_TRUE(dec_.DecodePreviousKeyFrame()) << dec_.LastErrMsg();
  EXPECT_EQ(ShownNumber(dec_), keys_.back());
  EXPECT_TRUE(dec_.FrameInfo().IsKeyFrame);
  // And from there backwards, one key frame at a time.
  for (auto k = keys_.rbegin() + 1; k != keys_.rend(); ++k) {
    ASSERT_TRUE(dec_.DecodePreviousKeyFrame());
    EXPECT_EQ(ShownNumber(dec_), *k);
  }
  // From the first picture: the first key frame again (its time is 0).
  ASSERT_TRUE(dec_.DecodePreviousKeyFrame());
  EXPECT_EQ(ShownNumber(dec_), keys_.front());
}

TEST_P(DecoderFrames, PreviousKeyFrameFromInsideAGroup) {
  test::LogCapture log;
  GoTo(keys_[1] + 3);
  ASSERT_TRUE(dec_.DecodePreviousKeyFrame());
  EXPECT_EQ(ShownNumber(dec_), keys_[1]);
}

TEST_P(DecoderFrames, NextKeyFrame) {
  test::LogCapture log;
  ASSERT_TRUE(dec_.Decode());
  for (size_t i = 1; i < keys_.size(); ++i) {
    ASSERT_TRUE(dec_.DecodeNextKeyFrame()) << dec_.LastErrMsg();
    EXPECT_EQ(ShownNumber(dec_), keys_[i]);
  }
}

// A frame rate above a million per second (or a negative one) gives a frame duration of 0: the
// backwards search stepped by nothing and never ended. It must still find the key frame.
TEST_P(DecoderFrames, PreviousKeyFrameWithAnAbsurdFrameRateEnds) {
  test::LogCapture log;
  const AVRational rates[] = {{2000000, 1}, {INT32_MAX, 1}, {-25, 1}};
  for (const AVRational rate : rates) {
    SCOPED_TRACE(rate.num);
    GoTo(keys_[1] + 3);
    AVFormatContext* ic = dec_.FileHandle();
    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->r_frame_rate = rate;
    ASSERT_TRUE(dec_.DecodePreviousKeyFrame()) << dec_.LastErrMsg();
    EXPECT_EQ(ShownNumber(dec_), keys_[1]);
    ASSERT_TRUE(dec_.DecodePreviousFrame()) << dec_.LastErrMsg();
  }
}

INSTANTIATE_TEST_SUITE_P(Containers, DecoderFrames, ::testing::Values("mp4", "avi", "mkv"));

class DecoderFrameGuards : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadLibraries(); }
};

TEST_F(DecoderFrameGuards, StreamSelection) {
  test::LogCapture log;
  log.Allow("is not video stream|no video stream|is invalid");
  fixtures::ClipSpec spec = fixtures::Preset("mkv");
  spec.seconds = 0.4;
  TFFDecoder dec;
  EXPECT_FALSE(dec.Decode());
  EXPECT_EQ(dec.LastErrMsg(), msg::kFileNotLoaded);
  EXPECT_EQ(dec.Position(), -1);

  ASSERT_TRUE(dec.LoadFile(ClipCache::Get().Clip("short.mkv", spec)));
  EXPECT_GE(dec.Position(), 0);
  EXPECT_FALSE(dec.Decode(1));
  EXPECT_EQ(dec.LastErrMsg(), "stream #1 is not video stream.");
  EXPECT_FALSE(dec.Decode(2));
  EXPECT_EQ(dec.LastErrMsg(), "stream index #2 is invalid.");
  ASSERT_TRUE(dec.Decode(0));
  EXPECT_EQ(dec.FrameInfo().StreamIndex, 0);

  ASSERT_TRUE(dec.LoadFile(ClipCache::Get().Clip("tone.mkv", fixtures::AudioOnly("mkv", "aac"))));
  EXPECT_FALSE(dec.Decode());
  EXPECT_EQ(dec.LastErrMsg(), msg::kNoVideoStream);
  // Audio is the seek reference of a file without video.
  EXPECT_TRUE(dec.Seek(100000));
}

TEST_F(DecoderFrameGuards, ByteSeek) {
  test::LogCapture log;
  log.Allow("could not seek to position 0 bytes");
  fixtures::ClipSpec spec = fixtures::Preset("avi");
  spec.seconds = 1.2;
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(ClipCache::Get().Clip("bytes.avi", spec)));
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(dec.Decode());
  ASSERT_TRUE(dec.Seek(0, sfByte)) << dec.LastErrMsg();
  ASSERT_TRUE(dec.Decode());
  EXPECT_EQ(ShownNumber(dec), 0);

  // MP4 cannot seek by bytes; the failure keeps its text.
  fixtures::ClipSpec mp4 = fixtures::Preset("mp4");
  mp4.seconds = 0.4;
  ASSERT_TRUE(dec.LoadFile(ClipCache::Get().Clip("bytes.mp4", mp4)));
  EXPECT_FALSE(dec.Seek(0, sfByte));
  EXPECT_EQ(dec.LastErrMsg(), "could not seek to position 0 bytes");
  EXPECT_TRUE(log.Contains("could not seek to position 0 bytes"));
}

TEST_F(DecoderFrameGuards, SeekToZeroWithALateFirstTimeStamp) {
  // MPEG-TS starts its clock well above 0; a seek to 0 still finds the first frame.
  test::LogCapture log;
  fixtures::ClipSpec spec = fixtures::Preset("mpegts");
  spec.seconds = 1;
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(ClipCache::Get().Clip("late.ts", spec)));
  ASSERT_GT(dec.ReadVideoStreamInfo(-1).StartTimeScaled, 0);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(dec.Decode());
  for (int64_t t : {int64_t{0}, int64_t{-5000000}}) {
    ASSERT_TRUE(dec.Seek(t)) << dec.LastErrMsg();
    ASSERT_TRUE(dec.Decode());
    EXPECT_EQ(ShownNumber(dec), 0);
    EXPECT_EQ(dec.FrameInfo().PTS, 0);
  }
}

TEST_F(DecoderFrameGuards, StillImageKeepsItsPicture) {
  test::LogCapture log;
  const std::string png = ClipCache::Get().File("still.png");
  fixtures::MakePatternPng(png, 96, 64, 321);
  for (const char* format : {"", "image2"}) {
    SCOPED_TRACE(format);
    TFFDecoder dec;
    ASSERT_TRUE(dec.LoadFile(png, format)) << dec.LastErrMsg();
    ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
    EXPECT_EQ(ShownNumber(dec), 321);
    const uint8_t* buffer = dec.FrameInfo().Buffer;
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(dec.Decode());
      EXPECT_EQ(dec.FrameInfo().Buffer, buffer);
      EXPECT_EQ(ShownNumber(dec), 321);
    }
    EXPECT_FALSE(dec.Seek(0));
    EXPECT_EQ(dec.LastErrMsg(), "\"image2\" format cannot to be seeked.");
    EXPECT_FALSE(dec.DecodeNextKeyFrame());
  }
}

// The decoder and the player share one rule for still images: a picture file and the
// single-picture demuxers are still; "image2pipe", a stream of pictures, and films are not.
TEST_F(DecoderFrameGuards, StillImageFormats) {
  const struct {
    const char* name;
    bool still;
  } cases[] = {{"image2", true},      {"png_pipe", true},  {"jpeg_pipe", true},
               {"image2pipe", false}, {"matroska", false}, {"mov", false}};
  for (const auto& c : cases) {
    const AVInputFormat* fmt = ff::av_find_input_format(c.name);
    ASSERT_NE(fmt, nullptr) << c.name;
    EXPECT_EQ(IsStillImageFormat(fmt), c.still) << c.name;
  }
  EXPECT_FALSE(IsStillImageFormat(nullptr));
}

// Two pictures through "image2pipe" are two pictures, read one after the other.
TEST_F(DecoderFrameGuards, PicturesThroughAPipeAreAStream) {
  test::LogCapture log;
  const std::string a = ClipCache::Get().File("pipe_a.png");
  const std::string b = ClipCache::Get().File("pipe_b.png");
  fixtures::MakePatternPng(a, 96, 64, 7);
  fixtures::MakePatternPng(b, 96, 64, 8);
  const std::string both = ClipCache::Get().File("two.pipe");
  {
    std::ofstream out(both, std::ios::binary);
    out << std::ifstream(a, std::ios::binary).rdbuf() << std::ifstream(b, std::ios::binary).rdbuf();
  }
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(both, "image2pipe")) << dec.LastErrMsg();
  ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
  EXPECT_EQ(ShownNumber(dec), 7);
  ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
  EXPECT_EQ(ShownNumber(dec), 8);
  EXPECT_FALSE(dec.Decode());
}

TEST_F(DecoderFrameGuards, NonAsciiNameUnderThe8BitLocale) {
  // Under the C locale the name cannot be handed to the library as it is; it goes through the
  // suite's own file access and must still open, measure, decode and read back.
  test::LogCapture log;
  fixtures::ClipSpec spec = fixtures::Preset("mkv");
  spec.seconds = 0.2;
  const std::string& source = ClipCache::Get().Clip("plain.mkv", spec);
  const std::string name = ClipCache::Get().File("zażółć gęślą.mkv");
  std::filesystem::copy_file(source, name, std::filesystem::copy_options::overwrite_existing);
  const std::string old_locale = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  {
    TFFDecoder dec;
    const bool loaded = dec.LoadFile(name);
    EXPECT_TRUE(loaded) << dec.LastErrMsg();
    if (loaded) {
      EXPECT_EQ(dec.FileName(), name);
      EXPECT_EQ(dec.FileSize(), static_cast<int64_t>(std::filesystem::file_size(source)));
      EXPECT_TRUE(dec.Decode());
      EXPECT_EQ(ShownNumber(dec), 0);
      EXPECT_TRUE(dec.Seek(0));
    }
  }
  std::setlocale(LC_ALL, old_locale.c_str());
}

}  // namespace
}  // namespace trelvix::decoder
