// The video filter graph ("vfilters"): buffer source -> [crop] -> [scale] -> the user's chain ->
// buffer sink that offers only the encoder's pixel format.
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/transcode_streams.h"
#include "media/ff_utils.h"
#include "runtime/format.h"

namespace trelvix::engine {

void TCustomFFmpeg::BuildVideoFilters(TAVOutputStream& ost, TAVInputStream& ist) {
  using runtime::Format;
  AVCodecContext* enc = ost.enc;
  const AVCodecParameters* par = ist.st->codecpar;
  int err = 0;
  const auto fail = [&](int code) {
    throw FFmpegException(code < 0 ? std::string(msg::kFiltersFail) + media::ErrorCodeText(code)
                                   : std::string(msg::kFiltersFailNoText));
  };
  Fgraph.reset(ff::avfilter_graph_alloc());
  AVFilterGraph* graph = Fgraph.get();
  if (!graph) fail(AVERROR(ENOMEM));
  const AVRational sar = par->sample_aspect_ratio.num ? par->sample_aspect_ratio : AVRational{0, 1};
  const std::string src_args =
      Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", par->width,
             par->height, par->format, ist.st->time_base.num, ist.st->time_base.den, sar.num,
             sar.den > 0 ? sar.den : 1);
  AVFilterContext* src = nullptr;
  AVFilterContext* sink = nullptr;
  if ((err = ff::avfilter_graph_create_filter(&src, ff::avfilter_get_by_name("buffer"), "src",
                                              src_args.c_str(), nullptr, graph)) < 0)
    fail(err);
  if ((err = ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"), "out",
                                              nullptr, nullptr, graph)) < 0)
    fail(err);
  const AVPixelFormat fmts[] = {enc->pix_fmt};
  if ((err = ff::av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(fmts),
                                sizeof fmts, AV_OPT_SEARCH_CHILDREN)) < 0)
    fail(err);
  AVFilterContext* last = src;
  const auto append = [&](const char* name, const std::string& args) {
    AVFilterContext* f = nullptr;
    if ((err = ff::avfilter_graph_create_filter(&f, ff::avfilter_get_by_name(name), name,
                                                args.c_str(), nullptr, graph)) < 0 ||
        (err = ff::avfilter_link(last, 0, f, 0)) < 0)
      fail(err);
    last = f;
  };
  const int cw = par->width - ost.leftBand - ost.rightBand;
  const int ch = par->height - ost.topBand - ost.bottomBand;
  if (ost.video_crop)
    append("crop", Format("w=%d:h=%d:x=%d:y=%d", cw, ch, ost.leftBand, ost.topBand));
  if (enc->width != cw || enc->height != ch)
    append("scale", Format("w=%d:h=%d", enc->width, enc->height));
  ff::av_freep(&graph->scale_sws_opts);
  graph->scale_sws_opts = ff::av_strdup(Format("flags=0x%X", Fsws_flags).c_str());
  if (!Fvfilters.empty()) {
    media::FilterInOutPtr outputs(ff::avfilter_inout_alloc());
    media::FilterInOutPtr inputs(ff::avfilter_inout_alloc());
    if (!outputs || !inputs) fail(AVERROR(ENOMEM));
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = last;
    outputs->pad_idx = 0;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = sink;
    inputs->pad_idx = 0;
    AVFilterInOut* in_raw = inputs.release();
    AVFilterInOut* out_raw = outputs.release();
    err = ff::avfilter_graph_parse_ptr(graph, Fvfilters.c_str(), &in_raw, &out_raw, nullptr);
    inputs.reset(in_raw);
    outputs.reset(out_raw);
    if (err < 0) fail(err);
  } else if ((err = ff::avfilter_link(last, 0, sink, 0)) < 0) {
    fail(err);
  }
  if ((err = ff::avfilter_graph_config(graph, nullptr)) < 0) fail(err);
  enc->width = ff::av_buffersink_get_w(sink);
  enc->height = ff::av_buffersink_get_h(sink);
  ist.input_video_filter = src;
  ist.out_video_filter = sink;
  ist.filter_frame = media::MakeFrame();
  if (!ist.filter_frame) fail(AVERROR(ENOMEM));
}

}  // namespace trelvix::engine
