// The engine's preview window: a real conversion paints its frames into it through the
// main-thread queue; the user's close ends the preview but not the conversion.
#include <gtest/gtest.h>

#include <QApplication>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/widgets/previewer.h"
#include "engine/engine_test_util.h"
#include "engine/ffmpeg_thread.h"
#include "fixtures/fixtures.h"
#include "media/ff_utils.h"
#include "runtime/bitmap.h"
#include "runtime/main_thread.h"
#include "support/temp_dir.h"

namespace trelvix::app {
namespace {

using engine::testing::TestEngine;

// 25 numbered frames of 480 x 320 (the size the program converts to), one second.
const std::string& SmallClip() {
  fixtures::ClipSpec spec = fixtures::VideoOnly("mkv", "mpeg4");
  spec.width = 480;
  spec.height = 320;
  spec.seconds = 1.0;
  return engine::testing::ClipCache::Get().Clip("small.mkv", spec);
}

// The tool window the previewer shows, if any.
QWidget* PreviewWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && (w->windowFlags() & Qt::WindowType_Mask) == Qt::Tool) return w;
  return nullptr;
}

// The frame number drawn into the picture the window shows.
int ShownFrameNumber(QWidget* window) {
  const QImage image = window->grab().toImage();
  EXPECT_EQ(image.depth(), 32);
  return fixtures::ReadFrameNumberRGB(image.constBits(), static_cast<int>(image.bytesPerLine()), 32,
                                      image.width(), image.height());
}

class PreviewerConversion : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { engine::testing::LoadLibraries(); }
  void SetUp() override {
    engine::SetPreviewWindowFactory([this]() -> std::unique_ptr<engine::TPreviewWindow> {
      ++made_;
      return std::make_unique<TPreviewer>();
    });
  }
  void TearDown() override { engine::SetPreviewWindowFactory(nullptr); }

  // Runs a whole job on its thread while this (main) thread serves the paintings and looks at
  // the window after each one; close_after > 0 closes the window after that many frames.
  void Convert(int close_after) {
    RunJob(close_after);
    // The previewer, and its window, go with the job.
    QApplication::processEvents();
    window_left_ = PreviewWindow() != nullptr;
  }

  void RunJob(int close_after) {
    TestEngine e;
    e.PreviewInterval = -1;  // every frame
    ASSERT_TRUE(e.OpenInputFile(SmallClip()));
    e.SetOption("vcodec", "rawvideo");
    output_ = dir_.File("preview.avi");
    ASSERT_GT(e.OpenOutputFile(output_), 0) << e.LastErrMsg();
    e.SetPostHooks(engine::PostHookBit(engine::phPreview));
    engine::TConvertThread* thread = e.StartConvert(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    while (!e.Terminated()) {
      if (!runtime::CheckSynchronize(5)) continue;
      QWidget* window = PreviewWindow();
      if (!window) continue;
      ++frames_seen_;
      titles_ << window->windowTitle();
      numbers_.push_back(ShownFrameNumber(window));
      size_ = window->size();
      flags_ = window->windowFlags();
      if (frames_seen_ == close_after) window->close();
    }
    e.Stop(true);
    finished_ = e.Finished();
    hooks_after_ = e.PostHooks();
    window_after_job_ = PreviewWindow() != nullptr;
  }

  test::TempDir dir_;
  std::string output_;
  std::atomic<int> made_ = 0;
  int frames_seen_ = 0;
  QStringList titles_;
  std::vector<int> numbers_;
  QSize size_;
  Qt::WindowFlags flags_;
  bool finished_ = false;
  engine::TPostHooks hooks_after_ = 0;
  bool window_after_job_ = false;  // before the job object is freed
  bool window_left_ = false;       // after it
};

TEST_F(PreviewerConversion, FramesArriveWithTheirTimeInTheCaption) {
  Convert(0);
  EXPECT_TRUE(finished_);
  EXPECT_EQ(made_, 1);
  EXPECT_EQ(frames_seen_, 25);
  EXPECT_EQ(size_, QSize(480, 320));  // client area = the frame
  EXPECT_TRUE(flags_ & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(flags_ & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags_ & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  // Each caption is a time; they follow the frames (40 ms apart at 25 fps).
  const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"));
  for (const QString& title : titles_)
    EXPECT_TRUE(time.match(title).hasMatch()) << qPrintable(title);
  ASSERT_EQ(titles_.size(), 25);
  EXPECT_EQ(titles_.back(), QString::fromStdString(media::TimeText(24 * 40000)));
  // The window shows the frames themselves, in order.
  for (size_t i = 0; i < numbers_.size(); ++i) EXPECT_EQ(numbers_[i], static_cast<int>(i)) << i;
  EXPECT_TRUE(window_after_job_);
  EXPECT_FALSE(window_left_);
}

TEST_F(PreviewerConversion, ClosingTheWindowEndsThePreviewNotTheConversion) {
  Convert(3);
  EXPECT_TRUE(finished_);
  EXPECT_EQ(frames_seen_, 3);
  EXPECT_EQ(made_, 1);  // not reopened
  EXPECT_EQ(hooks_after_, 0);
  EXPECT_FALSE(window_after_job_);  // a closed window is freed at once
  EXPECT_FALSE(window_left_);
  EXPECT_EQ(static_cast<int>(fixtures::DecodeVideoFrames(output_).size()), 25);
}

TEST(Previewer, PaintsDirectlyOnTheMainThreadAndStopsWhenClosed) {
  runtime::TBitmap bitmap(64, 48, runtime::TPixelFormat::pf32bit);
  bitmap.AssignImage([] {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 90));
    return image;
  }());
  TPreviewer previewer;
  EXPECT_EQ(previewer.Window(), nullptr);  // no window before the first frame
  ASSERT_TRUE(previewer.PaintFrame(&bitmap, 7, 3723004000));
  QWidget* window = previewer.Window();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("01:02:03.004"));
  EXPECT_EQ(previewer.FrameNumber(), 7);
  EXPECT_EQ(window->grab().toImage().pixelColor(32, 24), QColor(10, 200, 90));

  // Dragged by its picture: the window follows the pointer, which stays on the same spot of it.
  const QPoint before = window->pos();
  QWindow* handle = window->windowHandle();
  QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(10, 10));
  const QPoint pointer = handle->mapToGlobal(QPoint(40, 30));
  QTest::mouseMove(handle, QPoint(40, 30));
  EXPECT_EQ(window->pos(), before + QPoint(30, 20));
  EXPECT_EQ(handle->mapFromGlobal(pointer), QPoint(10, 10));
  QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(pointer));
  EXPECT_EQ(window->pos(), before + QPoint(30, 20));

  window->close();
  EXPECT_TRUE(previewer.Closed());
  EXPECT_FALSE(previewer.PaintFrame(&bitmap, 8, 0));
  EXPECT_EQ(previewer.FrameNumber(), 7);
}

// Every pixel layout of the bitmaps reaches the window in its true colours, and a frame of
// another size resizes the window.
TEST(Previewer, ShowsEveryPixelLayoutInItsColours) {
  const struct {
    runtime::TPixelFormat format;
    QColor colour;
  } cases[] = {
      {runtime::TPixelFormat::pf24bit, QColor(10, 200, 90)},
      {runtime::TPixelFormat::pf32bit, QColor(200, 10, 90)},
      {runtime::TPixelFormat::pf16bit, QColor(255, 0, 0)},
      {runtime::TPixelFormat::pf15bit, QColor(0, 255, 0)},
      {runtime::TPixelFormat::pf8bit, QColor(0, 0, 255)},
  };
  TPreviewer previewer;
  int width = 64;
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.format));
    runtime::TBitmap bitmap(width, 48, c.format);
    QImage image(width, 48, QImage::Format_RGB32);
    image.fill(c.colour);
    bitmap.AssignImage(image);
    ASSERT_TRUE(previewer.PaintFrame(&bitmap, 1, 0));
    QWidget* window = previewer.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->size(), QSize(width, 48));
    // The colour as the layout holds it.
    const QColor held = bitmap.Image().pixelColor(width / 2, 24);
    EXPECT_LE(std::abs(held.red() - c.colour.red()) + std::abs(held.green() - c.colour.green()) +
                  std::abs(held.blue() - c.colour.blue()),
              24);
    EXPECT_EQ(window->grab().toImage().pixelColor(width / 2, 24), held);
    width += 8;
  }
}

}  // namespace
}  // namespace trelvix::app
