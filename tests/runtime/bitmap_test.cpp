// TBitmap: pixel formats and rows, conversions, and drawing on every depth and thread.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "runtime/application.h"
#include "runtime/bitmap.h"

namespace trelvix::runtime {
namespace {

constexpr TPixelFormat kAllFormats[] = {TPixelFormat::pf8bit, TPixelFormat::pf15bit,
                                        TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                        TPixelFormat::pf32bit};

const char* Name(TPixelFormat f) {
  switch (f) {
    case TPixelFormat::pf8bit:
      return "pf8bit";
    case TPixelFormat::pf15bit:
      return "pf15bit";
    case TPixelFormat::pf16bit:
      return "pf16bit";
    case TPixelFormat::pf24bit:
      return "pf24bit";
    case TPixelFormat::pf32bit:
      return "pf32bit";
  }
  return "?";
}

int CountColor(const TBitmap& b, TColor c, TRect r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += b.Pixel(x, y) == c ? 1 : 0;
  return n;
}

int CountNot(const TBitmap& b, TColor c) {
  return b.Width() * b.Height() - CountColor(b, c, {0, 0, b.Width(), b.Height()});
}

class BitmapText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(EnsureGuiApplication()); }
};

TEST(Bitmap, FormatsRowsAndAlignment) {
  struct Case {
    TPixelFormat format;
    int bits;
    QImage::Format qt;
  } cases[] = {
      {TPixelFormat::pf8bit, 8, QImage::Format_Indexed8},
      {TPixelFormat::pf15bit, 16, QImage::Format_RGB555},
      {TPixelFormat::pf16bit, 16, QImage::Format_RGB16},
      {TPixelFormat::pf24bit, 24, QImage::Format_BGR888},
      {TPixelFormat::pf32bit, 32, QImage::Format_ARGB32},
  };
  for (const Case& c : cases) {
    for (int width : {1, 3, 5, 7, 13, 720}) {
      TBitmap b(width, 3, c.format);
      SCOPED_TRACE(std::string(Name(c.format)) + " width " + std::to_string(width));
      EXPECT_EQ(b.BitsPerPixel(), c.bits);
      EXPECT_EQ(b.Image().format(), c.qt);
      EXPECT_EQ(b.BytesPerLine() % 4, 0);
      EXPECT_GE(b.BytesPerLine(), width * c.bits / 8);
      EXPECT_LT(b.BytesPerLine(), width * c.bits / 8 + 4);
      EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), b.BytesPerLine());
      EXPECT_EQ(b.ScanLine(0), b.Bits());
      EXPECT_EQ(b.ScanLine(-1), nullptr);
      EXPECT_EQ(b.ScanLine(3), nullptr);
      EXPECT_EQ(CountNot(b, clBlack), 0) << "new pixels are black";
    }
  }
  EXPECT_TRUE(TBitmap().Empty());
  EXPECT_EQ(TBitmap().ScanLine(0), nullptr);
}

TEST(Bitmap, PixelFormatForBits) {
  const std::pair<int, TPixelFormat> cases[] = {
      {8, TPixelFormat::pf8bit},   {15, TPixelFormat::pf15bit}, {16, TPixelFormat::pf16bit},
      {24, TPixelFormat::pf24bit}, {32, TPixelFormat::pf32bit}, {12, TPixelFormat::pf24bit},
      {0, TPixelFormat::pf24bit}};
  for (const auto& [bits, format] : cases) EXPECT_EQ(PixelFormatForBits(bits), format) << bits;
}

TEST(Bitmap, ColorHelpers) {
  EXPECT_EQ(RGBColor(1, 2, 3), 0x030201u);
  EXPECT_EQ(RedOf(clRed), 255);
  EXPECT_EQ(BlueOf(clNavy), 128);
  EXPECT_EQ(ColorToArgb(RGBColor(0x12, 0x34, 0x56)), 0xFF123456u);
  EXPECT_EQ(ArgbToColor(0x80123456u), RGBColor(0x12, 0x34, 0x56));
}

TEST(Bitmap, FilledPrimariesReadBackOnEveryDepth) {
  for (TPixelFormat f : kAllFormats) {
    TBitmap b(9, 5, f);
    b.Canvas().Brush().color = clRed;
    b.Canvas().FillRect({2, 1, 5, 4});
    b.Canvas().Brush().color = clBlue;
    b.Canvas().FillRect({-3, -3, 1, 1});  // clipped to the bitmap
    b.Canvas().Brush().style = TBrushStyle::bsClear;
    b.Canvas().FillRect({0, 0, 9, 5});  // a clear brush fills nothing
    SCOPED_TRACE(Name(f));
    EXPECT_EQ(CountColor(b, clRed, {2, 1, 5, 4}), 9);
    EXPECT_EQ(b.Pixel(0, 0), clBlue);
    EXPECT_EQ(CountNot(b, clBlack), 10);
  }
}

TEST(Bitmap, LayoutsInMemory) {
  // The byte layouts copied to and from the media libraries' pictures.
  struct Case {
    TPixelFormat format;
    TColor color;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {TPixelFormat::pf8bit, clRed, {0x07}},
      {TPixelFormat::pf8bit, clLime, {0x38}},
      {TPixelFormat::pf8bit, clBlue, {0xC0}},
      {TPixelFormat::pf15bit, clRed, {0x00, 0x7C}},
      {TPixelFormat::pf15bit, clBlue, {0x1F, 0x00}},
      {TPixelFormat::pf16bit, clRed, {0x00, 0xF8}},
      {TPixelFormat::pf16bit, clLime, {0xE0, 0x07}},
      {TPixelFormat::pf24bit, RGBColor(1, 2, 3), {3, 2, 1}},
      {TPixelFormat::pf32bit, RGBColor(1, 2, 3), {3, 2, 1, 255}},
  };
  for (const Case& c : cases) {
    TBitmap b(1, 1, c.format);
    b.Canvas().Brush().color = c.color;
    b.Canvas().FillRect({0, 0, 1, 1});
    EXPECT_EQ(std::vector<std::uint8_t>(b.ScanLine(0), b.ScanLine(0) + c.bytes.size()), c.bytes)
        << Name(c.format) << " colour " << std::hex << c.color;
  }
}

TEST(Bitmap, SetSizeKeepsTheCommonAreaAndPointersOfAnUnchangedSize) {
  TBitmap b(4, 4, TPixelFormat::pf24bit);
  b.Canvas().Brush().color = clRed;
  b.Canvas().FillRect({0, 0, 4, 4});
  const std::uint8_t* row = b.ScanLine(0);
  b.SetSize(4, 4);
  EXPECT_EQ(b.ScanLine(0), row);
  b.SetSize(6, 3);
  EXPECT_EQ(b.Width(), 6);
  EXPECT_EQ(b.Height(), 3);
  EXPECT_EQ(CountColor(b, clRed, {0, 0, 4, 3}), 12);
  EXPECT_EQ(CountColor(b, clBlack, {4, 0, 6, 3}), 6);
  b.SetSize(0, 3);
  EXPECT_TRUE(b.Empty());
}

TEST(Bitmap, CopiesAreDeepAndFormatsConvert) {
  TBitmap a(3, 3, TPixelFormat::pf24bit);
  a.Canvas().Brush().color = clLime;
  a.Canvas().FillRect({0, 0, 3, 3});
  TBitmap b = a;
  std::memset(b.ScanLine(1), 0, 9);  // row 1 black in the copy only
  EXPECT_EQ(a.Pixel(1, 1), clLime);
  EXPECT_EQ(b.Pixel(1, 1), clBlack);
  EXPECT_EQ(b.Canvas().Brush().color, clLime) << "the canvas state is copied";
  for (TPixelFormat f : kAllFormats) {
    TBitmap c = a;
    c.SetPixelFormat(f);
    EXPECT_EQ(c.PixelFormat(), f);
    EXPECT_EQ(c.Pixel(2, 2), clLime) << Name(f);
  }
  TBitmap d(1, 1, TPixelFormat::pf8bit);
  d.AssignImage(a.Image());
  EXPECT_EQ(d.Width(), 3);
  EXPECT_EQ(d.Image().format(), QImage::Format_Indexed8);
  EXPECT_EQ(d.Pixel(0, 0), clLime);
}

TEST(Bitmap, LockIsHeldAcrossThreadsAndIsRecursive) {
  TBitmap b(2, 2);
  {
    TBitmapLock outer(b);
    TBitmapLock inner(b);  // the same thread may lock again
    bool other_got_it = true;
    std::thread([&] { other_got_it = b.TryLock(); }).join();
    EXPECT_FALSE(other_got_it);
  }
  bool other_got_it = false;
  std::thread([&] {
    other_got_it = b.TryLock();
    if (other_got_it) b.Unlock();
  }).join();
  EXPECT_TRUE(other_got_it);
}

TEST(Bitmap, FontSizeInPointsAndPixels) {
  TFont f;
  f.SetSize(20);
  EXPECT_EQ(f.Height(), -27);
  EXPECT_EQ(f.Size(), 20);
  f.SetHeight(-57);
  EXPECT_EQ(f.Size(), 43);
  EXPECT_EQ(f.PixelHeight(), 57);
  EXPECT_EQ(MulDiv(-57, 72, 96), -43);
}

TEST_F(BitmapText, TextExtent) {
  TBitmap b;
  TCanvas& c = b.Canvas();
  c.Font().SetHeight(-57);
  EXPECT_EQ(c.TextWidth(""), 0);
  EXPECT_GT(c.TextWidth("WWW"), c.TextWidth("iii"));
  const TSize e = c.TextExtent("Hg");
  EXPECT_EQ(e.cx, c.TextWidth("Hg"));
  EXPECT_EQ(e.cy, c.TextHeight("Hg"));
  EXPECT_GE(e.cy, 57);
  EXPECT_LE(e.cy, 57 * 3 / 2);
  const int regular = c.TextWidth("Hello World");
  c.Font().SetStyle(fsBold);
  EXPECT_GT(c.TextWidth("Hello World"), regular);

  // Points and the equal pixel height measure alike; "Arial" is the metric-compatible
  // Liberation Sans.
  c.Font().SetStyle(0);
  c.Font().SetSize(20);
  const TSize points = c.TextExtent("Quendal");
  c.Font().SetHeight(-27);
  EXPECT_EQ(c.TextExtent("Quendal"), points);
  c.Font().SetName("Liberation Sans");
  EXPECT_EQ(c.TextExtent("Quendal"), points);
  c.Font().SetHeight(-54);
  EXPECT_GT(c.TextWidth("Quendal"), points.cx * 3 / 2);
}

TEST_F(BitmapText, TextDrawsInTheFontColourWithClearOrSolidBackground) {
  for (TPixelFormat f : kAllFormats) {
    for (bool opaque : {false, true}) {
      SCOPED_TRACE(std::string(Name(f)) + (opaque ? " solid" : " clear"));
      TBitmap b(160, 60, f);
      TCanvas& c = b.Canvas();
      c.Font().SetHeight(-30);
      c.Font().SetColor(clWhite);
      c.Brush().color = clBlue;
      c.Brush().style = opaque ? TBrushStyle::bsSolid : TBrushStyle::bsClear;
      c.TextOut(10, 10, "Hg");
      const TSize e = c.TextExtent("Hg");
      const TRect cell{10, 10, 10 + e.cx, 10 + e.cy};
      EXPECT_GT(CountColor(b, clWhite, cell), 40) << "glyph pixels in the font colour";
      EXPECT_EQ(b.Pixel(cell.left, cell.top), opaque ? clBlue : clBlack);
      EXPECT_EQ(b.Pixel(cell.right - 1, cell.bottom - 1), opaque ? clBlue : clBlack);
      EXPECT_EQ(CountColor(b, clBlue, {0, 0, 160, 60}), opaque ? CountColor(b, clBlue, cell) : 0);
      // Outside the cell (and a glyph's overhang of a pixel or two) nothing changes.
      const TRect near{cell.left - 2, cell.top - 2, cell.right + 2, cell.bottom + 2};
      const int changed_near = near.Width() * near.Height() - CountColor(b, clBlack, near);
      EXPECT_EQ(CountNot(b, clBlack), changed_near);
    }
  }
}

TEST_F(BitmapText, EightBitPixelsOutsideTheInkSurviveDrawing) {
  // Every table entry, drawn over with a text that has no ink, comes back unchanged.
  TBitmap b(16, 16, TPixelFormat::pf8bit);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) b.ScanLine(y)[x] = static_cast<std::uint8_t>(y * 16 + x);
  const TBitmap before = b;
  b.Canvas().Brush().style = TBrushStyle::bsClear;
  b.Canvas().Font().SetHeight(-40);
  b.Canvas().TextOut(0, 0, "   ");
  for (int y = 0; y < 16; ++y)
    EXPECT_EQ(std::memcmp(b.ScanLine(y), before.ScanLine(y), 16), 0) << "row " << y;
}

TEST_F(BitmapText, AntialiasingCanBeSwitchedOff) {
  auto draw = [](bool antialias) {
    TBitmap b(120, 50, TPixelFormat::pf24bit);
    b.Canvas().SetAntialias(antialias);
    b.Canvas().Font().SetHeight(-30);
    b.Canvas().Font().SetStyle(fsItalic);
    b.Canvas().Font().SetColor(clWhite);
    b.Canvas().Brush().style = TBrushStyle::bsClear;
    b.Canvas().TextOut(5, 5, "Sao");
    const int ink = CountNot(b, clBlack);
    return ink - CountColor(b, clWhite, {0, 0, 120, 50});  // pixels of mixed colour
  };
  EXPECT_GT(draw(true), 0) << "smoothed edges by default";
  EXPECT_EQ(draw(false), 0);
}

TEST_F(BitmapText, WorkerThreadsDrawTheSameAsTheMainThread) {
  auto paint = [](TPixelFormat f) {
    TBitmap b(200, 80, f);
    TCanvas& c = b.Canvas();
    c.Font().SetSize(20);
    c.Font().SetStyle(fsBold | fsUnderline);
    c.Font().SetColor(clYellow);
    c.Brush().style = TBrushStyle::bsClear;
    for (int i = 0; i < 20; ++i) c.TextOut(4 + i % 4, 10 + i % 3, "Zażółć gęślą");
    return b;
  };
  for (TPixelFormat f : {TPixelFormat::pf24bit, TPixelFormat::pf8bit}) {
    const TBitmap reference = paint(f);
    ASSERT_GT(CountNot(reference, clBlack), 100);
    std::vector<TBitmap> results(2);
    std::thread t1([&] { results[0] = paint(f); });
    std::thread t2([&] { results[1] = paint(f); });
    t1.join();
    t2.join();
    for (const TBitmap& r : results) EXPECT_TRUE(r.Image() == reference.Image()) << Name(f);
  }
}

}  // namespace
}  // namespace trelvix::runtime
