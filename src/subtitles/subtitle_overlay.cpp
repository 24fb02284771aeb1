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

// The smallest rectangle of the image holding a pixel with alpha.
QRect InkBounds(const QImage& image) {
  const int w = image.width();
  int top = image.height(), bottom = -1, left = w, right = -1;
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    int first = 0;
    while (first < w && qAlpha(row[first]) == 0) ++first;
    if (first == w) continue;
    int last = w - 1;
    while (qAlpha(row[last]) == 0) --last;
    top = std::min(top, y);
    bottom = y;
    left = std::min(left, first);
    right = std::max(right, last);
  }
  if (bottom < 0) return {};
  return QRect(QPoint(left, top), QPoint(right, bottom));
}

// A run of pixels with alpha on one row of an image.
struct TRun {
  int y, x, length;
};

// The runs of pixels with alpha inside `bounds` of the image.
void InkRuns(const QImage& image, const QRect& bounds, std::vector<TRun>& runs) {
  runs.clear();
  for (int y = bounds.top(); y <= bounds.bottom(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = bounds.left(); x <= bounds.right();) {
      if (qAlpha(row[x]) == 0) {
        ++x;
        continue;
      }
      const int start = x;
      while (x <= bounds.right() && qAlpha(row[x]) != 0) ++x;
      runs.push_back({y, start, x - start});
    }
  }
}

// Source over: a premultiplied pixel onto B, G, R bytes.
inline void BlendPixel(QRgb s, std::uint8_t* dst) {
  const unsigned keep = 255 - qAlpha(s);
  if (keep == 0) {  // most of the ink covers fully
    dst[0] = static_cast<std::uint8_t>(qBlue(s));
    dst[1] = static_cast<std::uint8_t>(qGreen(s));
    dst[2] = static_cast<std::uint8_t>(qRed(s));
    return;
  }
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
  std::memset(layer.Bits(), 0, static_cast<size_t>(layer.BytesPerLine()) * r.height());
  QImage stack(r.size(), QImage::Format_ARGB32_Premultiplied);
  stack.fill(Qt::transparent);
  // Where the drawing on the layer has ink, found on its first Lay; null until then.
  QRect drawn;
  bool found = false;
  TLayer lay;
  // A drawing on a transparent layer leaves its coverage in the alpha channel; it goes onto the
  // stack in its colour, as onto a frame: colour × coverage + what is below × (1 − coverage).
  std::vector<TRun> runs;  // the ink of the drawing on the layer
  lay.Lay = [&](runtime::TColor color, int mx, int my) {
    if (!found) {
      drawn = InkBounds(layer.Image());
      InkRuns(layer.Image(), drawn, runs);
      found = true;
    }
    const QRgb c = runtime::ColorToArgb(color);
    for (const TRun& run : runs) {
      const int y = run.y + my;
      if (y < 0 || y >= stack.height()) continue;
      const auto* cover = reinterpret_cast<const QRgb*>(layer.Image().constScanLine(run.y));
      auto* dst = reinterpret_cast<QRgb*>(stack.scanLine(y));
      const int from = std::max(run.x, -mx), to = std::min(run.x + run.length, stack.width() - mx);
      for (int x = from; x < to; ++x) {
        const unsigned a = qAlpha(cover[x]);
        const unsigned sa = MulDiv255(255, a), keep = 255 - sa;
        const QRgb d = dst[x + mx];
        dst[x + mx] = qRgba(int(MulDiv255(qRed(c), a) + MulDiv255(qRed(d), keep)),
                            int(MulDiv255(qGreen(c), a) + MulDiv255(qGreen(d), keep)),
                            int(MulDiv255(qBlue(c), a) + MulDiv255(qBlue(d), keep)),
                            int(sa + MulDiv255(qAlpha(d), keep)));
      }
    }
  };
  lay.Clear = [&] {
    if (!found) drawn = InkBounds(layer.Image());
    runs.clear();
    for (int y = drawn.top(); y <= drawn.bottom(); ++y)
      std::memset(layer.ScanLine(y) + static_cast<ptrdiff_t>(drawn.left()) * 4, 0,
                  static_cast<size_t>(drawn.width()) * 4);
    found = false;
  };
  draw(layer, -r.left(), -r.top(), lay);
  const QRect ink = InkBounds(stack);
  if (ink.isEmpty()) return;
  picture_.Area = {r.left() + ink.left(), r.top() + ink.top(), r.left() + ink.right() + 1,
                   r.top() + ink.bottom() + 1};
  picture_.Serial = runtime::TInkOverlay::NewSerial();
  for (int y = 0; y < ink.height(); ++y) {
    const auto* row =
        reinterpret_cast<const QRgb*>(stack.constScanLine(ink.top() + y)) + ink.left();
    for (int x = 0, w = ink.width(); x < w;) {
      const unsigned a = qAlpha(row[x]);
      if (a == 0) {
        ++x;
        continue;
      }
      const int start = x;
      const bool opaque = a == 255;
      while (x < w && qAlpha(row[x]) != 0 && (qAlpha(row[x]) == 255) == opaque) ++x;
      picture_.Spans.push_back({y, start, x - start, int(picture_.Ink.size()), opaque});
      for (int i = start; i < x; ++i) {
        picture_.Ink.push_back(row[i]);
        ink_bgr_.insert(ink_bgr_.end(), {std::uint8_t(qBlue(row[i])), std::uint8_t(qGreen(row[i])),
                                         std::uint8_t(qRed(row[i]))});
      }
    }
  }
}

void TSubtitleOverlay::Clear() {
  picture_.Area = {};
  picture_.Spans.clear();
  picture_.Ink.clear();
  picture_.Serial = 0;
  ink_bgr_.clear();
}

bool TSubtitleOverlay::BlendOnto(runtime::TBitmap& frame) const {
  const runtime::TPixelFormat format = frame.PixelFormat();
  const runtime::TRect& area = picture_.Area;
  if (Empty() || area.right > frame.Width() || area.bottom > frame.Height() ||
      (format != runtime::TPixelFormat::pf24bit && format != runtime::TPixelFormat::pf32bit))
    return false;
  const int bytes = frame.BitsPerPixel() / 8;  // B, G, R (and A, kept)
  std::uint8_t* const top_left =
      frame.ScanLine(area.top) + static_cast<ptrdiff_t>(area.left) * bytes;
  const ptrdiff_t row_bytes = frame.BytesPerLine();
  for (const runtime::TInkOverlay::TSpan& span : picture_.Spans) {
    const QRgb* src = picture_.Ink.data() + span.First;
    std::uint8_t* dst = top_left + span.Y * row_bytes + static_cast<ptrdiff_t>(span.X) * bytes;
    if (span.Opaque && bytes == 3) {
      std::memcpy(dst, ink_bgr_.data() + static_cast<ptrdiff_t>(span.First) * 3,
                  static_cast<size_t>(span.Length) * 3);
      continue;
    }
    for (int i = 0; i < span.Length; ++i, dst += bytes) BlendPixel(src[i], dst);
  }
  return true;
}

}  // namespace trelvix::subtitles
