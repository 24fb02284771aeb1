// The video side of a playback: the video thread decodes the video queue, passes the pictures
// through the filter graph (a buffer source, the user's filters, a sink that takes YUV 4:2:0
// only), lets the video hook draw on them and queues them in the two-slot picture queue with a
// due time. Also the subtitle thread and the blending of bitmap subtitles.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/display_rotation.h"
#include "media/ff_log.h"
#include "player/ff_player.h"
#include "player/player_messages.h"
#include "player/video_state.h"
#include "runtime/format.h"

namespace trelvix::player {
namespace {

// "No value" for the double time of the last picture: any real time is far from it.
constexpr double kNoPtsDouble = static_cast<double>(AV_NOPTS_VALUE);

// CCIR 601 (studio range) conversion in 10-bit fixed point.
constexpr int kScaleBits = 10;
constexpr int kOneHalf = 1 << (kScaleBits - 1);
constexpr int Fix(double x) {
  return static_cast<int>(x * (1 << kScaleBits) + 0.5);
}
inline int RgbToYCcir(int r, int g, int b) {
  return (Fix(0.29900 * 219.0 / 255.0) * r + Fix(0.58700 * 219.0 / 255.0) * g +
          Fix(0.11400 * 219.0 / 255.0) * b + (kOneHalf + (16 << kScaleBits))) >>
         kScaleBits;
}
inline int RgbToUCcir(int r, int g, int b) {
  return ((-Fix(0.16874 * 224.0 / 255.0) * r - Fix(0.33126 * 224.0 / 255.0) * g +
           Fix(0.50000 * 224.0 / 255.0) * b + kOneHalf - 1) >>
          kScaleBits) +
         128;
}
inline int RgbToVCcir(int r, int g, int b) {
  return ((Fix(0.50000 * 224.0 / 255.0) * r - Fix(0.41869 * 224.0 / 255.0) * g -
           Fix(0.08131 * 224.0 / 255.0) * b + kOneHalf - 1) >>
          kScaleBits) +
         128;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Filter graph

int TVideoState::ConfigureVideoFilters(const AVFrame* frame) {
  TCustomPlayer* p = Owner;
  graph.reset();
  in_video_filter = out_video_filter = nullptr;
  media::FilterGraphPtr g(ff::avfilter_graph_alloc());
  if (!g) return -1;
  g->scale_sws_opts = ff::av_strdup(runtime::Format(msg::kScalerFlags, p->Fsws_flags).c_str());
  g->nb_threads = 1;
  const AVRational tb = video_st ? video_st->time_base : AVRational{1, 25};
  AVRational sar = frame->sample_aspect_ratio;
  if (sar.den <= 0) sar = AVRational{0, 1};
  const std::string args = runtime::Format(
      "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width, frame->height,
      frame->format, tb.num, tb.den, sar.num, std::max(sar.den, 1));
  AVFilterContext* src = nullptr;
  AVFilterContext* sink = nullptr;
  if (ff::avfilter_graph_create_filter(&src, ff::avfilter_get_by_name("buffer"),
                                       msg::kInputFilterName, args.c_str(), nullptr, g.get()) < 0)
    return -1;
  if (ff::avfilter_graph_create_filter(&sink, ff::avfilter_get_by_name("buffersink"),
                                       msg::kOutputFilterName, nullptr, nullptr, g.get()) < 0)
    return -1;
  const AVPixelFormat pix_fmts[] = {AV_PIX_FMT_YUV420P};
  if (ff::av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(pix_fmts),
                         sizeof(pix_fmts), AV_OPT_SEARCH_CHILDREN) < 0)
    return -1;
  // A phone clip is turned upright before the user's filters.
  std::string filters = decoder::RotationFilterChain(decoder::StreamDisplayRotation(video_st));
  if (!p->Fvfilters.empty()) filters += (filters.empty() ? "" : ",") + p->Fvfilters;
  if (!filters.empty()) {
    media::FilterInOutPtr outputs(ff::avfilter_inout_alloc());
    media::FilterInOutPtr inputs(ff::avfilter_inout_alloc());
    if (!outputs || !inputs) return -1;
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = src;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = sink;
    inputs->pad_idx = 0;
    inputs->next = nullptr;
    AVFilterInOut* in_raw = inputs.release();
    AVFilterInOut* out_raw = outputs.release();
    const int ret =
        ff::avfilter_graph_parse_ptr(g.get(), filters.c_str(), &in_raw, &out_raw, nullptr);
    ff::avfilter_inout_free(&in_raw);
    ff::avfilter_inout_free(&out_raw);
    if (ret < 0) return -1;
  } else if (ff::avfilter_link(src, 0, sink, 0) < 0) {
    return -1;
  }
  if (ff::avfilter_graph_config(g.get(), nullptr) < 0) return -1;
  graph = std::move(g);
  in_video_filter = src;
  out_video_filter = sink;
  graph_width = frame->width;
  graph_height = frame->height;
  graph_format = frame->format;
  graph_sar = frame->sample_aspect_ratio;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Decoding

// 1 and a picture; 0 when the packet gave none (flush marker, end of input, skipped picture);
// -1 when the queue was aborted.
int TVideoState::DecodeVideoPicture(AVFrame* frame) {
  TCustomPlayer* p = Owner;
  AVCodecContext* ctx = video_ctx.get();
  for (;;) {
    if (!video_need_packet) {
      const int ret = ff::avcodec_receive_frame(ctx, frame);
      if (ret >= 0) {
        const int64_t dts = frame->pkt_dts;
        const int64_t rpts = frame->pts;
        if (dts != AV_NOPTS_VALUE) {
          if (dts <= last_dts_for_fault_detection) ++faulty_dts;
          last_dts_for_fault_detection = dts;
        }
        if (rpts != AV_NOPTS_VALUE) {
          if (rpts <= last_pts_for_fault_detection) ++faulty_pts;
          last_pts_for_fault_detection = rpts;
        }
        const int reorder = p->Fdecoder_reorder_pts;
        int64_t pts;
        if (rpts != AV_NOPTS_VALUE &&
            (reorder == 1 || (reorder != 0 && faulty_pts < faulty_dts) || dts == AV_NOPTS_VALUE))
          pts = rpts;
        else if (dts != AV_NOPTS_VALUE)
          pts = dts;
        else
          pts = 0;
        frame->pts = pts;
        skip_frames_index += 1;
        const float skip = skip_frames;
        if (skip_frames_index >= skip) {
          skip_frames_index -= std::max(skip, 1.0f);
          return 1;
        }
        ff::av_frame_unref(frame);
        continue;
      }
      video_need_packet = true;
    }

    TQueuedPacket e;
    if (videoq.Get(e, true) < 0) return -1;
    if (e.IsFlush()) {
      ff::avcodec_flush_buffers(ctx);
      video_draining = false;
      graph.reset();  // may hold pictures of before the seek
      in_video_filter = out_video_filter = nullptr;
      {
        std::unique_lock g(pictq_mutex);
        for (TPictureSlot& s : pictq) s.DueTime = 0;
        while (pictq_size > 0 && !videoq.Aborted()) pictq_cond.wait(g);
        video_current_pos = -1;
        last_dts_for_fault_detection = INT64_MIN;
        last_pts_for_fault_detection = INT64_MIN;
        frame_last_pts = kNoPtsDouble;
        frame_last_delay = 0;
        frame_timer = NowSeconds();
      }
      skip_frames = 1.0f;
      skip_frames_index = 0;
      video_serial = e.serial;
      seek_flushed = 1;
      return 0;
    }
    if (e.IsEmpty()) {
      if (!video_draining) {  // let the decoder give out the pictures it still holds
        video_draining = true;
        if (ff::avcodec_send_packet(ctx, nullptr) >= 0) {
          video_need_packet = false;
          continue;
        }
      }
      // No more pictures will come: a caller waiting for the first one after a seek goes on.
      p->FPictEvent.Set();
      if (p->FSeeking && !seek_req) p->FSeeking = false;
      if (!EventEOF) p->UpdatePosition();
      return 0;
    }
    if (video_draining) {  // more input after the end (the file grew)
      ff::avcodec_flush_buffers(ctx);
      video_draining = false;
    }
    const int ret = ff::avcodec_send_packet(ctx, e.pkt.get());
    if (ret < 0 && ret != AVERROR(EAGAIN)) continue;  // a broken packet is dropped
    video_need_packet = false;
  }
}

int TVideoState::GetVideoFrame(AVFrame* frame, double& pts, int64_t& pos) {
  media::FramePtr decoded = media::MakeFrame();
  if (!decoded) return -1;
  for (;;) {
    if (graph) {
      const int ret = ff::av_buffersink_get_frame(out_video_filter, frame);
      if (ret >= 0) {
        const AVRational tb = ff::av_buffersink_get_time_base(out_video_filter);
        pts = frame->pts == AV_NOPTS_VALUE ? 0 : static_cast<double>(frame->pts) * av_q2d(tb);
        pos = frame->pkt_pos;
        return 1;
      }
      if (ret != AVERROR(EAGAIN)) {
        graph.reset();
        in_video_filter = out_video_filter = nullptr;
      }
    }
    const int ret = DecodeVideoPicture(decoded.get());
    if (ret <= 0) return ret;
    if (!graph || decoded->width != graph_width || decoded->height != graph_height ||
        decoded->format != graph_format || av_cmp_q(decoded->sample_aspect_ratio, graph_sar) != 0) {
      if (ConfigureVideoFilters(decoded.get()) < 0) return -1;
    }
    if (ff::av_buffersrc_add_frame_flags(in_video_filter, decoded.get(), 0) < 0) return -1;
  }
}

void TVideoState::VideoThread() {
  TCustomPlayer* p = Owner;
  media::FramePtr frame = media::MakeFrame();
  if (!frame) return;
  for (;;) {
    while (paused && !videoq.Aborted() && !seek_paused && !open_paused) SleepMs(10);
    double pts = 0;
    int64_t pos = -1;
    int ret = GetVideoFrame(frame.get(), pts, pos);
    if (ret < 0) break;
    if (ret == 0) continue;
    // A picture decoded after the last seek's flush marker is the first one of the new position.
    const bool fresh = video_serial == seek_serial;
    if (fresh && seek_done && seek_flushed) {
      seek_done = 0;
      seek_paused = 0;
    }
    ret = QueueDecodedPicture(frame.get(), pts, pos);
    ff::av_frame_unref(frame.get());
    if (ret < 0) break;
    // Queuing may have waited; a seek executed meanwhile makes the picture stale.
    if (!fresh || video_serial != seek_serial) continue;
    p->FPictEvent.Set();
    EventEOF = 0;
    if (p->FSeeking && !seek_req) p->FSeeking = false;
    if (open_paused > 1) {
      open_paused = 0;
      p->SetPlayState(psPause);
    } else if (open_paused == 1) {
      open_paused = 2;
    }
    if (p->Fstep && !abort_request) TogglePausePlayback();
  }
  graph.reset();
  in_video_filter = out_video_filter = nullptr;
}

int TVideoState::QueueDecodedPicture(AVFrame* frame, double pts, int64_t pos) {
  if (pts != 0)
    video_clock = pts;
  else
    pts = video_clock;
  double frame_delay;
  if (video_frame_rate.num > 0 && video_frame_rate.den > 0)
    frame_delay = av_q2d(av_inv_q(video_frame_rate));
  else
    frame_delay = video_ctx && video_ctx->time_base.num > 0 ? av_q2d(video_ctx->time_base) : 0.04;
  frame_delay += frame->repeat_pict * (frame_delay * 0.5);
  video_clock = video_clock + frame_delay;
  return StorePictureSlot(frame, pts, pos);
}

int TVideoState::StorePictureSlot(AVFrame* frame, double pts, int64_t pos) {
  TCustomPlayer* p = Owner;
  const int w = frame->width & ~1;
  const int h = frame->height & ~1;
  int windex;
  {
    std::unique_lock g(pictq_mutex);
    if (pictq_size >= kPictureQueueSize && !refresh)
      skip_frames = std::max(1.0f - static_cast<float>(kFrameSkipFactor),
                             skip_frames * (1.0f - static_cast<float>(kFrameSkipFactor)));
    while (pictq_size >= kPictureQueueSize && !videoq.Aborted()) pictq_cond.wait(g);
    if (videoq.Aborted()) return -1;
    windex = pictq_windex;
    TPictureSlot& vp = pictq[windex];
    if (!vp.Overlay || vp.Width != w || vp.Height != h) {
      vp.Allocated = false;
      alloc_width = w;
      alloc_height = h;
      alloc_fmt = frame->format;
      alloc_sar = frame->sample_aspect_ratio;
      g.unlock();
      if (!PushEvent(kAllocEvent)) return -1;
      g.lock();
      while (!vp.Allocated && !videoq.Aborted()) pictq_cond.wait(g);
      if (videoq.Aborted()) return -1;
    }
  }
  TPictureSlot& vp = pictq[windex];
  AVFrame* ov = vp.Overlay.get();
  if (ov && w > 0 && h > 0) {
    if (!ff::av_frame_is_writable(ov)) {
      // The picture on screen still uses the buffer: take a fresh one.
      ff::av_frame_unref(ov);
      ov->format = AV_PIX_FMT_YUV420P;
      ov->width = w;
      ov->height = h;
      ff::av_frame_get_buffer(ov, 0);
    }
    if (ov->data[0]) {
      uint8_t* src[4] = {frame->data[0], frame->data[1], frame->data[2], nullptr};
      int src_ls[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], 0};
      if (p->FVerticalFlip) {
        src[0] += static_cast<ptrdiff_t>(h - 1) * src_ls[0];
        src[1] += static_cast<ptrdiff_t>(h / 2 - 1) * src_ls[1];
        src[2] += static_cast<ptrdiff_t>(h / 2 - 1) * src_ls[2];
        for (int i = 0; i < 3; ++i) src_ls[i] = -src_ls[i];
      }
      ff::av_image_copy(ov->data, ov->linesize, const_cast<const uint8_t**>(src), src_ls,
                        AV_PIX_FMT_YUV420P, w, h);
      p->VideoHookDispatch(src, src_ls, ov, pts, StartTime, w, h);
    }
  }
  vp.PTS = pts;
  vp.Pos = pos;
  vp.SampleAspect = frame->sample_aspect_ratio;
  vp.PixFmt = frame->format;
  vp.Serial = video_serial;
  std::lock_guard g(pictq_mutex);
  pictq_windex = (windex + 1) % kPictureQueueSize;
  vp.DueTime = ComputeDueTime(pts);
  ++pictq_size;
  return 0;
}

// Under pictq_mutex.
double TVideoState::ComputeDueTime(double pts) {
  double delay = pts - frame_last_pts;
  if (delay <= 0 || delay >= 10.0)
    delay = frame_last_delay;
  else
    frame_last_delay = delay;
  frame_last_pts = pts;
  if (MasterSyncType() != AV_SYNC_VIDEO_MASTER) {
    const double diff = VideoClock() - MasterClock();
    const double threshold = std::max(delay, kSyncThreshold);
    if (std::fabs(diff) < kNoSyncThreshold) {
      if (diff <= -threshold)
        delay = 0;
      else if (diff >= threshold)
        delay = 2 * delay;
    }
  }
  frame_timer = frame_timer + delay;
  return frame_timer;
}

// Play thread, event 24.
void TVideoState::AllocatePicture() {
  OpenSurface(false);
  int w, h, fmt, windex;
  {
    std::lock_guard g(pictq_mutex);
    w = alloc_width;
    h = alloc_height;
    fmt = alloc_fmt;
    windex = pictq_windex;
  }
  TPictureSlot& vp = pictq[windex];
  media::FramePtr ov = media::MakeFrame();
  if (ov) {
    ov->format = AV_PIX_FMT_YUV420P;
    ov->width = w;
    ov->height = h;
    if (w <= 0 || h <= 0 || ff::av_frame_get_buffer(ov.get(), 0) < 0) ov.reset();
  }
  std::lock_guard g(pictq_mutex);
  vp.Overlay = std::move(ov);
  vp.Width = w;
  vp.Height = h;
  vp.PixFmt = fmt;
  vp.Allocated = true;
  pictq_cond.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Subtitles

void TVideoState::FreeSubtitleSlot(TSubtitleSlot& slot) {
  if (slot.Valid) ff::avsubtitle_free(&slot.Subtitle);
  slot.Valid = false;
}

void TVideoState::SubtitleThread() {
  AVCodecContext* ctx = subtitle_ctx.get();
  for (;;) {
    while (paused && !subtitleq.Aborted() && !seek_paused) SleepMs(10);
    TQueuedPacket e;
    if (subtitleq.Get(e, true) < 0) break;
    if (e.IsFlush()) {
      ff::avcodec_flush_buffers(ctx);
      continue;
    }
    if (e.IsEmpty()) continue;
    int windex;
    {
      std::unique_lock g(subpq_mutex);
      while (subpq_size >= kSubpictureQueueSize && !subtitleq.Aborted()) subpq_cond.wait(g);
      if (subtitleq.Aborted()) break;
      windex = subpq_windex;
    }
    TSubtitleSlot& sp = subpq[windex];
    FreeSubtitleSlot(sp);
    const double pts = e.pkt->pts != AV_NOPTS_VALUE
                           ? static_cast<double>(e.pkt->pts) * av_q2d(subtitle_st->time_base)
                           : 0;
    int got = 0;
    std::memset(&sp.Subtitle, 0, sizeof(sp.Subtitle));
    const int ret = ff::avcodec_decode_subtitle2(ctx, &sp.Subtitle, &got, e.pkt.get());
    if (ret < 0 || !got) continue;
    sp.Valid = true;
    if (sp.Subtitle.format != 0) {
      FreeSubtitleSlot(sp);
      continue;
    }
    sp.PTS = pts;
    for (unsigned i = 0; i < sp.Subtitle.num_rects; ++i) {
      AVSubtitleRect* r = sp.Subtitle.rects[i];
      if (r->type != SUBTITLE_BITMAP || !r->data[1]) continue;
      auto* pal = reinterpret_cast<uint32_t*>(r->data[1]);
      for (int j = 0; j < r->nb_colors; ++j) {
        const uint32_t c = pal[j];
        const int a = static_cast<int>(c >> 24), red = (c >> 16) & 0xff, green = (c >> 8) & 0xff,
                  blue = c & 0xff;
        const int y = RgbToYCcir(red, green, blue);
        const int u = RgbToUCcir(red, green, blue);
        const int v = RgbToVCcir(red, green, blue);
        pal[j] = (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(y) << 16) |
                 (static_cast<uint32_t>(u) << 8) | static_cast<uint32_t>(v);
      }
    }
    std::lock_guard g(subpq_mutex);
    subpq_windex = (windex + 1) % kSubpictureQueueSize;
    ++subpq_size;
  }
}

}  // namespace trelvix::player
