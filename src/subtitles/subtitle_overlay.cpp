#include "subtitles/subtitle_overlay.h"

#include <QRect>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace trelvix::subtitles {
namespace {

// x * a / 255 for 8-bit values, rounded the way the text rasteriser blends, so that stacking
// drawings here and laying them onto a frame lands where drawing onto the frame lands.
inline unsigned MulDiv255(unsigned x, unsigned a) {
  const unsigned t = x * a;
  return (t + (t >> 8) + 128) >> 8;
}

// The smallest rectangle of the premultiplied image holding a pixel with alpha.
QRect InkBounds(const QImage& image) {
  int top = image.height(), bottom = -1, left = image.width(), right = -1;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(row[x]) != 0) {
        if (first < 0) first = x;
        last = x;
      }
    if (first < 0) continue;
    top = std::min(top, y);
    bottom = y;
    left = std::min(left, first);
    right = std::max(right, last);
  }
  if (bottom < 0) return {};
  return QRect(QPoint(left, top), QPoint(right, bottom));
}

// Source over: a premultiplied pixel onto B, G, R bytes.
inline void BlendPixel(QRgb s, std::uint8_t* dst) {
  const unsigned keep = 255 - qAlpha(s);
  dst[0] = static_cast<std::uint8_t>(qBlue(s) + MulDiv255(dst[0], keep));
  dst[1] = static_cast<std::uint8_t>(qGreen(s) + MulDiv255(dst[1], keep));
  dst[2] = static_cast<std::uint8_t>(qRed(s) + MulDiv255(dst[2], keep));
}

}  // namespace

void TSubtitleOverlay::Render(const runtime::TRect& area, int frame_width, int frame_height,
                              const TDraw& draw) {
  ++renders_;
  Clear();
  const QRect r = QRect(area.left, area.top, area.Width(), area.Height())
                      .intersected({0, 0, frame_width, frame_height});
  if (r.isEmpty()) return;
  runtime::TBitmap layer(r.width(), r.height(), runtime::TPixelFormat::pf32bit);
  const size_t layer_bytes = static_cast<size_t>(layer.BytesPerLine()) * r.height();
  std::memset(layer.Bits(), 0, layer_bytes);
  QImage stack(r.size(), QImage::Format_ARGB32_Premultiplied);
  stack.fill(Qt::transparent);
  // A drawing on a transparent layer leaves its coverage in the alpha channel; it goes onto the
  // stack in its colour, as onto a frame: colour × coverage + what is below × (1 − coverage).
  const TLayDown lay_down = [&](runtime::TColor color) {
    const QRgb c = runtime::ColorToArgb(color);
    for (int y = 0; y < r.height(); ++y) {
      const auto* cover = reinterpret_cast<const QRgb*>(layer.ScanLine(y));
      auto* dst = reinterpret_cast<QRgb*>(stack.scanLine(y));
      for (int x = 0; x < r.width(); ++x) {
        const unsigned a = qAlpha(cover[x]);
        if (a == 0) continue;
        const unsigned sa = MulDiv255(255, a), keep = 255 - sa;
        const QRgb d = dst[x];
        dst[x] = qRgba(int(MulDiv255(qRed(c), a) + MulDiv255(qRed(d), keep)),
                       int(MulDiv255(qGreen(c), a) + MulDiv255(qGreen(d), keep)),
                       int(MulDiv255(qBlue(c), a) + MulDiv255(qBlue(d), keep)),
                       int(sa + MulDiv255(qAlpha(d), keep)));
      }
    }
    std::memset(layer.Bits(), 0, layer_bytes);
  };
  draw(layer, -r.left(), -r.top(), lay_down);
  const QRect ink = InkBounds(stack);
  if (ink.isEmpty()) return;
  image_ = stack.copy(ink);
  area_ = {r.left() + ink.left(), r.top() + ink.top(), r.left() + ink.right() + 1,
           r.top() + ink.bottom() + 1};
  for (int y = 0; y < image_.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image_.constScanLine(y));
    for (int x = 0, w = image_.width(); x < w;) {
      if (qAlpha(row[x]) == 0) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < w && qAlpha(row[x]) != 0) ++x;
      spans_.push_back({y, start, x - start});
    }
  }
}

void TSubtitleOverlay::Clear() {
  image_ = QImage();
  area_ = {};
  spans_.clear();
}

bool TSubtitleOverlay::BlendOnto(runtime::TBitmap& frame) const {
  const runtime::TPixelFormat format = frame.PixelFormat();
  if (Empty() || area_.right > frame.Width() || area_.bottom > frame.Height() ||
      (format != runtime::TPixelFormat::pf24bit && format != runtime::TPixelFormat::pf32bit))
    return false;
  const int bytes = frame.BitsPerPixel() / 8;  // B, G, R (and A, kept)
  for (const TSpan& span : spans_) {
    const auto* src = reinterpret_cast<const QRgb*>(image_.constScanLine(span.y)) + span.x;
    std::uint8_t* dst =
        frame.ScanLine(area_.top + span.y) + static_cast<ptrdiff_t>(area_.left + span.x) * bytes;
    for (int i = 0; i < span.length; ++i, dst += bytes) BlendPixel(src[i], dst);
  }
  return true;
}

}  // namespace trelvix::subtitles
