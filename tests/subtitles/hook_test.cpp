// Drawing subtitles onto frames: the per-frame handler, its timing and queue, the block
// position, the font height and the four subtitle types. One PNG per type is saved under
// $TRELVIX_TEST_BINARY_DIR/subtitle_frames for looking at.
#include <gtest/gtest.h>

#include <QDir>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/application.h"
#include "subtitles/subtitle_hook.h"
#include "subtitles/subtitle_loader.h"

namespace trelvix::subtitles {
namespace {

using runtime::TBitmap;
using runtime::TColor;

constexpr TColor kGrey = runtime::RGBColor(110, 120, 130);

// Qt converts and scales large images on its thread pool, which ThreadSanitizer cannot follow
// in an uninstrumented Qt; the pictures for looking at are not written in such a build.
#if defined(__SANITIZE_THREAD__)
constexpr bool kSavePictures = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kSavePictures = false;
#else
constexpr bool kSavePictures = true;
#endif
#else
constexpr bool kSavePictures = true;
#endif

class HookTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(runtime::EnsureGuiApplication()); }

  static TBitmap Frame(int w = 720, int h = 576, TColor fill = kGrey) {
    TBitmap b(w, h, runtime::TPixelFormat::pf24bit);
    b.Canvas().Brush().color = fill;
    b.Canvas().Brush().style = runtime::TBrushStyle::bsSolid;
    b.Canvas().FillRect({0, 0, w, h});
    return b;
  }

  // Timetable with the banner and the given rows.
  static TSubtitleTimetable Table(const std::vector<std::pair<int, QString>>& rows) {
    TSubtitleTimetable t;
    t.Append("0", BannerText());
    for (const auto& [ms, text] : rows) t.Append(ms, text);
    return t;
  }

  // Runs frames at 25 fps from `from` to `to` seconds; returns the text on screen per frame
  // (empty when nothing was drawn).
  std::vector<QString> Run(TSubtitleHook& hook, double from, double to) {
    std::vector<QString> shown;
    TBitmap frame = Frame(320, 240);
    for (int n = int(from * 25 + 0.5); n <= int(to * 25 + 0.5); ++n) {
      bool stop = false;
      const bool drew = hook.Process(frame, int64_t(n) * 40000, n, stop);
      EXPECT_FALSE(stop);
      shown.push_back(drew ? hook.CurrentText() : QString());
    }
    return shown;
  }

  struct Counts {
    int black = 0, colour = 0, other = 0;
  };
  static Counts CountInBlock(const TBitmap& b, const TSubtitleBlock& k, TColor colour) {
    Counts c;
    for (int y = std::max(0, k.Top); y < std::min(b.Height(), k.Top + k.Height); ++y)
      for (int x = std::max(0, k.Left); x < std::min(b.Width(), k.Left + k.Width); ++x) {
        const TColor p = b.Pixel(x, y);
        if (p == runtime::clBlack)
          ++c.black;
        else if (p == colour)
          ++c.colour;
        else if (p != kGrey)
          ++c.other;
      }
    return c;
  }

  static std::string FramesDir() {
    const char* base = std::getenv("TRELVIX_TEST_BINARY_DIR");
    const QString dir = QString::fromUtf8(base ? base : ".") + "/subtitle_frames";
    QDir().mkpath(dir);
    return dir.toStdString();
  }
};

TEST_F(HookTest, FontHeightIsTenPercentOfTheFrame) {
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({}), TSubtitleSettings{});
  TBitmap frame = Frame();
  hook.PiszTXT("Krótki napis", 0, false, frame);
  EXPECT_EQ(hook.LastBlock().FontHeight, 57);
  EXPECT_EQ(hook.LastBlock().Lines, 1);
  EXPECT_EQ(hook.LastBlock().Height, 57 + 15);
}

TEST_F(HookTest, BlockPositionFollowsNapisBottom) {
  struct Case {
    double bottom;
    int top;
  } cases[] = {{0, 576 - 72}, {1, 499}, {50, 252}, {99, 5}};
  for (const Case& c : cases) {
    TSubtitleSettings s;
    s.NapisBottom = c.bottom;
    TSubtitleHook hook;
    hook.StartConversion(Table({}), s);
    TBitmap frame = Frame();
    hook.PiszTXT("Napis", 0, false, frame);
    EXPECT_EQ(hook.LastBlock().Top, c.top) << c.bottom;
    const int centre = hook.LastBlock().Left + hook.LastBlock().Width / 2;
    EXPECT_NEAR(centre, 360, 1);
  }
}

TEST_F(HookTest, LongLinesAreSplitAndTheFontStopsAtItsSmallestSize) {
  TSubtitleHook hook;
  hook.StartConversion(Table({}), TSubtitleSettings{});
  TBitmap frame = Frame();
  hook.PiszTXT("To jest bardzo długie zdanie, które na pewno nie zmieści się w jednej linii", 0,
               false, frame);
  EXPECT_GE(hook.LastBlock().Lines, 2);
  EXPECT_LE(hook.LastBlock().Width - 25, 691);

  TSubtitleSettings no_split;
  no_split.IQDziel = false;
  hook.StartConversion(Table({}), no_split);
  TBitmap small = Frame(160, 120);
  hook.PiszTXT(QString(400, u'W'), 0, false, small);
  EXPECT_EQ(hook.LastBlock().Lines, 1);
  EXPECT_EQ(hook.LastBlock().FontHeight, runtime::MulDiv(kMinFontPoints, 96, 72));
}

TEST_F(HookTest, SubtitleStaysForItsDisplayTimeThenTheWaitingOneFollows) {
  const QString a = QString(40, u'a');
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({{10000, a}, {12000, "b"}}), TSubtitleSettings{});
  const std::vector<QString> shown = Run(hook, 0, 16);
  auto at = [&](double t) { return shown[size_t(t * 25 + 0.5)]; };
  // The banner on the first frames.
  EXPECT_EQ(at(0), BannerText());
  EXPECT_EQ(at(9.96), QString());
  EXPECT_EQ(at(10.0), a);
  EXPECT_EQ(at(12.0), a);
  EXPECT_EQ(at(12.4), a);
  // "b" was due at 12 s, waited, and follows when "a" has had its 2400 ms.
  EXPECT_EQ(at(12.44), "b");
  EXPECT_EQ(at(13.0), "b");
  EXPECT_EQ(at(16.0), QString());
}

TEST_F(HookTest, WithoutIntelligentSubtitlesANewOneReplacesTheCurrent) {
  TSubtitleSettings s;
  s.IQNapisow = false;
  s.NapisyCzasTag = 4000;
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({{10000, "a"}, {12000, "b"}}), s);
  const std::vector<QString> shown = Run(hook, 9, 17);
  auto at = [&](double t) { return shown[size_t((t - 9) * 25 + 0.5)]; };
  EXPECT_EQ(at(10.0), "a");
  EXPECT_EQ(at(11.96), "a");
  EXPECT_EQ(at(12.0), "b");
  EXPECT_EQ(at(16.0), "b");
  EXPECT_EQ(at(16.04), QString());
}

TEST_F(HookTest, TheLastRowsOfTheTimetableAreShown) {
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({{5000, "pierwszy"}, {8000, "ostatni"}}), TSubtitleSettings{});
  const std::vector<QString> shown = Run(hook, 0, 12);
  EXPECT_NE(std::find(shown.begin(), shown.end(), "pierwszy"), shown.end());
  EXPECT_NE(std::find(shown.begin(), shown.end(), "ostatni"), shown.end());
  EXPECT_EQ(hook.NextRow(), 4);
}

TEST_F(HookTest, ALoneShortSubtitleGetsMoreTimeWhenTheNextIsFarAway) {
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({{10000, QString(40, u'a')}, {30000, "b"}, {31000, "c"}}),
                       TSubtitleSettings{});
  Run(hook, 0, 10);
  EXPECT_EQ(hook.DisplayTime(), 4800);
  EXPECT_EQ(hook.ShowUntil(), 14800000);
}

TEST_F(HookTest, ANewConversionStartsWithNothingShowingOrWaiting) {
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  const TSubtitleTimetable t = Table({{1000, "one"}, {1000, "two"}, {1000, "three"}});
  hook.StartConversion(t, TSubtitleSettings{});
  Run(hook, 1, 1.2);
  ASSERT_TRUE(hook.Showing());
  ASSERT_FALSE(hook.Queue().empty());

  hook.StartConversion(Table({{5000, "new"}}), TSubtitleSettings{});
  EXPECT_TRUE(hook.Queue().empty());
  EXPECT_FALSE(hook.Showing());
  EXPECT_EQ(hook.NextRow(), 1);
  const std::vector<QString> shown = Run(hook, 0, 0.2);
  EXPECT_EQ(shown.front(), BannerText());
}

TEST_F(HookTest, SwitchOffStopsTheHookAndLeavesTheFrame) {
  TSubtitleHook hook;
  hook.StartConversion(Table({{0, "x"}}), TSubtitleSettings{});
  TBitmap frame = Frame(64, 48);
  const QImage before = frame.ToImage();
  bool stop = false;
  EXPECT_FALSE(hook.Process(frame, 0, 0, stop));
  EXPECT_TRUE(stop);
  EXPECT_EQ(frame.ToImage(), before);
}

TEST_F(HookTest, FramesWithoutATimeArePlacedByTheirNumber) {
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  hook.StartConversion(Table({{2000, "x"}}), TSubtitleSettings{}, 25);
  TBitmap frame = Frame(64, 48);
  bool stop = false;
  hook.Process(frame, TSubtitleHook::kNoPts, 40, stop);
  EXPECT_EQ(hook.CurrentTime(), 1600000);
  EXPECT_EQ(hook.NextRow(), 2);
  hook.Process(frame, TSubtitleHook::kNoPts, 60, stop);
  EXPECT_EQ(hook.CurrentTime(), 2400000);
  EXPECT_EQ(hook.NextRow(), 3);
}

TEST_F(HookTest, SubtitleTypes) {
  struct Case {
    int type;
    bool outline;
    bool box;
  } cases[] = {{0, true, false}, {1, false, false}, {2, false, true}, {3, true, false}};
  const std::string dir = FramesDir();
  for (const Case& c : cases) {
    TSubtitleSettings s;
    s.FontType = c.type;
    TSubtitleHook hook;
    hook.StartConversion(Table({}), s);
    TBitmap frame = Frame();
    hook.PiszTXT(QString::fromUtf8("Zażółć gęślą jaźń|typ %1").arg(c.type), 0, false, frame);
    const TSubtitleBlock& k = hook.LastBlock();
    ASSERT_EQ(k.Lines, 2);
    const Counts n = CountInBlock(frame, k, runtime::clWhite);
    SCOPED_TRACE(c.type);
    EXPECT_GT(n.colour, 500);
    if (c.outline) {
      EXPECT_GT(n.black, n.colour / 4);
    } else if (!c.box) {
      EXPECT_EQ(n.black, 0);
    }
    if (c.box) {
      // The black boxes fill the text cells: far more black than text.
      EXPECT_GT(n.black, 3 * n.colour);
      // Just below line 1's first glyph row and just left of its first letter, inside the cell.
      const int x_first = k.Left + (k.Width - 25) / 2;
      EXPECT_EQ(frame.Pixel(x_first + 13, k.Top + 2), runtime::clBlack);
    }
    // Nothing outside the block changes (beyond a few pixels of glyph overhang).
    int changed_outside = 0;
    for (int y = 0; y < frame.Height(); ++y)
      for (int x = 0; x < frame.Width(); ++x) {
        const bool inside = x >= k.Left - 4 && x < k.Left + k.Width + 4 && y >= k.Top - 4 &&
                            y < k.Top + k.Height + 8;
        if (!inside && frame.Pixel(x, y) != kGrey) ++changed_outside;
      }
    EXPECT_EQ(changed_outside, 0);
    if (!kSavePictures) continue;
    const QString name = QString::fromStdString(dir + "/type" + std::to_string(c.type));
    EXPECT_TRUE(frame.ToImage().save(name + ".png"));
    // The first letters of line 1, three times as large, to see the outline.
    EXPECT_TRUE(frame.ToImage()
                    .copy(k.Left, k.Top, 160, k.FontHeight + 20)
                    .scaled(480, 3 * (k.FontHeight + 20))
                    .save(name + "_zoom.png"));
  }
}

TEST_F(HookTest, MarkupColoursAndStylesReachTheFrame) {
  struct Case {
    const char* text;
    TColor colour;
    runtime::TFontStyles style;
  } cases[] = {
      {"{C:$0000FF}Czerwony", runtime::clRed, 0},
      {"<font color=\"#FF0000\">Czerwony</font> znikam", runtime::clRed, 0},
      {"/Kursywa", runtime::clWhite, runtime::fsItalic},
      {"{y:b}Gruby|druga linia", runtime::clWhite, runtime::fsBold},
  };
  for (const Case& c : cases) {
    TSubtitleSettings s;
    s.FontType = stNieprzezroczyste;
    TSubtitleHook hook;
    hook.StartConversion(Table({}), s);
    TBitmap frame = Frame();
    hook.PiszTXT(QString::fromUtf8(c.text), 0, false, frame);
    const Counts n = CountInBlock(frame, hook.LastBlock(), c.colour);
    EXPECT_GT(n.colour, 300) << c.text;
    if (c.colour != runtime::clWhite) {
      EXPECT_EQ(CountInBlock(frame, hook.LastBlock(), runtime::clWhite).colour, 0) << c.text;
    }
    // The last line's style is the frame font's style after drawing.
    EXPECT_EQ(frame.Canvas().Font().Style(), c.style) << c.text;
  }
}

TEST_F(HookTest, ClosingFontTagDropsTheWordsAfterIt) {
  TSubtitleSettings s;
  s.FontType = stNieprzezroczyste;
  s.FontVol = 5;  // small enough for the whole line to fit unsplit
  TSubtitleHook hook;
  hook.StartConversion(Table({}), s);
  TBitmap with_tail = Frame(), without = Frame();
  hook.PiszTXT("Tekst</font> i dalsze słowa", 0, false, with_tail);
  hook.PiszTXT("Tekst", 0, false, without);
  // The same ink, at most a pixel apart (the block width is measured with the tag).
  struct Ink {
    int count = 0, left = 1 << 30, right = -1;
  };
  auto ink = [](const TBitmap& b) {
    Ink k;
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x)
        if (b.Pixel(x, y) != kGrey) {
          ++k.count;
          k.left = std::min(k.left, x);
          k.right = std::max(k.right, x);
        }
    return k;
  };
  const Ink a = ink(with_tail), b = ink(without);
  EXPECT_GT(b.count, 100);
  EXPECT_EQ(a.count, b.count);
  EXPECT_EQ(a.right - a.left, b.right - b.left);
  EXPECT_NEAR(a.left, b.left, 1);
}

}  // namespace
}  // namespace trelvix::subtitles
