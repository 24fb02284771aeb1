// The choice of audio and subtitle tracks by language, flags and the user's requests, on films
// with an English default audio track, a Polish one and a Polish subtitle track.
#include <gtest/gtest.h>

#include <string>

#include "decoder/custom_decoder.h"
#include "fixtures/tracks.h"
#include "media/ff_load.h"
#include "profile/iphone_profile.h"
#include "profile/track_choice.h"
#include "support/temp_dir.h"

namespace trelvix::profile {
namespace {

TEST(LanguageOfCode, TwoAndThreeLetterCodesWithOrWithoutRegion) {
  struct Case {
    const char* code;
    QLocale::Language language;
  };
  for (const Case& c :
       {Case{"pl", QLocale::Polish}, Case{"pol", QLocale::Polish}, Case{"POL", QLocale::Polish},
        Case{"pl_PL", QLocale::Polish}, Case{"pl-PL", QLocale::Polish},
        Case{"en", QLocale::English}, Case{"eng", QLocale::English}, Case{"ger", QLocale::German},
        Case{"deu", QLocale::German}, Case{"fre", QLocale::French},
        Case{"und", QLocale::AnyLanguage}, Case{"", QLocale::AnyLanguage},
        Case{"xx", QLocale::AnyLanguage}, Case{"zzz", QLocale::AnyLanguage}})
    EXPECT_EQ(LanguageOfCode(c.code), c.language) << c.code;
}

// Stream indexes of the language films.
constexpr int kEnglishAudio = 1;
constexpr int kPolishAudio = 2;
constexpr int kPolishSubtitles = 3;

struct ChoiceCase {
  const char* name;
  QLocale::Language locale;
  TTrackRequest audio;
  TTrackRequest subtitle;
  int audio_stream;     // expected; -1 none
  int subtitle_stream;  // expected; -1 none
  bool audio_error = false;
  bool subtitle_error = false;
};

class TrackChoice : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(media::FFLoader().Load(media::kEncoderLibraries)) << media::FFLoader().LastErrMsg();
    dir_ = new test::TempDir;
    for (const char* c : {"mkv", "mp4"})
      fixtures::MakeLanguageFilm(dir_->File(std::string("film.") + c), c, 1.0);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static test::TempDir* dir_;
};
test::TempDir* TrackChoice::dir_ = nullptr;

TEST_P(TrackChoice, ByLocaleFlagsAndRequests) {
  decoder::TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(dir_->File("film." + GetParam()))) << d.LastErrMsg();
  const ChoiceCase cases[] = {
      {"polish locale", QLocale::Polish, {}, {}, kPolishAudio, kPolishSubtitles},
      {"english locale", QLocale::English, {}, {}, kEnglishAudio, -1},
      {"other locale: default audio", QLocale::German, {}, {}, kEnglishAudio, -1},
      {"track numbers",
       QLocale::English,
       {.Track = 2},
       {.Track = 1},
       kPolishAudio,
       kPolishSubtitles},
      {"first audio track", QLocale::Polish, {.Track = 1}, {}, kEnglishAudio, kPolishSubtitles},
      {"languages",
       QLocale::English,
       {.Language = "pl"},
       {.Language = "pol"},
       kPolishAudio,
       kPolishSubtitles},
      {"english audio asked for",
       QLocale::Polish,
       {.Language = "en"},
       {},
       kEnglishAudio,
       kPolishSubtitles},
      {"no such track", QLocale::English, {.Track = 3}, {.Track = 2}, -1, -1, true, true},
      {"no such language",
       QLocale::English,
       {.Language = "fr"},
       {.Language = "eng"},
       -1,
       -1,
       true,
       true},
  };
  for (const ChoiceCase& c : cases) {
    const TTrackChoice a = ChooseAudioTrack(d, c.audio, c.locale);
    const TTrackChoice s = ChooseSubtitleTrack(d, c.subtitle, c.locale);
    EXPECT_EQ(a.StreamIndex, c.audio_stream) << c.name;
    EXPECT_EQ(s.StreamIndex, c.subtitle_stream) << c.name;
    EXPECT_EQ(!a.Error.empty(), c.audio_error) << c.name << ": " << a.Error;
    EXPECT_EQ(!s.Error.empty(), c.subtitle_error) << c.name << ": " << s.Error;
  }
}

TEST_P(TrackChoice, TrackListNamesEveryTrackWithItsLanguageAndFlags) {
  decoder::TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(dir_->File("film." + GetParam()))) << d.LastErrMsg();
  const std::string codec = GetParam() == "mp4" ? "mov_text" : "subrip";
  EXPECT_EQ(TrackListText(d), "Video track 1: stream #0, language " +
                                  std::string(GetParam() == "mp4" ? "und" : "not set") +
                                  ", default, rotation 0\n"
                                  "Audio track 1: stream #1, language eng, default\n"
                                  "Audio track 2: stream #2, language pol\n"
                                  "Subtitle track 1: stream #3, language pol" +
                                  (GetParam() == "mp4" ? ", default" : "") + ", " + codec + "\n");
}

TEST_P(TrackChoice, TheProfileMapsTheTrackOfTheUsersLanguage) {
  decoder::TCustomDecoder d;
  ASSERT_TRUE(d.LoadFile(dir_->File("film." + GetParam()))) << d.LastErrMsg();
  TIPhoneProfile profile;
  profile.SetSourceDecoder(&d);
  encoder::TOutputOptions out;
  struct Case {
    QLocale locale;
    int set;  // SetAudioStream, or the automatic choice
    const char* maps;
  };
  for (const Case& c : {Case{QLocale(QLocale::Polish), TIPhoneProfile::kAutoAudioStream,
                             "vpre=ipod640\nmap=0:0\nmap=0:2"},
                        Case{QLocale(QLocale::English), TIPhoneProfile::kAutoAudioStream,
                             "vpre=ipod640\nmap=0:0\nmap=0:1"},
                        Case{QLocale(QLocale::Polish), 1, "vpre=ipod640\nmap=0:0\nmap=0:1"},
                        Case{QLocale(QLocale::Polish), -1, "vpre=ipod640"}}) {
    QLocale::setDefault(c.locale);
    profile.SetAudioStream(c.set);
    profile.BuildOutputOptions(out);
    EXPECT_EQ(out.ExtOptions, c.maps) << c.locale.name().toStdString() << " " << c.set;
  }
  QLocale::setDefault(QLocale::system());
}

INSTANTIATE_TEST_SUITE_P(Containers, TrackChoice, ::testing::Values("mkv", "mp4"));

}  // namespace
}  // namespace trelvix::profile
