// Text subtitle tracks of videos read into the timetable as the matching subtitle file would be.
#include <gtest/gtest.h>

#include <string>

#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "subtitles/embedded_subtitles.h"
#include "support/temp_dir.h"

namespace trelvix::subtitles {
namespace {

class EmbeddedSubtitles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(media::FFLoader().Load(media::kEncoderLibraries)) << media::FFLoader().LastErrMsg();
  }
  // A one-second clip with a subtitle stream (stream 2) holding the cues.
  std::string Film(const std::string& container, const std::string& codec,
                   const std::vector<fixtures::SubtitleCue>& cues) {
    const std::string path = dir_.File("film." + container);
    fixtures::MakeClip(path, {.container = container,
                              .video_codec = "mpeg4",
                              .audio_codec = "aac",
                              .seconds = 4.0,
                              .subtitle_codec = codec,
                              .subtitles = cues});
    return path;
  }
  test::TempDir dir_;
};

struct CodecCase {
  const char* container;
  const char* codec;
  const char* leading;     // what the file layout puts before the text
  const char* second_key;  // a second cue in the same second: SubRip moves it to the next free
                           // second, SubStation (line timing) by half a second
};

class EveryTextCodec : public EmbeddedSubtitles, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(EveryTextCodec, CuesBecomeRowsAtTheirWholeSecond) {
  const CodecCase c = GetParam();
  const std::string film =
      Film(c.container, c.codec,
           {{1.25, 2.0, "Dzień dobry"}, {1.5, 2.5, "Drugi"}, {3.0, 3.5, "Koniec"}});
  const TEmbeddedSubtitles s = LoadEmbeddedSubtitles(film, 2, 25.0);
  ASSERT_TRUE(s.Error.isEmpty()) << s.Error.toStdString();
  EXPECT_TRUE(s.Result.Loaded);
  ASSERT_EQ(s.Timetable.Count(), 4);
  EXPECT_EQ(s.Timetable.Row(0).Key, "0");  // the banner
  const QString lead = QString::fromUtf8(c.leading);
  // Starts are truncated to whole seconds.
  EXPECT_EQ(s.Timetable.Row(1).Key, "1000");
  EXPECT_EQ(s.Timetable.Row(1).Text, lead + QStringLiteral("Dzień dobry"));
  EXPECT_EQ(s.Timetable.Row(2).Key, c.second_key);
  EXPECT_EQ(s.Timetable.Row(2).Text, lead + QStringLiteral("Drugi"));
  EXPECT_EQ(s.Timetable.Row(3).Key, "3000");
  EXPECT_EQ(s.Timetable.Row(3).Text, lead + QStringLiteral("Koniec"));
}

INSTANTIATE_TEST_SUITE_P(Codecs, EveryTextCodec,
                         ::testing::Values(CodecCase{"mkv", "subrip", "", "2000"},
                                           CodecCase{"mkv", "ass", " ", "1500"},
                                           CodecCase{"mp4", "mov_text", "", "2000"},
                                           CodecCase{"mkv", "webvtt", "", "2000"}),
                         [](const auto& info) {
                           return std::string(info.param.container) + "_" + info.param.codec;
                         });

TEST_F(EmbeddedSubtitles, SubStationMarkupAndLongTextAsInAFile) {
  const std::string long_text(300, 'x');
  const std::string film = Film("mkv", "ass", {{1.0, 2.0, "{\\i1}Kursywa"}, {2.0, 3.0, long_text}});
  const TEmbeddedSubtitles s = LoadEmbeddedSubtitles(film, 2, 25.0);
  ASSERT_EQ(s.Timetable.Count(), 3) << s.Error.toStdString();
  // The first override block goes, as for a SubStation file.
  EXPECT_EQ(s.Timetable.Row(1).Text, QStringLiteral(" Kursywa"));
  EXPECT_LE(s.Timetable.Row(2).Text.size(), 255);
  EXPECT_GE(s.Timetable.Row(2).Text.size(), 250);
}

TEST_F(EmbeddedSubtitles, LongSubRipCueIsBoundedLikeALineOfAFile) {
  const std::string film = Film("mkv", "subrip", {{1.0, 2.0, std::string(300, 'y')}});
  const TEmbeddedSubtitles s = LoadEmbeddedSubtitles(film, 2, 25.0);
  ASSERT_EQ(s.Timetable.Count(), 2) << s.Error.toStdString();
  EXPECT_EQ(s.Timetable.Row(1).Text, QString(255, u'y'));
}

TEST_F(EmbeddedSubtitles, NotASubtitleTrackOrNoFile) {
  const std::string film = Film("mkv", "subrip", {{1.0, 2.0, "a"}});
  for (int stream : {0, 1, 3, -1}) {
    const TEmbeddedSubtitles s = LoadEmbeddedSubtitles(film, stream, 25.0);
    EXPECT_FALSE(s.Error.isEmpty()) << stream;
    EXPECT_FALSE(s.Result.Loaded) << stream;
    EXPECT_EQ(s.Timetable.Count(), 0) << stream;
  }
  const TEmbeddedSubtitles missing = LoadEmbeddedSubtitles(dir_.File("none.mkv"), 2, 25.0);
  EXPECT_FALSE(missing.Error.isEmpty());
}

TEST_F(EmbeddedSubtitles, TextCodecNames) {
  for (const char* name : {"subrip", "ass", "ssa", "mov_text", "webvtt", "text"})
    EXPECT_TRUE(IsTextSubtitleCodec(name)) << name;
  for (const char* name : {"dvd_subtitle", "hdmv_pgs_subtitle", "dvb_subtitle", "xsub", ""})
    EXPECT_FALSE(IsTextSubtitleCodec(name)) << name;
}

}  // namespace
}  // namespace trelvix::subtitles
