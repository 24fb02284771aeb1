// What the surface shows: aspect and letterboxing, vertical flip, the video hook, the host
// widget and the picture that CurrentFrame hands out.
#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QWidget>
#include <stdexcept>

#include "player/player_messages.h"
#include "player/player_test_util.h"

namespace trelvix::player::testing {
namespace {

QApplication* WidgetsApp() {
  static int argc = 1;
  static char name[] = "player_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives until the process ends
  return app;
}

int FlippedFrameNumber(const QImage& img) {
  const uint8_t* last =
      img.constBits() + static_cast<ptrdiff_t>(img.height() - 1) * img.bytesPerLine();
  return fixtures::ReadFrameNumberRGB(last, -static_cast<int>(img.bytesPerLine()), 32, img.width(),
                                      img.height());
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadLibraries();
    UseDummyAudio();
    clip_ = dir_.File("clip.mkv");
    fixtures::MakeClip(clip_, SmallClip(2.0));
  }
  test::TempDir dir_;
  test::LogCapture log_;
  std::string clip_;
};

struct AspectCase {
  const char* name;
  float aspect;
  int surface_w, surface_h;
  QRect picture;
};

class AspectTest : public DisplayTest, public ::testing::WithParamInterface<AspectCase> {};

TEST_P(AspectTest, ThePictureFillsFitsOrIsLetterboxed) {
  const AspectCase c = GetParam();
  TFFPlayer player;
  player.SetScreenWidth(c.surface_w);
  player.SetScreenHeight(c.surface_h);
  player.SetAspectRatio(c.aspect);
  ASSERT_TRUE(player.Open(clip_, nullptr, true)) << player.LastErrMsg();
  QImage img;
  ASSERT_TRUE(PumpUntil([&] {
    img = player.Surface().Snapshot();
    return !img.isNull() && !PictureRect(img).isEmpty();
  }));
  EXPECT_EQ(img.size(), QSize(c.surface_w, c.surface_h));
  const QRect r = PictureRect(img);
  EXPECT_EQ(r, c.picture);
  EXPECT_GE(SurfaceFrameNumber(img, r.x(), r.y(), r.width(), r.height()), 0);
  player.Stop(true);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AspectTest,
    ::testing::Values(AspectCase{"Own", 0.0f, 640, 240, QRect(160, 0, 320, 240)},
                      AspectCase{"Stretched", -1.0f, 640, 240, QRect(0, 0, 640, 240)},
                      AspectCase{"Pillarbox", 2.0f, 640, 240, QRect(80, 0, 480, 240)},
                      AspectCase{"Letterbox", 2.0f, 320, 240, QRect(0, 40, 320, 160)}),
    [](const ::testing::TestParamInfo<AspectCase>& info) { return std::string(info.param.name); });

TEST_F(DisplayTest, ChangingTheAspectWhilePlayingRedrawsThePicture) {
  TFFPlayer player;
  player.SetScreenWidth(640);
  player.SetScreenHeight(240);
  ASSERT_TRUE(player.Open(clip_, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return PictureRect(player.Surface().Snapshot()).width() == 320; }));
  player.SetAspectRatio(-1.0f);
  ASSERT_TRUE(PumpUntil([&] { return PictureRect(player.Surface().Snapshot()).width() == 640; }));
  player.Stop(true);
}

TEST_F(DisplayTest, VerticalFlipShowsThePictureUpsideDownAndSoDoesTheHook) {
  TFFPlayer player;
  std::atomic<int> hook_plain{-2}, hook_flipped{-2};
  player.SetVideoHook(true);
  player.SetOnVideoHook([&](TObject*, runtime::TBitmap* bmp, int64_t pts, bool& update) {
    if (pts != 0) return;  // the first picture, frame 0
    const int stride = bmp->BytesPerLine();
    hook_plain = fixtures::ReadFrameNumberRGB(bmp->Bits(), stride, 24, bmp->Width(), bmp->Height());
    hook_flipped = fixtures::ReadFrameNumberRGB(bmp->ScanLine(bmp->Height() - 1), -stride, 24,
                                                bmp->Width(), bmp->Height());
    update = false;
  });
  player.SetVerticalFlip(true);
  ASSERT_TRUE(player.Open(clip_, nullptr, true)) << player.LastErrMsg();
  QImage img;
  int flipped = -1;
  ASSERT_TRUE(PumpUntil([&] {
    img = player.Surface().Snapshot();
    flipped = img.isNull() ? -1 : FlippedFrameNumber(img);
    return flipped >= 0;
  }));
  EXPECT_LE(flipped, 1);  // opened paused: the first or second picture
  EXPECT_NE(SurfaceFrameNumber(img), flipped);
  ASSERT_TRUE(PumpUntil([&] { return hook_flipped != -2; }));
  EXPECT_EQ(hook_flipped, 0);
  EXPECT_NE(hook_plain, 0);
  player.Stop(true);
}

TEST_F(DisplayTest, TheVideoHookDrawsIntoThePicture) {
  TFFPlayer player;
  std::mutex lock;
  std::vector<int64_t> times;
  player.SetVideoHook(true);
  player.SetOnVideoHook([&](TObject*, runtime::TBitmap* bmp, int64_t pts, bool&) {
    {
      std::lock_guard g(lock);
      times.push_back(pts);
    }
    fixtures::DrawPatternRGB(bmp->Bits(), bmp->BytesPerLine(), bmp->BitsPerPixel(), bmp->Width(),
                             bmp->Height(), 999);
  });
  ASSERT_TRUE(player.Open(clip_)) << player.LastErrMsg();
  ASSERT_EQ(WaitForPicture(player), 999);
  EXPECT_EQ(BitmapFrameNumber(player.CurrentFrame()), 999);
  PumpFor(200);
  player.Stop(true);
  std::lock_guard g(lock);
  // Every picture that reached the queue went through the hook, at its own time (a slow machine
  // may skip some).
  ASSERT_GE(times.size(), 3u);
  EXPECT_EQ(times[0], 0);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  for (int64_t t : times) EXPECT_EQ(t % 40000, 0) << t;
}

TEST_F(DisplayTest, AHookThatKeepsOrFailsLeavesThePictureAlone) {
  for (const bool fail : {false, true}) {
    log_.Allow(msg::kVideoHookException);
    TFFPlayer player;
    player.SetVideoHook(true);
    player.SetOnVideoHook([&](TObject*, runtime::TBitmap* bmp, int64_t, bool& update) {
      fixtures::DrawPatternRGB(bmp->Bits(), bmp->BytesPerLine(), 24, bmp->Width(), bmp->Height(),
                               999);
      if (fail) throw std::runtime_error("boom");
      update = false;
    });
    ASSERT_TRUE(player.Open(clip_)) << player.LastErrMsg();
    const int n = WaitForPicture(player);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, 50);
    player.Stop(true);
    if (fail) {
      EXPECT_TRUE(log_.Contains(std::string(msg::kVideoHookException) + "boom"));
    }
  }
}

TEST_F(DisplayTest, TheHookBitmapHasTheChosenDepth) {
  TFFPlayer player;
  std::atomic<int> bits{0};
  player.SetVideoHookBitsPixel(32);
  player.SetVideoHook(true);
  player.SetOnVideoHook(
      [&](TObject*, runtime::TBitmap* bmp, int64_t, bool&) { bits = bmp->BitsPerPixel(); });
  ASSERT_TRUE(player.Open(clip_, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return bits != 0; }));
  EXPECT_EQ(bits, 32);
  EXPECT_EQ(player.CurrentFrame()->BitsPerPixel(), 32);
  player.Stop(true);
}

TEST_F(DisplayTest, CurrentFrameShowsThePictureAtTheCurrentPosition) {
  TFFPlayer player;
  ASSERT_TRUE(player.Open(clip_)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return player.CurrentPTS() >= 400000; }));
  player.Pause();
  // Once the pictures still queued have been shown, the bitmap is the picture on screen.
  int64_t pts = -1;
  runtime::TBitmap* bmp = nullptr;
  int n = -1;
  ASSERT_TRUE(PumpUntil([&] {
    bmp = player.CurrentFrame(pts);
    n = BitmapFrameNumber(bmp);
    return n >= 0 && n == SurfaceFrameNumber(player.Surface().Snapshot());
  }));
  EXPECT_GE(n, 10);
  EXPECT_EQ(bmp->Width(), 320);
  EXPECT_EQ(bmp->Height(), 240);
  EXPECT_EQ(pts, n * 40000);
  EXPECT_NEAR(player.CurrentPTS(), pts, 40000);
  player.Stop(true);
  // Without playback: no picture.
  bmp = player.CurrentFrame(pts);
  EXPECT_EQ(pts, -1);
  EXPECT_TRUE(bmp->Empty());
}

TEST_F(DisplayTest, VideoFiltersShapeThePicture) {
  TFFPlayer player;
  player.SetVideoFilters("scale=160:120");
  ASSERT_TRUE(player.Open(clip_, nullptr, true)) << player.LastErrMsg();
  ASSERT_GE(WaitForPicture(player), 0);
  // Without a host or a surface size, the surface takes the filtered picture's size.
  EXPECT_EQ(player.Surface().Snapshot().size(), QSize(160, 120));
  EXPECT_EQ(player.CurrentFrame()->Width(), 160);
  player.Stop(true);
}

TEST_F(DisplayTest, AFilterGraphThatCannotBeBuiltShowsNoPictures) {
  log_.Allow(".*");
  TFFPlayer player;
  TEventRecorder rec(player);
  player.SetVideoFilters("no_such_filter");
  ASSERT_TRUE(player.Open(clip_)) << player.LastErrMsg();
  PumpFor(300);
  EXPECT_EQ(SurfaceFrameNumber(player.Surface().Snapshot()), -1);
  EXPECT_TRUE(player.Playing());
  player.Stop(true);
  EXPECT_EQ(rec.States().back(), psStop);
}

TEST_F(DisplayTest, AnImageIsShownWithoutPositionsOrReadErrors) {
  const std::string png = dir_.File("picture.png");
  fixtures::MakePatternPng(png, 320, 240, 77);
  TFFPlayer player;
  TEventRecorder rec(player);
  int64_t duration = -2;
  player.SetOnFileOpen([&](TObject*, int64_t d, int, int, int&, int&) { duration = d; });
  ASSERT_TRUE(player.Open(png)) << player.LastErrMsg();
  EXPECT_EQ(duration, 0);
  ASSERT_EQ(WaitForPicture(player), 77);
  PumpFor(200);
  EXPECT_TRUE(rec.Positions().empty());
  EXPECT_FALSE(log_.Contains("error #"));
  player.Stop(true);
}

TEST_F(DisplayTest, TheHostWidgetShowsThePictureAndCannotBeClosedWhilePlaying) {
  WidgetsApp();
  QWidget host;
  host.resize(400, 300);
  host.show();
  TFFPlayer player;
  int file_open_w = 0;
  player.SetOnFileOpen([&](TObject*, int64_t, int, int, int& sw, int&) { file_open_w = sw; });
  ASSERT_TRUE(player.Open(clip_, &host)) << player.LastErrMsg();
  EXPECT_EQ(file_open_w, 0);  // 0 on entry: the host's size is taken afterwards
  EXPECT_EQ(player.ScreenWidth(), 400);
  EXPECT_EQ(player.ScreenHeight(), 300);
  EXPECT_EQ(player.ScreenHandle(), &host);
  ASSERT_GE(WaitForPicture(player), 0);
  EXPECT_EQ(player.Surface().Snapshot().size(), QSize(400, 300));
  ASSERT_TRUE(PumpUntil([&] {
    const QImage shot = host.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return SurfaceFrameNumber(shot) >= 0;
  }));

  EXPECT_FALSE(host.close());
  EXPECT_TRUE(host.isVisible());

  host.resize(200, 150);
  ASSERT_TRUE(PumpUntil([&] { return player.Surface().Snapshot().size() == QSize(200, 150); }));
  ASSERT_TRUE(PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) >= 0; }));
  player.Stop(true);
  EXPECT_TRUE(host.close());
}

}  // namespace
}  // namespace trelvix::player::testing
