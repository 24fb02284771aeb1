// TBitmap: a picture in memory with a drawing surface (TCanvas), the form in which frames travel
// between the engine, the hooks, the subtitle drawing and the previews.
//
// Pixel layouts (rows top-down, each row 32-bit aligned; matching FFmpeg pixel formats in
// brackets, for whoever copies library pictures in and out):
//   pf8bit   1 byte,  index into a fixed 3-3-2 table: red bits 0-2, green 3-5, blue 6-7 [BGR8]
//   pf15bit  2 bytes, little-endian word 0RRRRRGGGGGBBBBB                          [RGB555LE]
//   pf16bit  2 bytes, little-endian word RRRRRGGGGGGBBBBB                          [RGB565LE]
//   pf24bit  3 bytes, B, G, R                                                     [BGR24]
//   pf32bit  4 bytes, B, G, R, A (A = 255 in new pixels)                          [BGRA]
//
// Threads: a bitmap and its canvas may be used on any thread, one thread at a time; a bitmap
// shared between threads is guarded by its lock (Lock/Unlock or TBitmapLock), which no method
// takes by itself. Drawing text needs a QGuiApplication (see runtime/application.h:
// EnsureGuiApplication); filling and pixel access do not.
#pragma once

#include <QImage>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "runtime/color.h"

namespace trelvix::runtime {

enum class TPixelFormat { pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

// Storage bits per pixel: 8, 16 (pf15bit and pf16bit), 24 or 32.
int BitsPerPixel(TPixelFormat format);
// 8 -> pf8bit, 15 -> pf15bit, 16 -> pf16bit, 32 -> pf32bit, 24 and any other value -> pf24bit.
TPixelFormat PixelFormatForBits(int bits);

// The screen resolution that converts point sizes to pixels (the classic desktop 96 dpi).
constexpr int kPixelsPerInch = 96;

// Rounded a * b / c, the usual way of converting between points and pixels.
int MulDiv(int a, int b, int c);

struct TSize {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const TSize&, const TSize&) = default;
};

// Right and bottom are exclusive.
struct TRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

using TFontStyles = std::uint8_t;
constexpr TFontStyles fsBold = 1;
constexpr TFontStyles fsItalic = 2;
constexpr TFontStyles fsUnderline = 4;
constexpr TFontStyles fsStrikeOut = 8;

class TFont {
 public:
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  // Negative: the character height in pixels. Positive values are taken as the same pixel
  // height (no distinction between cell and character height is kept). 0 = the default size.
  int Height() const { return height_; }
  void SetHeight(int height) { height_ = height; }
  // Size in points at kPixelsPerInch: Size() = MulDiv(-Height(), 72, 96) for a negative height;
  // SetSize(s) sets Height() = -MulDiv(s, 96, 72).
  int Size() const;
  void SetSize(int points);
  // The character height in pixels that drawing uses (always >= 1).
  int PixelHeight() const;
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles style) { style_ = style; }
  TColor Color() const { return color_; }
  void SetColor(TColor color) { color_ = color; }
  // Kept for the settings that carry it; drawing is Unicode and does not use it.
  int Charset() const { return charset_; }
  void SetCharset(int charset) { charset_ = charset; }

 private:
  std::string name_ = "Arial";
  int height_ = -11;  // 8 points
  TFontStyles style_ = 0;
  TColor color_ = clBlack;
  int charset_ = 1;  // "default"
};

enum class TBrushStyle { bsSolid, bsClear };

struct TBrush {
  TColor color = clWhite;
  TBrushStyle style = TBrushStyle::bsSolid;
};

// Kept with the canvas state; the canvas draws no lines yet.
struct TPen {
  TColor color = clBlack;
  int width = 1;
};

class TBitmap;

// The drawing surface of one bitmap; owned by it and valid as long as the bitmap.
class TCanvas {
 public:
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  TBrush& Brush() { return brush_; }
  const TBrush& Brush() const { return brush_; }
  TPen& Pen() { return pen_; }
  const TPen& Pen() const { return pen_; }
  // Smoothed glyph edges (the rasteriser's default, on) or hard-edged glyphs.
  bool Antialias() const { return antialias_; }
  void SetAntialias(bool on) { antialias_ = on; }

  // Draws UTF-8 text with the font colour; (x, y) is the top-left corner of the text cell. With
  // a solid brush the cell (TextExtent at (x, y)) is first filled with the brush colour; with a
  // clear brush the background shows through.
  void TextOut(int x, int y, std::string_view text);
  // Advance width and cell height (ascent + descent) of text in the current font.
  TSize TextExtent(std::string_view text) const;
  int TextWidth(std::string_view text) const { return TextExtent(text).cx; }
  int TextHeight(std::string_view text) const { return TextExtent(text).cy; }
  // Fills the rectangle with the brush colour; nothing with a clear brush.
  void FillRect(const TRect& rect);

 private:
  friend class TBitmap;
  explicit TCanvas(TBitmap& owner) : owner_(owner) {}
  void CopyStateFrom(const TCanvas& other);
  template <class Draw>
  void Paint(const QRect& area, Draw&& draw);

  TBitmap& owner_;
  TFont font_;
  TBrush brush_;
  TPen pen_;
  bool antialias_ = true;
};

class TBitmap {
 public:
  TBitmap() : canvas_(*this) {}
  TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
  // Copies are deep (pixels and canvas state); the lock is not copied.
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);
  ~TBitmap() = default;

  TPixelFormat PixelFormat() const { return format_; }
  // Converts the pixels to the new format (8-bit: nearest colour of the 3-3-2 table).
  void SetPixelFormat(TPixelFormat format);
  int BitsPerPixel() const { return runtime::BitsPerPixel(format_); }

  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  bool Empty() const { return image_.isNull(); }
  // Keeps the pixels of the common top-left area; new pixels are black. Same size: no change.
  // 0 in either dimension makes the bitmap empty.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, Height()); }
  void SetHeight(int height) { SetSize(Width(), height); }

  // Row y (top-down), BytesPerLine() bytes, 32-bit aligned; nullptr when y is out of range.
  // Pointers stay valid until the size, the pixel format or the whole bitmap is changed.
  std::uint8_t* ScanLine(int y);
  const std::uint8_t* ScanLine(int y) const;
  int BytesPerLine() const { return static_cast<int>(image_.bytesPerLine()); }
  std::uint8_t* Bits() { return image_.isNull() ? nullptr : image_.bits(); }
  const std::uint8_t* Bits() const { return image_.isNull() ? nullptr : image_.constBits(); }

  // The colour at (x, y); clBlack outside the bitmap.
  TColor Pixel(int x, int y) const;
  // Takes the size and pixels of image, converted to this bitmap's pixel format.
  void AssignImage(const QImage& image);
  // The pixels as a QImage (Indexed8 with the 3-3-2 table for pf8bit), for drawing them
  // elsewhere without a copy; valid until the bitmap changes. Do not keep a QImage copy of it
  // (it would share the pixels with this bitmap): keep ToImage(), a deep copy, instead.
  const QImage& Image() const { return image_; }
  QImage ToImage() const { return image_.copy(); }

  TCanvas& Canvas() { return canvas_; }
  const TCanvas& Canvas() const { return canvas_; }

  // The bitmap's lock (recursive). Any thread.
  void Lock() { lock_.lock(); }
  bool TryLock() { return lock_.try_lock(); }
  void Unlock() { lock_.unlock(); }

 private:
  friend class TCanvas;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  QImage image_;  // Null while empty.
  TCanvas canvas_;
  std::recursive_mutex lock_;
};

// Holds a bitmap's lock for a scope.
class TBitmapLock {
 public:
  explicit TBitmapLock(TBitmap& bitmap) : bitmap_(bitmap) { bitmap_.Lock(); }
  ~TBitmapLock() { bitmap_.Unlock(); }
  TBitmapLock(const TBitmapLock&) = delete;
  TBitmapLock& operator=(const TBitmapLock&) = delete;

 private:
  TBitmap& bitmap_;
};

}  // namespace trelvix::runtime
