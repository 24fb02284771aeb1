// A video's own text subtitle track loaded by the window when no subtitle file comes with the
// video: chosen by the user's language, read off the GUI thread, and never laid over what the
// user chose meanwhile (a subtitle file, another video) nor delivered to a closed window.
#include <QLocale>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "fixtures/tracks.h"
#include "window_harness.h"

namespace trelvix::app::testing {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Sets the user's locale for one case and puts the neutral one back.
class LocaleScope {
 public:
  explicit LocaleScope(bool polish) {
    QLocale::setDefault(polish ? QLocale(QLocale::Polish, QLocale::Poland)
                               : QLocale(QLocale::English, QLocale::UnitedStates));
  }
  ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
};

// Waits, without letting the window handle any event, until its worker has left the result of
// the read for it: what the user does next happens while a result waits to be seen.
bool ResultWaits(TfrmMain& m) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!m.SubtitleTrackResultWaiting()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// What happens after the film is added: nothing, the user adds a subtitle file or another video
// while the track's result waits to be seen, or closes the window while it reads or while its
// result waits.
enum class Meanwhile { kNothing, kSubtitleFile, kOtherVideo, kClose, kCloseWithAResultWaiting };

struct TrackCase {
  const char* name;
  bool polish;       // the user's locale: Polish, else English
  bool file_beside;  // a subtitle file beside the film
  bool auto_load;    // the companion player loads subtitles automatically
  Meanwhile meanwhile;
  bool reads;          // a read of the track starts with the film
  const char* text;    // the timetable's second row at the end; nullptr: an empty timetable
  const char* logged;  // a line the log holds at the end; nullptr: no subtitles logged
  const char* container = "mkv";  // of the film: "mkv" (SubRip) or "mp4" (MP4 timed text)
};

void PrintTo(const TrackCase& c, std::ostream* os) {
  *os << c.name;
}

class WindowSubtitleTrack : public ::testing::TestWithParam<TrackCase> {
 protected:
  test::TempDir dir_;
};

TEST_P(WindowSubtitleTrack, ChosenByLanguageReadOffTheGuiThreadAndNeverOverAUsersChoice) {
  const TrackCase c = GetParam();
  LocaleScope locale(c.polish);
  const std::string film = dir_.File(std::string("film.") + c.container);
  fixtures::MakeLanguageFilm(film, c.container);
  if (c.file_beside)
    fixtures::MakeTextFile(dir_.File("film.srt"),
                           "1\r\n00:00:01,000 --> 00:00:02,000\r\nNapis obok\r\n");
  const std::string other_srt = dir_.File("other.srt");
  fixtures::MakeTextFile(other_srt, "1\r\n00:00:02,000 --> 00:00:03,000\r\nInny napis\r\n");
  const std::string plain = dir_.File("plain.mkv");
  fixtures::MakeClip(plain, SmallClip(1.0));

  std::optional<WindowPair> w(std::in_place);
  TfrmMain& m = w->main();
  w->options().Model().SetCLoadTXT(c.auto_load);

  if (c.meanwhile == Meanwhile::kClose || c.meanwhile == Meanwhile::kCloseWithAResultWaiting) {
    m.AddFile(Q(film));
    EXPECT_EQ(m.SubtitleTrackReading(), c.reads);
    if (c.meanwhile == Meanwhile::kCloseWithAResultWaiting) {
      ASSERT_TRUE(ResultWaits(m));
    }
    w.reset();  // gives the read up; nothing of it may reach the window after this
    Pump(200);
    return;
  }

  m.AddFile(Q(film));
  ASSERT_EQ(m.Zentrov.TasksCount(), 1);
  EXPECT_EQ(m.SubtitleTrackReading(), c.reads);
  // Start waits for the cues it is to burn in.
  EXPECT_EQ(m.btnStartConvert->isEnabled(), !c.reads);
  if (c.meanwhile != Meanwhile::kNothing) {
    ASSERT_TRUE(ResultWaits(m));
    if (c.meanwhile == Meanwhile::kSubtitleFile) m.LoadSubtitles(Q(other_srt));
    if (c.meanwhile == Meanwhile::kOtherVideo) m.AddFile(Q(plain));
  }
  ASSERT_TRUE(WaitFor([&] { return !m.SubtitleTrackReading(); }));
  QCoreApplication::sendPostedEvents();  // whatever the given-up read left arrives now
  EXPECT_FALSE(m.SubtitleTrackResultWaiting());

  const auto& t = w->options().TimeTXTEditor();
  if (c.text) {
    ASSERT_EQ(t.Count(), 2);
    EXPECT_EQ(t.Row(1).Text, QString::fromUtf8(c.text));
    EXPECT_FALSE(m.btnSubOn->isHidden());
    EXPECT_TRUE(m.btnSubOn->Down());
    // The editor of the options window shows the rows.
    EXPECT_EQ(w->options().TimeTXTEditorView->rowCount(), 2);
  } else {
    EXPECT_EQ(t.Count(), 0);
    EXPECT_TRUE(m.btnSubOn->isHidden());
  }
  EXPECT_TRUE(m.btnStartConvert->isEnabled());
  const QString log = m.mmoLog->toPlainText();
  if (c.logged)
    EXPECT_TRUE(log.contains(QString::fromUtf8(c.logged))) << log.toStdString();
  else
    EXPECT_FALSE(log.contains(QStringLiteral("Subtitles"))) << log.toStdString();
}

const TrackCase kTrackCases[] = {
    {"polish_locale_loads_the_polish_track", true, false, true, Meanwhile::kNothing, true,
     fixtures::kFilmCueText, "***Subtitles have been loaded: stream #3 of "},
    {"polish_locale_loads_the_polish_mp4_timed_text_track", true, false, true, Meanwhile::kNothing,
     true, fixtures::kFilmCueText, "***Subtitles have been loaded: stream #3 of ", "mp4"},
    {"english_locale_loads_nothing", false, false, true, Meanwhile::kNothing, false, nullptr,
     nullptr},
    {"a_file_beside_the_video_wins", true, true, true, Meanwhile::kNothing, false, "Napis obok",
     "film.srt"},
    {"automatic_loading_off_loads_nothing", true, false, false, Meanwhile::kNothing, false, nullptr,
     nullptr},
    {"a_subtitle_file_added_meanwhile_wins", true, false, true, Meanwhile::kSubtitleFile, true,
     "Inny napis", "other.srt"},
    {"another_video_added_meanwhile_gets_no_cues", true, false, true, Meanwhile::kOtherVideo, true,
     nullptr, nullptr},
    {"closing_while_it_reads", true, false, true, Meanwhile::kClose, true, nullptr, nullptr},
    {"closing_with_a_result_waiting", true, false, true, Meanwhile::kCloseWithAResultWaiting, true,
     nullptr, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, WindowSubtitleTrack, ::testing::ValuesIn(kTrackCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace trelvix::app::testing
