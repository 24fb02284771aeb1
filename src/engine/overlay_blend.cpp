#include "engine/overlay_blend.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "media/ffapi.h"

namespace trelvix::engine {
namespace {

// x * a / 255 for 8-bit values, rounded as the bitmap blend rounds.
inline unsigned MulDiv255(unsigned x, unsigned a) {
  const unsigned t = x * a;
  return (t + (t >> 8) + 128) >> 8;
}

// Source over: premultiplied values with their coverages onto a run of samples. Written so
// that the compiler turns it into vector code (the file is built for that), with a wider kind
// where the processor has it. The choice is made while the program is loaded, before a
// sanitizer's run time is ready, so sanitizer builds go without it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void Over(const std::uint8_t* __restrict value, const std::uint8_t* __restrict alpha,
          std::uint8_t* __restrict dst, int n) {
  for (int i = 0; i < n; ++i) {
    const unsigned v = value[i] + MulDiv255(dst[i], 255u - alpha[i]);
    dst[i] = static_cast<std::uint8_t>(v > 255u ? 255u : v);
  }
}

// Copies `rows` rows of the planar picture `src` from row `from` on into `dst` from row `to` on
// (whole chroma rows; both of one format and width).
void CopyRows(const AVFrame* src, int from, AVFrame* dst, int to, int rows) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(src->format));
  for (int p = 0; p < 3; ++p) {
    const int shift = p ? d->log2_chroma_h : 0;
    const int bytes = std::min(std::abs(dst->linesize[p]), std::abs(src->linesize[p]));
    for (int y = 0, n = -((-rows) >> shift); y < n; ++y)
      std::memcpy(dst->data[p] + ptrdiff_t((to >> shift) + y) * dst->linesize[p],
                  src->data[p] + ptrdiff_t((from >> shift) + y) * src->linesize[p], size_t(bytes));
  }
}

bool FullRange(const AVFrame* frame) {
  switch (frame->format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
      return true;
    default:
      return frame->color_range == AVCOL_RANGE_JPEG;
  }
}

// A premultiplied colour in Y, U and V (ITU-R BT.601), with the offsets of the range weighed by
// the coverage, so that value + sample × (1 − coverage) is the blended sample.
struct TYuv {
  double y, u, v, a;
};
TYuv ToYuv(std::uint32_t argb, bool full) {
  constexpr double kr = 0.299, kb = 0.114, kg = 1 - kr - kb;
  const double a = double(argb >> 24) / 255, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF,
               b = argb & 0xFF;
  const double luma = kr * r + kg * g + kb * b;
  const double ys = full ? 1.0 : 219.0 / 255, cs = full ? 1.0 : 224.0 / 255;
  return {(full ? 0 : 16 * a) + ys * luma, 128 * a + cs * (b - luma) / (2 * (1 - kb)),
          128 * a + cs * (r - luma) / (2 * (1 - kr)), double(argb >> 24)};
}

std::uint8_t Byte(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

void TOverlayBlender::TPlaneInk::Clear() {
  runs.clear();
  value[0].clear();
  value[1].clear();
  alpha.clear();
}

bool TOverlayBlender::Supports(const AVFrame* frame) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  constexpr uint64_t kOther = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL |
                              AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                              AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_FLOAT;
  if (!d || (d->flags & kOther) || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || d->nb_components != 3 ||
      d->log2_chroma_w > 2 || d->log2_chroma_h > 2)
    return false;
  for (int i = 0; i < 3; ++i) {
    const AVComponentDescriptor& c = d->comp[i];
    if (c.plane != i || c.depth != 8 || c.step != 1 || c.shift != 0 || c.offset != 0) return false;
  }
  return frame->data[0] && frame->data[1] && frame->data[2];
}

void TOverlayBlender::Convert(const runtime::TInkOverlay& overlay, const AVFrame* frame) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  const int lw = d->log2_chroma_w, lh = d->log2_chroma_h;
  const bool full = FullRange(frame);
  const runtime::TRect& area = overlay.Area;
  luma_.Clear();
  chroma_.Clear();
  // The luma samples of the area (value, coverage), and for the chroma samples under it the sums
  // of what their pixels become (U, V, coverage). Samples without ink keep value and coverage 0,
  // which leave a picture's sample as it is.
  const int w = area.Width(), h = area.Height();
  const int cx0 = area.left >> lw, cy0 = area.top >> lh;
  const int cw = ((area.right - 1) >> lw) - cx0 + 1, ch = ((area.bottom - 1) >> lh) - cy0 + 1;
  luma_samples_.assign(size_t(w) * h * 2, 0);
  sums_.assign(size_t(cw) * ch * 3, 0.0);
  for (const runtime::TInkOverlay::TSpan& span : overlay.Spans) {
    std::uint8_t* luma = luma_samples_.data() + (size_t(span.Y) * w + span.X) * 2;
    double* row = sums_.data() + size_t(((area.top + span.Y) >> lh) - cy0) * cw * 3;
    for (int i = 0; i < span.Length; ++i) {
      const TYuv c = ToYuv(overlay.Ink[size_t(span.First + i)], full);
      luma[2 * i] = Byte(c.y);
      luma[2 * i + 1] = std::max<std::uint8_t>(Byte(c.a), 1);
      double* s = row + size_t(((area.left + span.X + i) >> lw) - cx0) * 3;
      s[0] += c.u;
      s[1] += c.v;
      s[2] += c.a;
    }
  }
  // The runs of a row: from a sample with ink over short gaps to the last sample with ink
  // before a long gap. Long runs are laid in vector steps, and a short gap costs less than
  // starting a run anew.
  const auto runs = [](int n, auto&& inked, auto&& add) {
    constexpr int kLongGap = 32;
    for (int x = 0; x < n;) {
      if (!inked(x)) {
        ++x;
        continue;
      }
      int last = x, next = x + 1;
      for (; next < n && next - last <= kLongGap; ++next)
        if (inked(next)) last = next;
      add(x, last + 1);
      x = last + 1;
    }
  };
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = luma_samples_.data() + size_t(y) * w * 2;
    runs(
        w, [&](int x) { return row[2 * x + 1] != 0; },
        [&](int from, int to) {
          luma_.runs.push_back(
              {area.top + y, area.left + from, to - from, int(luma_.alpha.size())});
          for (int x = from; x < to; ++x) {
            luma_.value[0].push_back(row[2 * x]);
            luma_.alpha.push_back(row[2 * x + 1]);
          }
        });
  }
  // Each chroma sample stands for the pixels of its block that lie in the picture.
  for (int cy = 0; cy < ch; ++cy) {
    const int py = (cy0 + cy) << lh;
    const int rows = std::min(py + (1 << lh), frame->height) - py;
    const double* row = sums_.data() + size_t(cy) * cw * 3;
    runs(
        cw, [&](int cx) { return row[size_t(cx) * 3 + 2] > 0; },
        [&](int from, int to) {
          chroma_.runs.push_back({cy0 + cy, cx0 + from, to - from, int(chroma_.alpha.size())});
          for (int cx = from; cx < to; ++cx) {
            const int px = (cx0 + cx) << lw;
            const double n = double(rows) * (std::min(px + (1 << lw), frame->width) - px);
            const double* s = row + size_t(cx) * 3;
            chroma_.value[0].push_back(Byte(s[0] / n));
            chroma_.value[1].push_back(Byte(s[1] / n));
            chroma_.alpha.push_back(Byte(s[2] / n));
          }
        });
  }
  serial_ = overlay.Serial;
  format_ = frame->format;
  width_ = frame->width;
  height_ = frame->height;
  full_range_ = full;
}

void TPictureBand::PutInto(AVFrame* whole) const {
  CopyRows(band, 0, whole, top, band->height);
}

bool TOverlayBlender::Ready(const runtime::TInkOverlay& overlay, const AVFrame* picture) {
  const runtime::TRect& area = overlay.Area;
  if (!Supports(picture) || overlay.Empty() || area.left < 0 || area.top < 0 ||
      area.right > picture->width || area.bottom > picture->height)
    return false;
  if (overlay.Serial != serial_ || picture->format != format_ || picture->width != width_ ||
      picture->height != height_ || FullRange(picture) != full_range_)
    Convert(overlay, picture);
  return true;
}

void TOverlayBlender::Lay(AVFrame* frame, int top) const {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  const auto lay = [](const TPlaneInk& ink, int k, std::uint8_t* plane, int linesize, int first) {
    const std::uint8_t* values = ink.value[k].data();
    const std::uint8_t* alphas = ink.alpha.data();
    for (const TRun& run : ink.runs) {
      std::uint8_t* dst = plane + ptrdiff_t(run.y - first) * linesize + run.x;
      Over(values + run.first, alphas + run.first, dst, run.length);
    }
  };
  lay(luma_, 0, frame->data[0], frame->linesize[0], top);
  lay(chroma_, 0, frame->data[1], frame->linesize[1], top >> d->log2_chroma_h);
  lay(chroma_, 1, frame->data[2], frame->linesize[2], top >> d->log2_chroma_h);
}

bool TOverlayBlender::Blend(const runtime::TInkOverlay& overlay, AVFrame* frame) {
  if (!Ready(overlay, frame)) return false;
  Lay(frame, 0);
  return true;
}

AVFrame* TOverlayBlender::BlendBand(const runtime::TInkOverlay& overlay, const AVFrame* src,
                                    int* top) {
  if (!Ready(overlay, src)) return nullptr;
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(src->format));
  // Whole chroma rows, so that the band's planes start where the picture's do.
  const int step = 1 << d->log2_chroma_h;
  const int first = overlay.Area.top / step * step;
  const int last = std::min(src->height, (overlay.Area.bottom + step - 1) / step * step);
  // A band no one else holds (the encoder's thread may still scale the last few).
  AVFrame* band = bands_[0].get();
  for (media::FramePtr& b : bands_) {
    if (!b) b = media::MakeFrame();
    if (!b) return nullptr;
    if (!b->buf[0] || ff::av_frame_is_writable(b.get())) {
      band = b.get();
      break;
    }
  }
  if (band->format != src->format || band->width != src->width || band->height != last - first ||
      !ff::av_frame_is_writable(band)) {
    ff::av_frame_unref(band);
    band->format = src->format;
    band->width = src->width;
    band->height = last - first;
    if (ff::av_frame_get_buffer(band, 0) < 0) return nullptr;
  }
  CopyRows(src, first, band, 0, band->height);
  Lay(band, first);
  *top = first;
  return band;
}

}  // namespace trelvix::engine
