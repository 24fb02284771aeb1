// The progress and preview display of the main window: the percentage and the remaining time,
// the bar (its pixels read back), the statistics timer, the seek bar, the player's position and
// the preview frames. Qt's offscreen platform, the English (United States) locale unless a case
// says otherwise.
#include <QLabel>
#include <QRegularExpression>
#include <thread>

#include "app/image_control.h"
#include "app/progress_image.h"
#include "runtime/bitmap.h"
#include "window_harness.h"

namespace trelvix::app::testing {
namespace {

constexpr QRgb kDone = 0xFFFF0000, kTodo = 0xFF0000FF;
constexpr int64_t kSecond = 1000000;

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    w_ = std::make_unique<WindowPair>();
    // Plain colours, so that every bar pixel tells which pattern painted it.
    QImage done(33, 33, QImage::Format_ARGB32), todo(33, 33, QImage::Format_ARGB32);
    done.fill(kDone);
    todo.fill(kTodo);
    m().ImageProgress->SetPatterns(done, todo);
  }
  void TearDown() override {
    w_.reset();
    QLocale::setDefault(QLocale::c());
  }
  TfrmMain& m() { return w_->main(); }
  void Progress(int64_t current, int64_t total) {
    encoder::TProgressInfo info;
    info.CurrentDuration = current;
    info.TotalDuration = total;
    m().ZentrovProgress(nullptr, &info);
  }
  // The pattern of every bar pixel of row 6 as a string: 'T' done, 'N' to do, '.' other.
  std::string BarPixels() {
    const QImage& bar = m().ImageProgress->Picture();
    std::string s;
    for (int x = 0; x < bar.width(); ++x) {
      const QRgb p = bar.pixel(x, 6);
      s += p == kDone ? 'T' : p == kTodo ? 'N' : '.';
    }
    return s;
  }
  static std::string Bar(int done, char column, int todo) {
    return std::string(size_t(done), 'T') + (column ? std::string(1, column) : "") +
           std::string(size_t(todo), 'N');
  }
  std::unique_ptr<WindowPair> w_;
};

TEST_F(ProgressTest, ProgressReportsAsATable) {
  struct Case {
    const char* name;
    int before;  // the bar painted at this column first
    int64_t current, total;
    const char* text;
    std::string bar;  // row 6 of the bar after the report
    bool repainted;
  };
  const Case cases[] = {
      {"0 of 1000000 keeps column 0", 0, 0, 1000000, "Progress: 0% ", Bar(0, '.', 201), false},
      {"half way", 0, 500000, 1000000, "Progress: 50% ", Bar(101, 'N', 100), true},
      {"the column keeps what it had", 202, 500000, 1000000, "Progress: 50% ", Bar(101, 'T', 100),
       true},
      {"the same column repaints nothing", 101, 500001, 1000000, "Progress: 50% ",
       Bar(101, 'T', 100), false},
      {"the end", 0, 1000000, 1000000, "Progress: 100% ", Bar(202, 0, 0), true},
      {"an unknown total shows the time converted", 50, 65 * kSecond, -1, "Progress: 0:01:05",
       Bar(0, 0, 202), true},
      {"a total of 0 divides nothing", 50, 65 * kSecond, 0, "Progress: 0:01:05", Bar(0, 0, 202),
       true},
      {"a 64-bit position", 0, 3 * 3600 * kSecond, 4 * 3600 * kSecond, "Progress: 75% ",
       Bar(151, 'N', 50), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m().ProgressBar(c.before);
    const int paints = m().ImageProgress->PaintCount();
    Progress(c.current, c.total);
    EXPECT_EQ(m().LProgress->text().toStdString(), c.text);
    EXPECT_EQ(BarPixels(), c.bar);
    EXPECT_EQ(m().ImageProgress->PaintCount() > paints, c.repainted);
  }
}

TEST_F(ProgressTest, TheBarPainter) {
  struct Case {
    int column;
    std::string bar;
  };
  m().ProgressBar(202);
  for (const Case& c :
       {Case{1, Bar(1, 'T', 200)}, Case{-1, Bar(0, 0, 202)}, Case{-7, Bar(0, 0, 202)},
        Case{300, Bar(202, 0, 0)}, Case{0, Bar(0, 'T', 201)}}) {
    SCOPED_TRACE(c.column);
    m().ProgressBar(c.column);
    EXPECT_EQ(BarPixels(), c.bar);
    EXPECT_EQ(m().ImageProgress->Tag(), c.column);
  }
}

TEST_F(ProgressTest, ConstantPositionGivesTheUnknownRemainingTime) {
  Progress(5 * kSecond, 100 * kSecond);
  m().TimerStatTimer();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  m().TimerStatTimer();
  Progress(5 * kSecond, 100 * kSecond);
  EXPECT_EQ(m().LProgress->text(), "Progress: 5% (---:--:--)");
}

TEST_F(ProgressTest, TheFirstEstimateComesWithTheSecondTick) {
  for (const bool polish : {false, true}) {
    SCOPED_TRACE(polish ? "pl_PL" : "en_US");
    if (polish) QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland));
    WindowPair w;
    TfrmMain& main = w.main();
    const QString prefix = main.ProgressPrefix();
    encoder::TProgressInfo info;
    info.TotalDuration = 100 * kSecond;
    info.CurrentDuration = 10 * kSecond;
    main.ZentrovProgress(nullptr, &info);
    main.TimerStatTimer();
    main.ZentrovProgress(nullptr, &info);
    EXPECT_EQ(main.LProgress->text(), prefix + "10% ");  // one sample: no estimate yet
    std::this_thread::sleep_for(std::chrono::seconds(1));
    info.CurrentDuration = 20 * kSecond;  // 10 s of media in about 1 s: about 8 s left
    main.ZentrovProgress(nullptr, &info);
    main.TimerStatTimer();
    main.ZentrovProgress(nullptr, &info);
    const QRegularExpression expected(polish ? R"(^Postęp: 20% \(-00:0[5-8]\)$)"
                                             : R"(^Progress: 20% \(-0:00:0[5-8]\)$)");
    EXPECT_TRUE(expected.match(main.LProgress->text()).hasMatch())
        << main.LProgress->text().toStdString();
  }
}

TEST_F(ProgressTest, PlayerPositionAsATable) {
  struct Case {
    const char* name;
    int64_t total, pts;
    const char* text;  // nullptr: unchanged
    int column;        // trunc(percent / 100 x 202), the percent truncated first
  };
  const Case cases[] = {
      {"played and whole", 600 * kSecond, 65 * kSecond, "0:01:05/0:10:00", 20},
      {"an hour", 2 * 3600 * kSecond, 3600 * kSecond + 3 * 60 * kSecond + 15 * kSecond,
       "1:03:15/2:00:00", 105},
      {"24 hours or more leaves the text", 25 * 3600 * kSecond, 24 * 3600 * kSecond, nullptr, 193},
      {"no total leaves everything", 0, 5 * kSecond, nullptr, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m().ProgressBar(7);
    const QString before = m().LProgress->text();
    int sw = 0, sh = 0;
    m().FFPlayerFileOpen(nullptr, c.total, 320, 240, sw, sh);
    EXPECT_EQ(m().TotalDuration(), c.total);
    m().FFPlayerPosition(nullptr, c.pts);
    EXPECT_EQ(m().LProgress->text(), c.text ? QString::fromLatin1(c.text) : before);
    EXPECT_EQ(m().ImageProgress->Tag(), c.column);
  }
}

TEST_F(ProgressTest, APressOnTheBarSeeksThePlayer) {
  test::TempDir dir;
  const std::string clip = dir.File("ten_minutes.mkv");
  fixtures::ClipSpec spec = fixtures::VideoOnly("mkv", "mpeg4");
  spec.width = 64;
  spec.height = 48;
  spec.fps = {1, 1};
  spec.seconds = 600;
  spec.gop = 10;
  fixtures::MakeClip(clip, spec);
  m().AddFile(QString::fromStdString(clip));
  ASSERT_TRUE(WaitFor([&] { return m().TotalDuration() >= 599 * kSecond; }));

  QTest::mouseClick(m().ImageProgress, Qt::LeftButton, Qt::NoModifier, QPoint(101, 6));
  ASSERT_TRUE(WaitFor([&] { return m().LProgress->text().startsWith("0:05:0"); }, 10000))
      << m().LProgress->text().toStdString();
  EXPECT_GE(m().ImageProgress->Tag(), 101);

  // Without a task (a cancelled dialog) the bar is no seek bar.
  OnNextModal([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
  Click(m().btnAdd);
  ASSERT_FALSE(m().btnStartConvert->isEnabled());
  Click(m().btnPause);
  Pump(300);
  const QString paused_at = m().LProgress->text();
  QTest::mouseClick(m().ImageProgress, Qt::RightButton, Qt::NoModifier, QPoint(10, 6));
  Pump(500);
  EXPECT_EQ(m().LProgress->text(), paused_at);
}

TEST_F(ProgressTest, EverySecondPreviewBitmapIsShownStretched) {
  const QRgb colours[] = {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0};
  const QRgb shown_after[] = {0, 0xFF405060, 0xFF405060, 0xFFA0B0C0};
  for (int i = 0; i < 4; ++i) {
    runtime::TBitmap bitmap(480, 320);
    QImage image(480, 320, QImage::Format_RGB32);
    image.fill(colours[i]);
    bitmap.AssignImage(image);
    m().ZentrovPreviewBitmap(nullptr, {0, &bitmap, i, i * 40000});
    const QImage& picture = m().Image1->Picture();
    if (shown_after[i] == 0) {
      EXPECT_TRUE(picture.isNull()) << i;
      continue;
    }
    ASSERT_FALSE(picture.isNull()) << i;
    EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(223, 128));
    EXPECT_EQ(picture.pixel(picture.width() / 2, picture.height() / 2), shown_after[i]) << i;
  }
}

}  // namespace
}  // namespace trelvix::app::testing
