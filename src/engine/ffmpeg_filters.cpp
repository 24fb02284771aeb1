// The video filter graphs ("vfilters"), one per output stream: buffer source -> [crop] -> [scale]
// -> the user's chain -> [scale to an encoder already open] -> buffer sink that offers only the
// encoder's pixel format.
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/transcode_streams.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "runtime/format.h"

namespace trelvix::engine {

void TCustomFFmpeg::BuildVideoFilters(TAVOutputStream& ost, TAVInputStream& ist, bool fit) {
  using runtime::Format;
  AVCodecContext* enc = ost.enc;
  const AVCodecParameters* par = ist.st->codecpar;
  int err = 0;
  const auto fail = [&](int code) {
    throw FFmpegException(code < 0 ? std::string(msg::kFiltersFail) + media::ErrorCodeText(code)
                                   : std::string(msg::kFiltersFailNoText));
  };
  ost.filter_graph.reset(ff::avfilter_graph_alloc());
  AVFilterGraph* graph = ost.filter_graph.get();
  if (!graph) fail(AVERROR(ENOMEM));
  AVRational sar = par->sample_aspect_ratio.num ? par->sample_aspect_ratio : AVRational{0, 1};
  // Pictures arrive turned upright.
  const TPictureSize in = TurnedSize(ist.rotation.Rotation(), par->width, par->height);
  if (sar.num && ist.rotation.Rotation().SwapsSides()) sar = {sar.den, sar.num};
  const std::string src_args =
      Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", in.width, in.height,
             par->format, ist.st->time_base.num, ist.st->time_base.den, sar.num,
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
  const auto create = [&](const char* name, const char* label, const std::string& args) {
    AVFilterContext* f = nullptr;
    if ((err = ff::avfilter_graph_create_filter(&f, ff::avfilter_get_by_name(name), label,
                                                args.c_str(), nullptr, graph)) < 0)
      fail(err);
    return f;
  };
  AVFilterContext* last = src;
  const auto append = [&](const char* name, const std::string& args) {
    AVFilterContext* f = create(name, name, args);
    if ((err = ff::avfilter_link(last, 0, f, 0)) < 0) fail(err);
    last = f;
  };
  // The end the chain feeds: the sink, or a scaler in front of it to the open encoder's size.
  AVFilterContext* end = sink;
  if (fit) {
    end = create("scale", "fit", Format("w=%d:h=%d", enc->width, enc->height));
    if ((err = ff::avfilter_link(end, 0, sink, 0)) < 0) fail(err);
  }
  const int cw = in.width - ost.leftBand - ost.rightBand;
  const int ch = in.height - ost.topBand - ost.bottomBand;
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
    inputs->filter_ctx = end;
    inputs->pad_idx = 0;
    AVFilterInOut* in_raw = inputs.release();
    AVFilterInOut* out_raw = outputs.release();
    err = ff::avfilter_graph_parse_ptr(graph, Fvfilters.c_str(), &in_raw, &out_raw, nullptr);
    inputs.reset(in_raw);
    outputs.reset(out_raw);
    if (err < 0) fail(err);
  } else if ((err = ff::avfilter_link(last, 0, end, 0)) < 0) {
    fail(err);
  }
  if ((err = ff::avfilter_graph_config(graph, nullptr)) < 0) fail(err);
  if (!fit) {
    enc->width = ff::av_buffersink_get_w(sink);
    enc->height = ff::av_buffersink_get_h(sink);
  }
  ost.filter_src = src;
  ost.filter_sink = sink;
  ost.filter_frame = media::MakeFrame();
  if (!ost.filter_frame) fail(AVERROR(ENOMEM));
}

void TCustomFFmpeg::FilterVideo(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist,
                                AVFrame* in) {
  if (ost.filters_flushed) return;
  if (!in) ost.filters_flushed = true;
  const int err = ff::av_buffersrc_add_frame_flags(ost.filter_src, in, AV_BUFFERSRC_FLAG_KEEP_REF);
  if (err < 0) {
    LogF(media::llError, "%s%s", msg::kFiltersFail, media::ErrorCodeText(err).c_str());
    return;
  }
  AVFrame* filtered = ost.filter_frame.get();
  const AVRational ftb = ff::av_buffersink_get_time_base(ost.filter_sink);
  while (ff::av_buffersink_get_frame(ost.filter_sink, filtered) >= 0) {
    if (filtered->pts != AV_NOPTS_VALUE)
      ist.pts = ff::av_rescale_q(filtered->pts, ftb, AVRational{1, AV_TIME_BASE});
    if (filtered->sample_aspect_ratio.num)
      ost.enc->sample_aspect_ratio = filtered->sample_aspect_ratio;
    DoVideoOut(r, ost, ist, filtered);
    ff::av_frame_unref(filtered);
  }
}

}  // namespace trelvix::engine
