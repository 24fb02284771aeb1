// The subtitle overlay: drawn once per subtitle, laid onto frames with the pixels that drawing
// straight onto them gives, and nothing for frames that show no subtitle.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/application.h"
#include "subtitles/subtitle_hook.h"

namespace trelvix::subtitles {
namespace {

using runtime::TBitmap;
using runtime::TPixelFormat;

class OverlayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(runtime::EnsureGuiApplication()); }

  // A frame with colours that change across it, so that blending shows in every channel.
  static TBitmap Frame(int w, int h, TPixelFormat format = TPixelFormat::pf24bit) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x * 7 + y * 13) % 256));
    TBitmap b(w, h, format);
    b.AssignImage(image);
    return b;
  }

  static TSubtitleTimetable Table(const std::vector<std::pair<int, QString>>& rows) {
    TSubtitleTimetable t;
    for (const auto& [ms, text] : rows) t.Append(ms, text);
    return t;
  }

  // How the frame laid over (blended) differs from the frame drawn on (direct): pixels that the
  // drawing covered in a subtitle colour must be the same (but for the odd one whose nearly full
  // coverage rounded to the colour on one side only); the others, smoothed edges, may round
  // differently by a step or two.
  struct Difference {
    int drawn = 0;          // pixels the direct drawing changed
    int solid = 0;          // pixels it covered fully
    int solid_changed = 0;  // of those, pixels that differ here by more than a step
    int solid_rounded = 0;  // and by one step
    int max_other = 0;      // the largest channel difference elsewhere
  };
  static Difference Compare(const TBitmap& original, const TBitmap& blended, const TBitmap& direct,
                            std::initializer_list<runtime::TColor> solid) {
    Difference d;
    const auto rgb = [](const TBitmap& b) {
      return b.Image().convertToFormat(QImage::Format_RGB32);
    };
    const QImage o = rgb(original), b = rgb(blended), t = rgb(direct);
    for (int y = 0; y < o.height(); ++y)
      for (int x = 0; x < o.width(); ++x) {
        const QRgb p = b.pixel(x, y), q = t.pixel(x, y);
        const int step = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                   std::abs(qBlue(p) - qBlue(q))});
        d.drawn += q != o.pixel(x, y);
        if (std::find(solid.begin(), solid.end(), runtime::ArgbToColor(q)) != solid.end()) {
          ++d.solid;
          d.solid_changed += step > 1;
          d.solid_rounded += step == 1;
        } else {
          d.max_other = std::max(d.max_other, step);
        }
      }
    return d;
  }
};

TEST_F(OverlayTest, GivesThePixelsOfDrawingStraightOntoTheFrame) {
  struct Case {
    int type;
    const char* text;
    runtime::TColor colour;
    TPixelFormat format;
  } cases[] = {
      {stPrzezroczyste, "Zażółć gęślą jaźń|druga linia", runtime::clWhite, TPixelFormat::pf24bit},
      {stNieprzezroczyste, "{C:$0000FF}Czerwony napis", runtime::clRed, TPixelFormat::pf24bit},
      {stPolprzezroczyste, "Na czarnym tle|gjpqy pod spodem", runtime::clWhite,
       TPixelFormat::pf24bit},
      {stPolprzezroczysteXP, "/Kursywa z obwódką|i druga|i trzecia", runtime::clWhite,
       TPixelFormat::pf24bit},
      {stPrzezroczyste, "Trzydzieści dwa bity", runtime::clWhite, TPixelFormat::pf32bit},
      {stPrzezroczyste, "Szesnaście bitów", runtime::clWhite, TPixelFormat::pf16bit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TSubtitleSettings s;
    s.FontType = c.type;
    TSubtitleHook hook;
    hook.StartConversion(Table({}), s);
    const TBitmap original = Frame(640, 360, c.format);
    TBitmap blended = original, direct = original;
    hook.PiszTXT(QString::fromUtf8(c.text), 0, false, blended);
    hook.DrawDirectly(direct);
    const Difference d = Compare(original, blended, direct, {c.colour, runtime::clBlack});
    EXPECT_GT(d.drawn, 2000);
    EXPECT_GT(d.solid, d.drawn / 4);
    EXPECT_EQ(d.solid_changed, 0);
    EXPECT_LE(d.solid_rounded, 5);
    EXPECT_LE(d.max_other, 2);
  }
}

TEST_F(OverlayTest, ASubtitleIsDrawnOnceWhileItIsShown) {
  TSubtitleSettings s;
  s.IQNapisow = false;
  s.NapisyCzasTag = 1000;
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({{200, "pierwszy|napis"}, {2000, "drugi"}}), s);
  TBitmap frame = Frame(320, 240);
  int drawn = 0;
  for (int n = 0; n < 100; ++n) {  // 4 s at 25 fps
    bool stop = false;
    drawn += hook.Process(frame, int64_t(n) * 40000, n, stop);
  }
  EXPECT_EQ(drawn, 2 * 26);  // 1 s each, both ends included
  EXPECT_EQ(hook.Renders(), 2);

  // Another frame size draws the subtitle on screen again, once.
  hook.StartConversion(Table({{0, "napis"}}), s);
  EXPECT_EQ(hook.Renders(), 2);
  TBitmap small = Frame(320, 240), large = Frame(640, 480);
  bool stop = false;
  EXPECT_TRUE(hook.Process(small, 0, 0, stop));
  EXPECT_TRUE(hook.Process(small, 40000, 1, stop));
  EXPECT_EQ(hook.Renders(), 3);
  EXPECT_TRUE(hook.Process(large, 80000, 2, stop));
  EXPECT_TRUE(hook.Process(large, 120000, 3, stop));
  EXPECT_EQ(hook.Renders(), 4);
  // New settings (a new conversion) draw it again.
  s.FontType = stPolprzezroczyste;
  hook.StartConversion(Table({{0, "napis"}}), s);
  EXPECT_TRUE(hook.Process(large, 0, 0, stop));
  EXPECT_EQ(hook.Renders(), 5);
  EXPECT_FALSE(stop);
}

TEST_F(OverlayTest, PrepareNamesWhereTheSubtitleGoesAndNothingBetweenSubtitles) {
  TSubtitleSettings s;
  s.IQNapisow = false;
  s.NapisyCzasTag = 1000;
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({{1000, "pierwszy|napis"}, {3000, "drugi"}}), s);
  int with = 0;
  for (int n = 0; n < 125; ++n) {  // 5 s at 25 fps
    const int64_t pts = int64_t(n) * 40000;
    bool stop = false;
    const runtime::TRect area = hook.Prepare(320, 240, pts, n, stop);
    TBitmap frame = Frame(320, 240);
    const TBitmap before = frame;
    const bool drew = hook.Process(frame, pts, n, stop);
    const bool due = (pts >= 1000000 && pts <= 2000000) || (pts >= 3000000 && pts <= 4000000);
    SCOPED_TRACE(n);
    EXPECT_EQ(area.Width() > 0, due);
    EXPECT_EQ(drew, due);
    with += drew;
    // Every changed pixel lies inside the area, and the area is no larger than the ink.
    int top = 1 << 30, bottom = -1, left = 1 << 30, right = -1;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        if (frame.Pixel(x, y) != before.Pixel(x, y)) {
          top = std::min(top, y);
          bottom = std::max(bottom, y);
          left = std::min(left, x);
          right = std::max(right, x);
        }
    if (!due) {
      EXPECT_EQ(bottom, -1);
      continue;
    }
    EXPECT_GE(top, area.top);
    EXPECT_LT(bottom, area.bottom);
    EXPECT_GE(left, area.left);
    EXPECT_LT(right, area.right);
    EXPECT_LE(area.Height(), bottom - top + 3);
  }
  EXPECT_EQ(with, 2 * 26);
  EXPECT_EQ(hook.Renders(), 2);
}

}  // namespace
}  // namespace trelvix::subtitles
