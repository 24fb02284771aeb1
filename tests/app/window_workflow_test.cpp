// The main window driven as a user drives it: the button states of every step of the workflow,
// the drop rules, the dialogs, the quality pair, the locale, the command line, the automatic
// subtitles and closing during a conversion. Real clips, real clicks, Qt's offscreen platform.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QUrl>
#include <filesystem>
#include <fstream>

#include "app/image_control.h"
#include "app/progress_image.h"
#include "media/ff_log.h"
#include "window_harness.h"

namespace trelvix::app::testing {
namespace {

using fixtures::MakeClip;

// ---- The button state table, row by row

// -1: either.
struct Look {
  int enabled;
  int visible;
  int down;
};
constexpr Look E{1, 1, -1}, D{0, 1, -1}, H{-1, 0, -1}, EDown{1, 1, 1}, EUp{1, 1, 0};
constexpr Look Hidden{-1, 0, -1};

struct Row {
  const char* state;
  Look add, add_sub, start, pause_convert, resume_convert, play, pause, stop, hi, lo;
  int preview_mode;
};

// The expected looks; btnStop stays enabled while converting and paused, and a run that ends
// without finishing looks as a finished one.
const Row kIdle{"idle", E, D, D, H, H, D, D, D, EDown, EUp, 1};
const Row kLoaded{"file loaded (Hi)", E, E, E, H, H, EDown, EUp, E, EDown, {0, 1, 0}, 1};
const Row kConverting{"converting", D, D, Hidden, E, H, D, D, E, EDown, {0, 1, 0}, 0};
const Row kPaused{"paused", D, D, Hidden, H, E, D, D, E, EDown, {0, 1, 0}, 0};
const Row kFinished{"finished", E, D, D, H, H, D, D, D, E, E, 0};
const Row kStopped{"stopped", E, D, D, H, H, D, D, D, E, E, 0};

void ExpectLook(const char* what, QWidget* w, const Look& l, const char* state) {
  SCOPED_TRACE(std::string(state) + ": " + what);
  if (l.enabled >= 0) {
    EXPECT_EQ(w->isEnabled(), l.enabled == 1);
  }
  if (l.visible >= 0) {
    EXPECT_EQ(!w->isHidden(), l.visible == 1);
  }
  if (l.down >= 0) {
    EXPECT_EQ(static_cast<TMBButton*>(w)->Down(), l.down == 1);
  }
}

void ExpectRow(TfrmMain& m, const Row& r) {
  ExpectLook("btnAdd", m.btnAdd, r.add, r.state);
  ExpectLook("btnAddSub", m.btnAddSub, r.add_sub, r.state);
  ExpectLook("btnStartConvert", m.btnStartConvert, r.start, r.state);
  ExpectLook("btnPauseConvert", m.btnPauseConvert, r.pause_convert, r.state);
  ExpectLook("btnResumeConvert", m.btnResumeConvert, r.resume_convert, r.state);
  ExpectLook("btnPlay", m.btnPlay, r.play, r.state);
  ExpectLook("btnPause", m.btnPause, r.pause, r.state);
  ExpectLook("btnStop", m.btnStop, r.stop, r.state);
  ExpectLook("btnHi", m.btnHi, r.hi, r.state);
  ExpectLook("btnLo", m.btnLo, r.lo, r.state);
  EXPECT_EQ(m.PreviewMode(), r.preview_mode) << r.state;
}

class WindowTest : public ::testing::Test {
 protected:
  std::string Clip(const std::string& name, double seconds = 2.0) {
    const std::string path = dir_.File(name);
    MakeClip(path, SmallClip(seconds));
    return path;
  }
  static QString Q(const std::string& s) { return QString::fromStdString(s); }
  static bool Finished(const std::string& output) {
    try {
      const fixtures::MediaSummary s = fixtures::ProbeFile(output);
      return s.Video() && s.Video()->width == 480 && s.Video()->height == 320;
    } catch (const std::exception&) {
      return false;
    }
  }
  test::TempDir dir_;
};

TEST_F(WindowTest, StateTableRowByRow) {
  const std::string clip = Clip("walk.mkv", 6.0);
  WindowPair w;
  TfrmMain& m = w.main();
  ExpectRow(m, kIdle);
  EXPECT_TRUE(m.btnSubOn->isHidden());

  m.AddFile(Q(clip));
  ExpectRow(m, kLoaded);
  EXPECT_EQ(m.Zentrov.TasksCount(), 1);

  Click(m.btnStartConvert);
  ExpectRow(m, kConverting);
  EXPECT_EQ(m.btnPauseConvert->y(), 303);
  EXPECT_EQ(m.btnResumeConvert->y(), 303);
  EXPECT_TRUE(m.TimerStat.isActive());

  Click(m.btnPauseConvert);
  ExpectRow(m, kPaused);
  EXPECT_FALSE(m.TimerStat.isActive());

  Click(m.btnResumeConvert);
  ExpectRow(m, kConverting);
  EXPECT_TRUE(m.TimerStat.isActive());

  ASSERT_TRUE(WaitFor([&] { return m.LProgress->text() == m.ProgressPrefix() + "100%"; }));
  ExpectRow(m, kFinished);
  const QImage bar = m.ImageProgress->Picture();
  EXPECT_EQ(m.ImageProgress->Tag(), m.ImageProgress->width());
  EXPECT_EQ(bar.pixel(bar.width() - 1, 6), m.ImgT->Picture().pixel((bar.width() - 1) % 33, 6));
  EXPECT_TRUE(Finished(dir_.File("walk_(Trelvix)_iphone.mp4")));

  // A new file after a finished conversion: Play, Pause and Stop now act on the encoder.
  m.AddFile(Q(clip));
  ExpectRow(m, Row{kLoaded.state, E, E, E, H, H, EDown, EUp, E, EDown, {0, 1, 0}, 0});
  EXPECT_EQ(m.OpenDialog1.selectedFiles().value(0), Q(clip));
}

TEST_F(WindowTest, StopWhileConvertingReturnsToALookWhereAFileCanBeAdded) {
  const std::string clip = Clip("long.mkv", 30.0);
  WindowPair w;
  TfrmMain& m = w.main();
  m.AddFile(Q(clip));
  Click(m.btnStartConvert);
  ASSERT_TRUE(WaitFor([&] { return m.CurrentDuration() > 0; }));
  Click(m.btnPauseConvert);
  ExpectRow(m, kPaused);
  const QString reached = m.LProgress->text();
  const int column = m.ImageProgress->Tag();

  Click(m.btnStop);  // stops the encoder, waiting
  ASSERT_TRUE(WaitFor([&] { return m.btnAdd->isEnabled(); }));
  ExpectRow(m, kStopped);
  EXPECT_TRUE(m.btnSubOn->isHidden());
  EXPECT_EQ(m.LProgress->text(), reached);  // the percentage reached stays
  EXPECT_EQ(m.ImageProgress->Tag(), column);
  EXPECT_NE(reached, m.ProgressPrefix() + "100%");
  // The part converted so far is a finalised file.
  EXPECT_TRUE(Finished(dir_.File("long_(Trelvix)_iphone.mp4")));
  // And the next file can be added and converted.
  m.AddFile(Q(clip));
  EXPECT_EQ(m.Zentrov.TasksCount(), 1);
  EXPECT_TRUE(m.btnStartConvert->isEnabled());
  EXPECT_EQ(m.Zentrov.Task(0)->OutputOptions(0)->FileName,
            dir_.File("long_(Trelvix_1)_iphone.mp4"));
}

TEST_F(WindowTest, AFailedConversionShowsItsErrorAndReturnsToAFileLook) {
  const std::string clip = Clip("fail.mkv");
  WindowPair w;
  TfrmMain& m = w.main();
  m.AddFile(Q(clip));
  Click(m.btnStartConvert);
  ASSERT_TRUE(WaitFor([&] { return m.btnAdd->isEnabled(); }));
  QString shown, title;
  OnNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    shown = box->text();
    title = box->windowTitle();
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    box->accept();
  });
  m.ZentrovTerminate(nullptr, {0, false, true, "Disk full"});
  EXPECT_EQ(shown, "Disk full");
  EXPECT_EQ(title, QLatin1String(kApplicationTitle));
  ExpectRow(m, kStopped);
}

TEST_F(WindowTest, StartIsDisabledWheneverTheTaskListIsEmpty) {
  const std::string clip = Clip("a.mkv");
  WindowPair w;
  TfrmMain& m = w.main();
  m.AddFile(Q(clip));
  ASSERT_TRUE(m.btnStartConvert->isEnabled());

  // A cancelled dialog still clears the task list; the other buttons keep their state.
  OnNextModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
  Click(m.btnAdd);
  EXPECT_EQ(m.Zentrov.TasksCount(), 0);
  EXPECT_FALSE(m.btnStartConvert->isEnabled());
  ExpectLook("btnPlay", m.btnPlay, EDown, "after cancel");
  ExpectLook("btnAddSub", m.btnAddSub, E, "after cancel");

  // So does a probe that fails after a loaded file.
  m.AddFile(Q(clip));
  ASSERT_TRUE(m.btnStartConvert->isEnabled());
  const std::string junk = dir_.File("junk.avi");
  fixtures::MakeRandomFile(junk, 4096);
  m.AddFile(Q(junk));
  EXPECT_EQ(m.Zentrov.TasksCount(), 0);
  EXPECT_FALSE(m.btnStartConvert->isEnabled());
  EXPECT_TRUE(m.mmoLog->toPlainText().contains("\n***File load error: "));
}

TEST_F(WindowTest, TheOpenDialogOffersFilesInAnyLetterCase) {
  const std::string clip = Clip("lower.avi");
  WindowPair w;
  TfrmMain& m = w.main();
  m.OpenDialog1.setDirectory(Q(dir_.path().string()));
  QStringList listed;
  QString filter;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    filter = dialog->selectedNameFilter();
    auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(view, nullptr);
    // The dialog lists the folder on a thread of its own and filters the rows after they
    // arrive: wait until the listing holds the file (or give up and report what it holds).
    auto list = [&] {
      listed.clear();
      for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
        listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
      return listed.contains(QStringLiteral("lower.avi"));
    };
    WaitFor(list, 20000);
    // Typed into the name box, as a user does.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QStringLiteral("lower.avi"));
    EXPECT_EQ(dialog->selectedFiles().value(0), Q(clip));
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
  });
  Click(m.btnAdd);
  EXPECT_TRUE(filter.startsWith("Video/Audio Files (*.AVI *.AVM")) << filter.toStdString();
  EXPECT_TRUE(listed.contains("lower.avi")) << listed.join(",").toStdString();
  EXPECT_EQ(m.Zentrov.TasksCount(), 1);
  EXPECT_EQ(m.VideoFileName(), Q(clip));
}

// ---- The window itself

TEST_F(WindowTest, TheWindowAndEveryControlInItsPlace) {
  WindowPair w;
  TfrmMain& m = w.main();
  EXPECT_TRUE(m.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(m.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(m.windowTitle(), "TrelvixToiPhone");
  EXPECT_EQ(QApplication::applicationDisplayName(), "TrelvixToiPhone 1.3");
  EXPECT_EQ(m.VersionText(), "1.3");
  EXPECT_EQ(m.minimumSize(), QSize(271, 500));
  EXPECT_EQ(m.maximumSize(), QSize(271, 500));
  EXPECT_EQ(m.font().pixelSize(), 11);
  EXPECT_EQ(m.palette().color(QPalette::Window), QColor(Qt::black));
  // Shaped by the background: the screen area is inside, the corners are not.
  EXPECT_TRUE(m.mask().contains(QPoint(135, 160)));
  EXPECT_FALSE(m.mask().contains(QPoint(0, 0)));
  EXPECT_FALSE(m.mask().contains(QPoint(270, 499)));
  EXPECT_TRUE(m.TimerCheckVersion.isActive());
  EXPECT_EQ(m.TimerCheckVersion.interval(), 3000);
  EXPECT_FALSE(m.TimerStat.isActive());
  EXPECT_EQ(m.TimerStat.interval(), 3000);

  struct Place {
    const char* name;
    QRect rect;
    bool hidden;
  };
  const Place places[] = {
      {"ImageBgn", {0, 0, 271, 500}, false},
      {"btnAdd", {30, 378, 34, 39}, false},
      {"btnAddSub", {68, 378, 35, 39}, false},
      {"btnSubOn", {98, 390, 14, 12}, true},
      {"btnHi", {83, 352, 20, 15}, false},
      {"btnLo", {108, 352, 21, 15}, false},
      {"btnInfo", {155, 378, 27, 39}, false},
      {"btnMinimize", {185, 378, 27, 39}, false},
      {"btnClose", {216, 378, 27, 39}, false},
      {"btnPlay", {78, 223, 36, 34}, false},
      {"btnPause", {114, 223, 41, 34}, false},
      {"btnStop", {155, 223, 39, 34}, false},
      {"btnStartConvert", {32, 303, 210, 40}, false},
      {"btnPauseConvert", {32, 296, 210, 40}, true},
      {"btnResumeConvert", {32, 288, 210, 40}, true},
      {"ImageProgress", {36, 282, 202, 12}, false},
      {"Panel", {25, 96, 223, 128}, true},
      {"Image1", {0, 0, 223, 128}, false},
      {"ImageInfoEn", {240, 96, 223, 281}, true},
      {"ImageInfoPL", {256, 96, 223, 281}, true},
      {"ImgN", {280, 320, 33, 33}, false},
      {"ImgT", {280, 360, 33, 33}, false},
      {"mmoLog", {280, 32, 164, 169}, true},
      {"grpLogLevel", {282, 207, 160, 98}, true},
  };
  for (const Place& p : places) {
    SCOPED_TRACE(p.name);
    auto* c = m.findChild<QWidget*>(QLatin1String(p.name));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->geometry(), p.rect);
    EXPECT_EQ(c->isHidden(), p.hidden);
  }
  EXPECT_EQ(m.LProgress->pos(), QPoint(37, 264));
  EXPECT_EQ(m.LProgress->text(), "Progress: 0%");
  EXPECT_EQ(m.btnInfo->cursor().shape(), Qt::WhatsThisCursor);
  EXPECT_EQ(m.btnAdd->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(m.ImageInfoEn->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(m.OpenTXT.windowTitle(), "Quendal - Wybierz Tekst");
  const QString texts = QString::fromUtf8("Teksty do Filmów (*.txt *sub *.srt *.ssa *.smi *.ass)");
  EXPECT_EQ(m.OpenTXT.nameFilters(), QStringList({texts, "Wszystkie Pliki (*.*)"}));
  EXPECT_EQ(m.OpenDialog1.nameFilters().size(), 4);
  EXPECT_EQ(m.OpenDialog1.nameFilters().last(), "All Files (*.*)");
}

// A press and moves with real mouse events on a drag area.
TEST_F(WindowTest, DraggingByTheBackgroundAndThePreviewPicture) {
  struct Case {
    const char* name;
    const char* area;
    Qt::MouseButton press;
    Qt::MouseButtons held;
    Qt::KeyboardModifiers shift;
    QPoint moved_by;
  };
  const Case cases[] = {
      {"left drag on the background",
       "ImageBgn",
       Qt::LeftButton,
       Qt::LeftButton,
       Qt::NoModifier,
       {10, 20}},
      {"left drag on the preview picture",
       "Image1",
       Qt::LeftButton,
       Qt::LeftButton,
       Qt::NoModifier,
       {10, 20}},
      {"a modifier key ends the drag",
       "ImageBgn",
       Qt::LeftButton,
       Qt::LeftButton,
       Qt::ShiftModifier,
       {0, 0}},
      {"another button held too",
       "ImageBgn",
       Qt::LeftButton,
       Qt::LeftButton | Qt::RightButton,
       Qt::NoModifier,
       {0, 0}},
      {"the right button does not drag",
       "ImageBgn",
       Qt::RightButton,
       Qt::RightButton,
       Qt::NoModifier,
       {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WindowPair w;
    TfrmMain& m = w.main();
    m.Panel->show();
    m.move(100, 100);
    auto* area = m.findChild<QWidget*>(QLatin1String(c.area));
    const QPoint down(60, 50);
    QTest::mousePress(area, c.press, Qt::NoModifier, down);
    const QPoint start = m.pos();
    QMouseEvent move(QEvent::MouseMove, QPointF(down + QPoint(10, 20)),
                     QPointF(area->mapToGlobal(down + QPoint(10, 20))), Qt::NoButton, c.held,
                     c.shift);
    QApplication::sendEvent(area, &move);
    EXPECT_EQ(m.pos() - start, c.moved_by);
    QTest::mouseRelease(area, c.press, Qt::NoModifier, down + c.moved_by);
  }
}

TEST_F(WindowTest, PlayerButtonsInPreviewMode) {
  const std::string clip = Clip("play.mkv", 4.0);
  WindowPair w;
  TfrmMain& m = w.main();
  m.AddFile(Q(clip));
  ASSERT_EQ(m.PreviewMode(), 1);
  Click(m.btnStop);
  ExpectLook("btnStop", m.btnStop, D, "stopped preview");
  ExpectLook("btnPlay", m.btnPlay, EUp, "stopped preview");
  ExpectLook("btnPause", m.btnPause, {0, 1, 0}, "stopped preview");
  Click(m.btnPlay);
  ExpectLook("btnPlay", m.btnPlay, EDown, "playing");
  ExpectLook("btnPause", m.btnPause, EUp, "playing");
  ExpectLook("btnStop", m.btnStop, E, "playing");
  Click(m.btnPause);
  ExpectLook("btnPlay", m.btnPlay, EUp, "paused");
  ExpectLook("btnPause", m.btnPause, EDown, "paused");
}

TEST_F(WindowTest, MinimiseAndTheInformationPageHook) {
  WindowPair w;
  TfrmMain& m = w.main();
  int opened = 0;
  m.SetOnImageInfoClick([&] { ++opened; });
  Click(m.btnInfo);
  Click(m.ImageInfoEn);
  EXPECT_EQ(opened, 1);
  Click(m.btnMinimize);
  EXPECT_TRUE(WaitFor([&] { return m.isMinimized(); }, 2000));
}

// ---- Drops

// A drag of local files entering the window and dropped on its background.
void Drop(TfrmMain& m, const QStringList& files) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& f : files) urls << QUrl::fromLocalFile(f);
  mime.setUrls(urls);
  const QPointF at(130, 150);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&m, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&m, &drop);
}

TEST_F(WindowTest, DropRules) {
  const QString a = Q(Clip("a.mkv")), b = Q(Clip("b.mkv"));
  const QString srt1 = Q(dir_.File("one.srt")), srt2 = Q(dir_.File("two.SRT"));
  fixtures::MakeTextFile(srt1.toStdString(), "1\r\n00:00:01,000 --> 00:00:02,000\r\nFirst\r\n");
  fixtures::MakeTextFile(srt2.toStdString(), "1\r\n00:00:01,000 --> 00:00:02,000\r\nSecond\r\n");
  const QString missing = Q(dir_.File("missing.mkv"));

  struct Case {
    const char* name;
    bool load_first;  // a video loaded before the drop
    bool converting;  // and being converted
    QStringList files;
    int tasks;             // expected task count
    QString video;         // expected VideoFileName ("" = unchanged/none)
    const char* subtitle;  // expected text of the timetable's second row, or nullptr: none
  };
  const Case cases[] = {
      {"one video", false, false, {a}, 1, a, nullptr},
      {"two videos do nothing", false, false, {a, b}, 0, "", nullptr},
      {"a missing file is ignored", false, false, {missing}, 0, "", nullptr},
      {"a subtitle before any video does nothing", false, false, {srt1}, 0, "", nullptr},
      {"two subtitles load the first", true, false, {srt1, srt2}, 1, a, "First"},
      {"a subtitle in upper case", true, false, {srt2}, 1, a, "Second"},
      {"a video while converting does nothing", true, true, {b}, 1, a, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WindowPair w;
    TfrmMain& m = w.main();
    if (c.load_first) m.AddFile(a);
    if (c.converting) {
      Click(m.btnStartConvert);
      Click(m.btnPauseConvert);
    }
    Drop(m, c.files);
    EXPECT_EQ(m.Zentrov.TasksCount(), c.tasks);
    EXPECT_EQ(m.VideoFileName(), c.video);
    const auto& t = w.options().TimeTXTEditor();
    if (c.subtitle) {
      ASSERT_GE(t.Count(), 2);
      EXPECT_EQ(t.Row(1).Text, QString::fromUtf8(c.subtitle));
      EXPECT_FALSE(m.btnSubOn->isHidden());
      EXPECT_TRUE(m.btnSubOn->Down());
    } else {
      EXPECT_EQ(t.Count(), 0);
      EXPECT_TRUE(m.btnSubOn->isHidden());
    }
    if (c.converting) Click(m.btnStop);
  }
}

// ---- Probing and the log

TEST_F(WindowTest, AFileWhoseStreamZeroIsAudioLoadsWithFrameRateOne) {
  const std::string path = dir_.File("audio_first.mkv");
  fixtures::ClipSpec spec = SmallClip(2.0);
  spec.audio_first = true;
  MakeClip(path, spec);
  WindowPair w;
  w.options().SetFrameRate(7.0);
  w.main().AddFile(Q(path));
  EXPECT_EQ(w.main().Zentrov.TasksCount(), 1);
  EXPECT_DOUBLE_EQ(w.options().FrameRate(), 1.0);

  const std::string video = Clip("video.mkv");
  w.main().AddFile(Q(video));
  EXPECT_DOUBLE_EQ(w.options().FrameRate(), 25.0);
}

TEST_F(WindowTest, LogLinesOfTheWindowAndOfTheLogger) {
  const std::string clip = Clip("log.mkv");
  WindowPair w;
  TfrmMain& m = w.main();
  EXPECT_TRUE(m.mmoLog->isHidden());
  EXPECT_TRUE(m.grpLogLevel->isHidden());
  EXPECT_EQ(m.grpLogLevelItems->checkedId(), 5);
  m.AddFile(Q(clip));
  EXPECT_TRUE(m.mmoLog->toPlainText().contains("\n\n***File has been added to convert list.\n"))
      << m.mmoLog->toPlainText().toStdString();

  // A file that vanished between the dialog and the probe.
  m.AddFile(Q(dir_.File("vanished.mkv")));
  EXPECT_TRUE(m.mmoLog->toPlainText().contains("\n***File load error: "));

  // The level chosen in the hidden group applies at the next Add file.
  m.grpLogLevelItems->button(media::llDebug)->click();
  m.AddFile(Q(clip));
  EXPECT_EQ(m.FFLogger.LogLevel(), media::llDebug);

  m.mmoLog->clear();
  m.FFLogger.Log(nullptr, media::llError, "M");
  EXPECT_EQ(m.mmoLog->toPlainText(), QStringLiteral("#%1.3: M").arg(media::CurrentThreadID()));
}

// ---- The quality pair

TEST_F(WindowTest, QualityPair) {
  struct Case {
    const char* name;
    bool loaded;
    std::vector<const char*> clicks;
    bool hi_down, lo_down;
  };
  const Case cases[] = {
      {"Lo at start", false, {"btnLo"}, false, true},
      {"Lo twice", false, {"btnLo", "btnLo"}, true, false},
      {"Hi at start toggles the pair", false, {"btnHi"}, false, true},
      {"Lo then Hi", false, {"btnLo", "btnHi"}, true, false},
      {"loaded at Hi: Hi stays down", true, {"btnHi"}, true, false},
      {"loaded at Hi: Lo is disabled", true, {"btnLo"}, true, false},
  };
  const QString clip = Q(Clip("q.mkv"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WindowPair w;
    TfrmMain& m = w.main();
    if (c.loaded) m.AddFile(clip);
    for (const char* name : c.clicks) Click(m.findChild<TMBButton*>(QLatin1String(name)));
    EXPECT_EQ(m.btnHi->Down(), c.hi_down);
    EXPECT_EQ(m.btnLo->Down(), c.lo_down);
  }
}

TEST_F(WindowTest, TheLoLevelGivesTheLoRecord) {
  const std::string clip = Clip("lo.mkv");
  WindowPair w;
  Click(w.main().btnLo);
  w.main().AddFile(Q(clip));
  EXPECT_FALSE(w.main().btnHi->isEnabled());
  EXPECT_TRUE(w.main().btnLo->isEnabled());
  const encoder::TOutputOptions* out = w.main().Zentrov.Task(0)->OutputOptions(0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->VideoBitrate, 400000);
  EXPECT_EQ(out->VideoPreset, "fastfirstpass");
}

// ---- Information picture, locale

TEST_F(WindowTest, InformationPictureOfTheLocale) {
  for (const bool polish : {false, true}) {
    SCOPED_TRACE(polish ? "pl_PL" : "en_US");
    QLocale::setDefault(QLocale(polish ? QLocale::Polish : QLocale::English,
                                polish ? QLocale::Poland : QLocale::UnitedStates));
    WindowPair w;
    TfrmMain& m = w.main();
    EXPECT_EQ(m.LProgress->text(), QString::fromUtf8(polish ? "Postęp: 0%" : "Progress: 0%"));
    TImageControl* shown = polish ? m.ImageInfoPL : m.ImageInfoEn;
    TImageControl* other = polish ? m.ImageInfoEn : m.ImageInfoPL;
    Click(m.btnInfo);
    EXPECT_TRUE(m.btnInfo->Down());
    EXPECT_FALSE(shown->isHidden());
    EXPECT_TRUE(other->isHidden());
    EXPECT_EQ(shown->x(), 25);
    EXPECT_TRUE(m.Panel->isHidden());
    Click(m.btnInfo);
    EXPECT_TRUE(shown->isHidden());
    EXPECT_FALSE(m.Panel->isHidden());
  }
  QLocale::setDefault(QLocale::c());
}

// ---- Start-up: the command line, the program's key, automatic subtitles

TEST_F(WindowTest, CommandLineWithAVideoAndSubRip) {
  const std::string clip = Clip("cmd.mkv");
  const std::string srt = dir_.File("other.srt");
  fixtures::MakeTextFile(srt, "1\r\n00:00:03,000 --> 00:00:04,000\r\nZ wiersza\r\n");
  WindowPair w({Q(clip), Q(srt)});
  EXPECT_EQ(w.main().Zentrov.TasksCount(), 1);
  EXPECT_EQ(w.main().SubtitleFileName(), Q(srt));
  ASSERT_EQ(w.options().TimeTXTEditor().Count(), 2);
  EXPECT_EQ(w.options().TimeTXTEditor().Row(1).Key, "3000");
  EXPECT_FALSE(w.main().btnSubOn->isHidden());
  // The editor tab shows the timetable.
  EXPECT_EQ(w.options().TimeTXTEditorView->rowCount(), 2);
  EXPECT_EQ(w.options().TimeTXTEditorView->item(1, 1)->text(), "Z wiersza");
  // The program's key is written.
  const auto key = w.store().OpenKey("\\Software\\Trelvix\\iPhone", false);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->ReadString("Name"), "Trelvix to iPhone");
  EXPECT_EQ(key->ReadString("ShortName"), "iPhone");
  EXPECT_EQ(key->ReadString("Version"), "1.3");
  EXPECT_EQ(key->ReadString("Path"), "/usr/bin/trelvix-iphone");
}

TEST_F(WindowTest, ASettingsStoreThatCannotBeWrittenIsReportedAndTheCommandLineIsLeftAlone) {
  const std::string clip = Clip("cmd.mkv");
  test::TempDir config;
  std::filesystem::create_directories(config.path() / "Trelvix");
  test::WriteFile((config.path() / "Trelvix" / "registry.ini").string(), "\x01 not a store [[[");
  runtime::TSettingsStore store((config.path() / "Trelvix" / "registry.ini").string());
  TfrmMain m;
  TfrmOption o([&] { return m.btnHi->Down(); });
  m.SetOptionWindow(&o);
  QString shown;
  OnNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    shown = box->text();
    box->accept();
  });
  o.FormCreate(store, "/usr/bin/trelvix-iphone", {Q(clip)}, m);
  EXPECT_FALSE(shown.isEmpty());
  EXPECT_EQ(m.Zentrov.TasksCount(), 0);
}

TEST_F(WindowTest, ASubtitleFileBesideTheVideoIsLoadedWithIt) {
  const std::string clip = Clip("movie.mkv");
  fixtures::MakeTextFile(dir_.File("movie.TXT"), "{25}{50}Tekst\r\n");
  fixtures::MakeTextFile(dir_.File("movie.Srt"),
                         "1\r\n00:00:01,000 --> 00:00:02,000\r\nNapis obok\r\n");
  {
    WindowPair w;
    w.main().AddFile(Q(clip));
    EXPECT_EQ(w.main().SubtitleFileName(), Q(dir_.File("movie.Srt")));
    ASSERT_EQ(w.options().TimeTXTEditor().Count(), 2);
    EXPECT_EQ(w.options().TimeTXTEditor().Row(1).Text, "Napis obok");
    EXPECT_TRUE(w.main().btnSubOn->Down());
  }
  {  // The companion player's setting off: nothing is picked up.
    WindowPair w;
    w.options().Model().SetCLoadTXT(false);
    w.main().AddFile(Q(clip));
    EXPECT_TRUE(w.main().SubtitleFileName().isEmpty());
    EXPECT_TRUE(w.main().btnSubOn->isHidden());
  }
}

TEST_F(WindowTest, TheOptionsWindowFollowsTheSettingsBothWays) {
  test::TempDir config;
  runtime::TSettingsStore store((config.path() / "registry.ini").string());
  {
    auto key = store.OpenKey("\\Software\\Dorvane\\Quendal\\", true);
    ASSERT_TRUE(key.has_value());
    key->WriteDouble("FWidth", 80);
    key->WriteInteger("IQTime", 3000);
    key->WriteInteger("IQDziel", 0);
    key->WriteInteger("IQZmniejsz", 1);
    key->WriteString("EFontName", "DejaVu Sans");
    key->WriteDouble("EFontSize", 24);
    // "FontColor" missing: the reading stops here, the rest keeps its defaults.
    key->WriteDouble("EObwodka", 2);
  }
  TfrmMain m;
  TfrmOption o([&] { return m.btnHi->Down(); });
  m.SetOptionWindow(&o);
  o.FormCreate(store, "/usr/bin/trelvix-iphone", {}, m);
  EXPECT_TRUE(o.isHidden());
  EXPECT_EQ(o.windowTitle(), "Output Options");
  ASSERT_EQ(o.Tabs->count(), 3);
  EXPECT_EQ(o.Tabs->tabText(0), "Napisy");
  EXPECT_EQ(o.Tabs->tabText(1), "IQText");
  EXPECT_EQ(o.Tabs->tabText(2), "Editor");
  // Settings to controls.
  EXPECT_EQ(o.FWidth->value(), 80);
  EXPECT_EQ(o.IQTime->value(), 3000);
  EXPECT_FALSE(o.CIQDziel->isChecked());
  EXPECT_EQ(o.EFontName->text(), "DejaVu Sans");
  EXPECT_EQ(o.EFontSize->value(), 24);
  EXPECT_EQ(o.EObwodka->value(), 4);  // after the value that could not be read
  EXPECT_TRUE(o.CIQLoadTXT->isChecked());
  // Controls to settings.
  o.NapisyCzas->setValue(2.5);
  EXPECT_EQ(o.Settings().NapisyCzasTag, 2500);
  o.EObwodka->setValue(6);
  EXPECT_EQ(o.Settings().EObwodkaTag, 6);
  o.CIQText->setChecked(false);
  EXPECT_FALSE(o.Settings().IQNapisow);
  o.GSubFontType->button(2)->click();
  EXPECT_EQ(o.Settings().FontType, 2);
  // The editor changes the timetable.
  const std::string srt = dir_.File("e.srt");
  fixtures::MakeTextFile(srt, "1\r\n00:00:03,000 --> 00:00:04,000\r\nRaz\r\n");
  o.LoadTXT(Q(srt));
  ASSERT_EQ(o.TimeTXTEditorView->rowCount(), 2);
  o.TimeTXTEditorView->item(1, 1)->setText("Dwa");
  EXPECT_EQ(o.TimeTXTEditor().Row(1).Text, "Dwa");
}

// ---- Closing

TEST_F(WindowTest, ClosingDuringAConversionDetachesStopsAndFinalises) {
  const std::string clip = Clip("close.mkv", 30.0);
  auto w = std::make_unique<WindowPair>();
  TfrmMain& m = w->main();
  m.AddFile(Q(clip));
  Click(m.btnStartConvert);
  ASSERT_TRUE(WaitFor([&] { return m.CurrentDuration() > 0; }));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(m.close());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  const QString text = m.LProgress->text();
  Pump(300);  // nothing more reaches the window
  EXPECT_EQ(m.LProgress->text(), text);
  EXPECT_FALSE(m.btnAdd->isEnabled());  // the end of the run did not reach the window
  w.reset();
  EXPECT_TRUE(Finished(dir_.File("close_(Trelvix)_iphone.mp4")));
}

}  // namespace
}  // namespace trelvix::app::testing
