#include "engine/picture_filter.h"

#include <utility>

#include "runtime/format.h"

namespace trelvix::engine {

void TPictureFilter::SetChain(std::string chain, bool convert) {
  chain_ = std::move(chain);
  convert_ = convert;
  graph_.reset();
  format_ = -1;
}

bool TPictureFilter::Build(const AVFrame* src) {
  graph_.reset();
  src_ = sink_ = nullptr;
  format_ = src->format;
  width_ = src->width;
  height_ = src->height;
  failed_ = true;
  graph_.reset(ff::avfilter_graph_alloc());
  AVFilterGraph* g = graph_.get();
  if (!g) return false;
  // The filters are cheap and run on the conversion thread; the codecs have the other cores.
  g->nb_threads = 1;
  if (!convert_) ff::avfilter_graph_set_auto_convert(g, AVFILTER_AUTO_CONVERT_NONE);
  const std::string args = runtime::Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d", src->width,
                                           src->height, src->format, AV_TIME_BASE);
  if (ff::avfilter_graph_create_filter(&src_, ff::avfilter_get_by_name("buffer"), "src",
                                       args.c_str(), nullptr, g) < 0 ||
      ff::avfilter_graph_create_filter(&sink_, ff::avfilter_get_by_name("buffersink"), "out",
                                       nullptr, nullptr, g) < 0)
    return false;
  // The picture keeps its format: the sink offers only that one.
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
  const int parsed = ff::avfilter_graph_parse_ptr(g, chain_.c_str(), &in_raw, &out_raw, nullptr);
  ff::avfilter_inout_free(&in_raw);
  ff::avfilter_inout_free(&out_raw);
  if (parsed < 0 || ff::avfilter_graph_config(g, nullptr) < 0) return false;
  failed_ = false;
  return true;
}

bool TPictureFilter::Run(const AVFrame* src, AVFrame* dst) {
  ff::av_frame_unref(dst);
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
  return true;
}

}  // namespace trelvix::engine
