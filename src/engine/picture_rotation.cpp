#include "engine/picture_rotation.h"

#include <string>

#include "runtime/format.h"

namespace trelvix::engine {

TPictureSize TurnedSize(const decoder::TDisplayRotation& r, int width, int height) {
  return r.SwapsSides() ? TPictureSize{height, width} : TPictureSize{width, height};
}

void TPictureRotation::SetRotation(const decoder::TDisplayRotation& r) {
  rotation_ = r;
  graph_.reset();
  format_ = -1;
}

bool TPictureRotation::Build(const AVFrame* src) {
  graph_.reset();
  src_ = sink_ = nullptr;
  format_ = src->format;
  width_ = src->width;
  height_ = src->height;
  failed_ = true;
  graph_.reset(ff::avfilter_graph_alloc());
  AVFilterGraph* g = graph_.get();
  if (!g) return false;
  g->nb_threads = 1;  // a plain copy of the pixels; the codecs have the other cores
  const std::string args = runtime::Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d", src->width,
                                           src->height, src->format, AV_TIME_BASE);
  if (ff::avfilter_graph_create_filter(&src_, ff::avfilter_get_by_name("buffer"), "src",
                                       args.c_str(), nullptr, g) < 0 ||
      ff::avfilter_graph_create_filter(&sink_, ff::avfilter_get_by_name("buffersink"), "out",
                                       nullptr, nullptr, g) < 0)
    return false;
  // The picture keeps its format: the sink offers only that one (a format the turning filter
  // does not take is converted there and back).
  const AVPixelFormat fmts[] = {static_cast<AVPixelFormat>(src->format)};
  if (ff::av_opt_set_bin(sink_, "pix_fmts", reinterpret_cast<const uint8_t*>(fmts), sizeof fmts,
                         AV_OPT_SEARCH_CHILDREN) < 0)
    return false;
  media::FilterInOutPtr outputs(ff::avfilter_inout_alloc());
  media::FilterInOutPtr inputs(ff::avfilter_inout_alloc());
  if (!outputs || !inputs) return false;
  outputs->name = ff::av_strdup("in");
  outputs->filter_ctx = src_;
  inputs->name = ff::av_strdup("out");
  inputs->filter_ctx = sink_;
  AVFilterInOut* in_raw = inputs.release();
  AVFilterInOut* out_raw = outputs.release();
  const int parsed = ff::avfilter_graph_parse_ptr(
      g, decoder::RotationFilterChain(rotation_).c_str(), &in_raw, &out_raw, nullptr);
  ff::avfilter_inout_free(&in_raw);
  ff::avfilter_inout_free(&out_raw);
  if (parsed < 0 || ff::avfilter_graph_config(g, nullptr) < 0) return false;
  failed_ = false;
  return true;
}

bool TPictureRotation::Process(const AVFrame* src, AVFrame* dst) {
  ff::av_frame_unref(dst);
  if (!Active()) return false;
  if (src->format != format_ || src->width != width_ || src->height != height_) {
    if (!Build(src)) return false;
  } else if (failed_) {
    return false;
  }
  // The source filter takes its own reference, so the decoder's picture is never written.
  if (ff::av_buffersrc_add_frame_flags(src_, const_cast<AVFrame*>(src),
                                       AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
      ff::av_buffersink_get_frame(sink_, dst) < 0) {
    ff::av_frame_unref(dst);
    graph_.reset();  // a graph left half-way is rebuilt for the next picture
    format_ = -1;
    return false;
  }
  ff::av_frame_copy_props(dst, src);
  const AVRational sar = src->sample_aspect_ratio;
  if (rotation_.SwapsSides() && sar.num > 0 && sar.den > 0)
    dst->sample_aspect_ratio = {sar.den, sar.num};
  return true;
}

}  // namespace trelvix::engine
