#include "runtime/bitmap.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace trelvix::runtime {
namespace {

QImage::Format QtFormat(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pf8bit:
      return QImage::Format_Indexed8;
    case TPixelFormat::pf15bit:
      return QImage::Format_RGB555;
    case TPixelFormat::pf16bit:
      return QImage::Format_RGB16;
    case TPixelFormat::pf32bit:
      return QImage::Format_ARGB32;
    case TPixelFormat::pf24bit:
      break;
  }
  return QImage::Format_BGR888;
}

// The 3-3-2 table: index bits 0-2 red, 3-5 green, 6-7 blue.
const QList<QRgb>& Table332() {
  static const QList<QRgb> table = [] {
    QList<QRgb> t(256);
    for (int i = 0; i < 256; ++i) {
      const int r = (i & 7) * 255 / 7 + ((i & 7) * 255 % 7 >= 4 ? 1 : 0);
      const int g = ((i >> 3) & 7) * 255 / 7 + (((i >> 3) & 7) * 255 % 7 >= 4 ? 1 : 0);
      const int b = ((i >> 6) & 3) * 85;
      t[i] = qRgb(r, g, b);
    }
    return t;
  }();
  return table;
}

std::uint8_t NearestIndex332(QRgb c) {
  const int r = (qRed(c) * 7 + 127) / 255;
  const int g = (qGreen(c) * 7 + 127) / 255;
  const int b = (qBlue(c) * 3 + 127) / 255;
  return static_cast<std::uint8_t>(r | (g << 3) | (b << 6));
}

QImage NewImage(int width, int height, TPixelFormat format) {
  QImage image(width, height, QtFormat(format));
  if (image.isNull()) return image;
  if (format == TPixelFormat::pf8bit) {
    image.setColorTable(Table332());
    image.fill(0u);
  } else {
    image.fill(QColor(Qt::black));
  }
  return image;
}

// Any image into the bitmap representation of format.
QImage ConvertTo(const QImage& source, TPixelFormat format) {
  if (source.isNull()) return {};
  if (format != TPixelFormat::pf8bit) {
    if (source.format() == QtFormat(format)) return source.copy();
    return source.convertToFormat(QtFormat(format));
  }
  const QImage rgb = source.convertToFormat(QImage::Format_RGB32);
  QImage out = NewImage(source.width(), source.height(), format);
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    std::uint8_t* dst = out.scanLine(y);
    for (int x = 0; x < rgb.width(); ++x) dst[x] = NearestIndex332(in[x]);
  }
  return out;
}

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont ToQFont(const TFont& font, bool antialias) {
  QFont f(QString::fromStdString(font.Name()));
  f.setPixelSize(font.PixelHeight());
  f.setBold((font.Style() & fsBold) != 0);
  f.setItalic((font.Style() & fsItalic) != 0);
  f.setUnderline((font.Style() & fsUnderline) != 0);
  f.setStrikeOut((font.Style() & fsStrikeOut) != 0);
  if (!antialias) f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

}  // namespace

int BitsPerPixel(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pf8bit:
      return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit:
      return 16;
    case TPixelFormat::pf32bit:
      return 32;
    case TPixelFormat::pf24bit:
      break;
  }
  return 24;
}

TPixelFormat PixelFormatForBits(int bits) {
  switch (bits) {
    case 8:
      return TPixelFormat::pf8bit;
    case 15:
      return TPixelFormat::pf15bit;
    case 16:
      return TPixelFormat::pf16bit;
    case 32:
      return TPixelFormat::pf32bit;
    default:
      return TPixelFormat::pf24bit;
  }
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  long long q = (std::llabs(p) + std::llabs(static_cast<long long>(c)) / 2) / std::llabs(c);
  if ((p < 0) != (c < 0)) q = -q;
  return static_cast<int>(q);
}

// ---- TFont

int TFont::Size() const {
  if (height_ == 0) return 8;
  return MulDiv(std::abs(height_), 72, kPixelsPerInch);
}

void TFont::SetSize(int points) {
  height_ = -MulDiv(points, kPixelsPerInch, 72);
}

int TFont::PixelHeight() const {
  if (height_ == 0) return MulDiv(8, kPixelsPerInch, 72);
  return std::max(1, std::abs(height_));
}

// ---- TCanvas

void TCanvas::CopyStateFrom(const TCanvas& other) {
  font_ = other.font_;
  brush_ = other.brush_;
  pen_ = other.pen_;
  antialias_ = other.antialias_;
}

// Runs draw(painter) on the bitmap; area is where draw changes pixels (nothing happens when it
// lies outside the bitmap). QPainter cannot open indexed images, so an 8-bit bitmap is drawn
// through a 32-bit copy of that area, mapped back to the table afterwards.
template <class Draw>
void TCanvas::Paint(const QRect& area, Draw&& draw) {
  QImage& image = owner_.image_;
  if (image.isNull()) return;
  const QRect r = area.intersected(image.rect());
  if (r.isEmpty()) return;
  if (image.format() != QImage::Format_Indexed8) {
    QPainter p;
    if (!p.begin(&image)) return;
    p.setRenderHint(QPainter::TextAntialiasing, antialias_);
    draw(p);
    return;
  }
  const QList<QRgb>& table = Table332();
  QImage tmp(r.size(), QImage::Format_RGB32);
  for (int y = 0; y < r.height(); ++y) {
    const std::uint8_t* src = image.constScanLine(r.top() + y) + r.left();
    auto* dst = reinterpret_cast<QRgb*>(tmp.scanLine(y));
    for (int x = 0; x < r.width(); ++x) dst[x] = table[src[x]];
  }
  {
    QPainter p;
    if (!p.begin(&tmp)) return;
    p.setRenderHint(QPainter::TextAntialiasing, antialias_);
    p.translate(-r.left(), -r.top());
    draw(p);
  }
  for (int y = 0; y < r.height(); ++y) {
    const auto* src = reinterpret_cast<const QRgb*>(tmp.constScanLine(y));
    std::uint8_t* dst = image.scanLine(r.top() + y) + r.left();
    for (int x = 0; x < r.width(); ++x) dst[x] = NearestIndex332(src[x]);
  }
}

TSize TCanvas::TextExtent(std::string_view text) const {
  const QFontMetrics fm(ToQFont(font_, antialias_));
  return TSize{fm.horizontalAdvance(ToQString(text)), fm.height()};
}

void TCanvas::TextOut(int x, int y, std::string_view text) {
  const QString s = ToQString(text);
  const QFont font = ToQFont(font_, antialias_);
  const QFontMetrics fm(font);
  const QRect cell(x, y, fm.horizontalAdvance(s), fm.height());
  // Glyphs may reach past the cell (italics, overhangs, smoothing). Only an 8-bit bitmap limits
  // drawing to this area; the others take every pixel drawn.
  const QRect ink = fm.boundingRect(s).translated(x, y + fm.ascent()).adjusted(-3, -3, 3, 3);
  const bool opaque = brush_.style == TBrushStyle::bsSolid;
  Paint(cell.united(ink), [&](QPainter& p) {
    if (opaque) p.fillRect(cell, QColor::fromRgb(ColorToArgb(brush_.color)));
    p.setFont(font);
    p.setPen(QColor::fromRgb(ColorToArgb(font_.Color())));
    p.drawText(QPoint(x, y + fm.ascent()), s);
  });
}

void TCanvas::FillRect(const TRect& rect) {
  if (brush_.style == TBrushStyle::bsClear) return;
  const QRect r(rect.left, rect.top, rect.Width(), rect.Height());
  Paint(r, [&](QPainter& p) { p.fillRect(r, QColor::fromRgb(ColorToArgb(brush_.color))); });
}

// ---- TBitmap

TBitmap::TBitmap(int width, int height, TPixelFormat format) : format_(format), canvas_(*this) {
  SetSize(width, height);
}

TBitmap::TBitmap(const TBitmap& other)
    : format_(other.format_), image_(other.image_.copy()), canvas_(*this) {
  canvas_.CopyStateFrom(other.canvas_);
}

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this == &other) return *this;
  format_ = other.format_;
  image_ = other.image_.copy();
  canvas_.CopyStateFrom(other.canvas_);
  return *this;
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  format_ = format;
  image_ = ConvertTo(image_, format);
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == Width() && height == Height()) return;
  if (width == 0 || height == 0) {
    image_ = QImage();
    return;
  }
  QImage next = NewImage(width, height, format_);
  if (!image_.isNull()) {
    const int rows = std::min(height, Height());
    const int bytes = std::min(width, Width()) * (BitsPerPixel() / 8);
    for (int y = 0; y < rows; ++y) std::memcpy(next.scanLine(y), image_.constScanLine(y), bytes);
  }
  image_ = std::move(next);
}

std::uint8_t* TBitmap::ScanLine(int y) {
  if (y < 0 || y >= Height()) return nullptr;
  return image_.scanLine(y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const {
  if (y < 0 || y >= Height()) return nullptr;
  return image_.constScanLine(y);
}

TColor TBitmap::Pixel(int x, int y) const {
  if (!image_.valid(x, y)) return clBlack;
  return ArgbToColor(image_.pixel(x, y));
}

void TBitmap::AssignImage(const QImage& image) {
  image_ = ConvertTo(image, format_);
}

}  // namespace trelvix::runtime
