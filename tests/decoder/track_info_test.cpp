// Stream information of phone clips and films with several tracks: the turn of the display
// matrix, the language tags and the default and forced flags, text and picture subtitles.
#include <gtest/gtest.h>

#include <string>

#include "decoder/custom_decoder.h"
#include "decoder/display_rotation.h"
#include "decoder_test_util.h"
#include "fixtures/tracks.h"
#include "media/ffapi.h"

namespace trelvix::decoder {
namespace {

class TrackInfo : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadLibraries(); }
  test::TempDir dir_;
};

struct RotationCase {
  int rotation;
  bool mirror;
};

class StoredRotation : public TrackInfo, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(StoredRotation, IsReportedWithTheVideoStream) {
  const RotationCase c = GetParam();
  const std::string clip = dir_.File("phone.mp4");
  fixtures::MakeRotatedClip(
      clip, c.rotation,
      {.container = "mp4", .video_codec = "mpeg4", .width = 64, .height = 36, .seconds = 0.2},
      c.mirror);
  TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(clip)) << d.LastErrMsg();
  const TVideoStreamInfo v = d.ReadVideoStreamInfo(0);
  EXPECT_EQ(v.Rotation, c.rotation);
  EXPECT_EQ(v.Mirrored, c.mirror);
  // The stored picture keeps its own size.
  EXPECT_EQ(v.Width, 64);
  EXPECT_EQ(v.Height, 36);
}

INSTANTIATE_TEST_SUITE_P(Turns, StoredRotation,
                         ::testing::Values(RotationCase{0, false}, RotationCase{90, false},
                                           RotationCase{180, false}, RotationCase{270, false},
                                           RotationCase{90, true}, RotationCase{0, true}),
                         [](const auto& info) {
                           return std::to_string(info.param.rotation) +
                                  (info.param.mirror ? "_mirrored" : "");
                         });

TEST(DisplayMatrix, QuarterTurnsAndMirrorsFromTheMatrix) {
  testing::LoadLibraries();
  struct Case {
    double cw_angle;  // as the library's rotation setter takes it
    bool flip;
    TDisplayRotation expected;
  };
  for (const Case& c :
       {Case{0, false, {0, false}}, Case{90, false, {90, false}}, Case{-90, false, {270, false}},
        Case{180, false, {180, false}}, Case{89.6, false, {90, false}}, Case{90, true, {90, true}},
        Case{0, true, {0, true}}}) {
    int32_t m[9];
    ff::av_display_rotation_set(m, c.cw_angle);
    if (c.flip) ff::av_display_matrix_flip(m, 1, 0);
    const TDisplayRotation r = RotationOfDisplayMatrix(m);
    EXPECT_EQ(r.Degrees, c.expected.Degrees) << c.cw_angle << (c.flip ? " flipped" : "");
    EXPECT_EQ(r.Mirror, c.expected.Mirror) << c.cw_angle << (c.flip ? " flipped" : "");
  }
  const int32_t singular[9] = {};
  EXPECT_TRUE(RotationOfDisplayMatrix(singular).IsIdentity());
}

class FilmTracks : public TrackInfo, public ::testing::WithParamInterface<const char*> {};

TEST_P(FilmTracks, LanguagesFlagsAndSubtitleKind) {
  const std::string container = GetParam();
  const std::string film = dir_.File("film." + container);
  fixtures::MakeLanguageFilm(film, container, 1.0);
  TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(film)) << d.LastErrMsg();
  ASSERT_EQ(d.StreamCount(), 4);
  EXPECT_EQ(d.AudioStreamCount(), 2);
  const TAudioStreamInfo eng = d.ReadAudioStreamInfo(1);
  const TAudioStreamInfo pol = d.ReadAudioStreamInfo(2);
  EXPECT_EQ(eng.Language, "eng");
  EXPECT_TRUE(eng.Default);
  EXPECT_EQ(pol.Language, "pol");
  EXPECT_FALSE(pol.Default);
  EXPECT_FALSE(pol.Forced);
  const TSubtitleStreamInfo sub = d.ReadSubtitleStreamInfo(3);
  EXPECT_EQ(sub.Language, "pol");
  // MP4 muxers enable the first track of every kind, which reads back as the default flag.
  EXPECT_EQ(sub.Default, container == "mp4");
  EXPECT_FALSE(sub.Bitmap);
  EXPECT_EQ(sub.Codec, container == "mp4" ? "mov_text" : "subrip");
  EXPECT_EQ(d.ReadVideoStreamInfo(0).Rotation, 0);
}

INSTANTIATE_TEST_SUITE_P(Containers, FilmTracks, ::testing::Values("mkv", "mp4"));

}  // namespace
}  // namespace trelvix::decoder
