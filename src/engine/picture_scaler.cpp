#include "engine/picture_scaler.h"

#include <algorithm>

#include "media/ffapi.h"

namespace trelvix::engine {

bool TPictureScaler::Prepare(const TScaleSpec& spec) {
  if (ctx_ && spec == spec_) return true;
  ctx_.reset();
  SwsContext* sws = ff::sws_alloc_context();
  if (!sws) return false;
  ctx_.reset(sws);
  ff::av_opt_set_int(sws, "srcw", spec.src_width, 0);
  ff::av_opt_set_int(sws, "srch", spec.src_height, 0);
  ff::av_opt_set_int(sws, "src_format", spec.src_format, 0);
  ff::av_opt_set_int(sws, "dstw", spec.dst_width, 0);
  ff::av_opt_set_int(sws, "dsth", spec.dst_height, 0);
  ff::av_opt_set_int(sws, "dst_format", spec.dst_format, 0);
  ff::av_opt_set_int(sws, "sws_flags", spec.flags, 0);
  if (ff::sws_init_context(sws, nullptr, nullptr) < 0) {
    ctx_.reset();
    return false;
  }
  spec_ = spec;
  return true;
}

bool TPictureScaler::Scale(const TScaleSpec& spec, const AVFrame* in, AVFrame* out,
                           const AVFrame* band, int band_top) {
  if (!Prepare(spec)) return false;
  const AVPixFmtDescriptor* desc = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(in->format));
  // The planes of `picture` at row `row` and the crop's left column. Cropping: the source
  // planes start at the top-left corner of the kept part.
  const auto planes = [&](const AVFrame* picture, int row, const uint8_t*(&src)[4]) {
    for (int p = 0; p < 4; ++p) {
      src[p] = nullptr;
      if (!picture->data[p]) continue;
      const bool chroma = desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && (p == 1 || p == 2);
      const int y = chroma ? row >> desc->log2_chroma_h : row;
      int x = chroma ? spec.crop_left >> desc->log2_chroma_w : spec.crop_left;
      if (desc && p < desc->nb_components) x *= std::max(1, static_cast<int>(desc->comp[p].step));
      src[p] = picture->data[p] + static_cast<ptrdiff_t>(y) * picture->linesize[p] + x;
    }
  };
  // The rows scaled, as slices in order: before the band, the band, after it.
  const int height = spec.src_height;
  const int from = band ? std::clamp(band_top - spec.crop_top, 0, height) : height;
  const int to = band ? std::clamp(band_top + band->height - spec.crop_top, from, height) : height;
  const struct {
    const AVFrame* picture;
    int first, last, origin;  // rows [first, last) of the part; row `origin` of the part is the
                              // picture's first row
  } slices[] = {{in, 0, from, -spec.crop_top},
                {band, from, to, band_top - spec.crop_top},
                {in, to, height, -spec.crop_top}};
  for (const auto& slice : slices) {
    if (slice.last <= slice.first) continue;
    const uint8_t* src[4];
    planes(slice.picture, slice.first - slice.origin, src);
    const int* linesize = slice.picture->linesize;
    ff::sws_scale(ctx_.get(), src, linesize, slice.first, slice.last - slice.first, out->data,
                  out->linesize);
  }
  return true;
}

}  // namespace trelvix::engine
