// Video hooks of a running conversion: the input hook (or the frame-hook libraries) on each
// decoded picture, the output hook and the post hooks (preview bitmaps) on each picture about to
// be encoded.
#include <algorithm>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/overlay_blend.h"
#include "engine/transcode_streams.h"
#include "media/ff_log.h"

namespace trelvix::engine {
namespace {

// Makes `dst` a writable picture of the format and size of `src`, with its properties; its
// pixels are left as they are. False when out of memory.
bool PrepareLike(AVFrame* dst, const AVFrame* src) {
  if (dst->format != src->format || dst->width != src->width || dst->height != src->height ||
      !dst->buf[0]) {
    ff::av_frame_unref(dst);
    dst->format = src->format;
    dst->width = src->width;
    dst->height = src->height;
    if (ff::av_frame_get_buffer(dst, 0) < 0) return false;
  } else if (ff::av_frame_make_writable(dst) < 0) {
    return false;
  }
  ff::av_frame_copy_props(dst, src);
  return true;
}

// Makes `dst` a writable copy of `src`; false when out of memory.
bool CopyInto(AVFrame* dst, const AVFrame* src) {
  return PrepareLike(dst, src) && ff::av_frame_copy(dst, src) >= 0;
}

}  // namespace

AVFrame* TCustomFFmpeg::VideoHookCall(decoder::TRGBConvertContext& ctx, TVideoHookEvent& event,
                                      AVFrame* src, AVFrame* work, int frame_number, int64_t pts,
                                      bool* bitmap_current, TVideoHookQuery* query,
                                      TOverlayBlender* blender, TPictureBand* band) {
  if (bitmap_current) *bitmap_current = false;
  // The part the handler draws on: the whole picture, unless its query names less.
  runtime::TRect part{0, 0, src->width, src->height};
  if (query && *query) {
    bool stop = false;
    runtime::TDrawArea answer;
    try {
      answer = (*query)(this, src->width, src->height, frame_number, pts, stop);
    } catch (const std::exception& e) {
      LogF(media::llError, "%s%s", msg::kVideoHookError, e.what());
      return src;
    }
    if (stop) {
      event = nullptr;
      *query = nullptr;
      return src;
    }
    const runtime::TRect& area = answer.Area;
    part = {std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, src->width),
            std::min(area.bottom, src->height)};
    if (part.Width() <= 0 || part.Height() <= 0) return src;  // nothing to draw on this frame
    // A ready overlay goes straight onto a picture that can take it. Bitmaps of fewer than 24
    // bits keep their round trip: it changes the colours of the part, and the handler draws
    // onto them in its own way.
    if (answer.Overlay && blender && ctx.BitsPixel() >= 24 && TOverlayBlender::Supports(src)) {
      // The picture itself when no one else holds its pixels, else a band of the rows the
      // overlay covers, else the job's copy of the picture.
      if (ff::av_frame_is_writable(src)) {
        if (blender->Blend(*answer.Overlay, src)) return src;
      } else if (band) {
        int top = 0;
        if (AVFrame* rows = blender->BlendBand(*answer.Overlay, src, &top)) {
          *band = {src, rows, top};
          return src;
        }
      } else if (!CopyInto(work, src)) {
        LogF(media::llError, "%s", msg::kHookBufMalloc);
        return src;
      } else if (blender->Blend(*answer.Overlay, work)) {
        return work;
      }
    }
  }
  bool whole = part.Width() == src->width && part.Height() == src->height;
  const auto to_rgb = [&](const AVFrame* f) {
    if (!whole && ctx.ConvertRectToRGB(f, part)) return ctx.Bitmap() != nullptr;
    whole = true;  // also for pictures whose format has no parts (palettes, bit-packed)
    return ctx.ConvertToRGB(f, false) && ctx.Bitmap();
  };
  if (!to_rgb(src)) {
    LogF(media::llError, "%s", msg::kToRGBFail);
    event = nullptr;
    return src;
  }
  if (ctx.InPlace()) {
    // The bitmap shares the source's planes: the handler draws on the job's own copy.
    if (!CopyInto(work, src) || !to_rgb(work)) {
      LogF(media::llError, "%s", msg::kHookBufMalloc);
      return src;
    }
  }
  bool update = true, stop = false;
  try {
    event(this, ctx.Bitmap(), frame_number, pts, update, stop);
  } catch (const std::exception& e) {
    LogF(media::llError, "%s%s", msg::kVideoHookError, e.what());
    update = false;
  } catch (...) {
    LogF(media::llError, "%s%s", msg::kVideoHookError, "unknown exception");
    update = false;
  }
  AVFrame* result = src;  // a picture the handler left alone goes on unconverted
  bool ok = true;
  if (update && !whole) {
    // The rest of the picture stays as decoded: the job's copy of it gets the part back.
    if (CopyInto(work, src) && ctx.ConvertRectFromRGB(work)) {
      result = work;
    } else {
      LogF(media::llError, "%s", msg::kFromRGBFail);
      ok = false;
    }
  } else if (update) {
    ctx.BitmapToRGB();
    if (ctx.InPlace()) {
      result = work;
    } else if (PrepareLike(work, src) && ctx.ConvertFromRGB(work)) {
      result = work;  // decoder pictures are never written
    } else {
      LogF(media::llError, "%s", msg::kFromRGBFail);
      ok = false;
    }
  }
  if (bitmap_current) *bitmap_current = ok && update && whole;
  if (stop || !ok) event = nullptr;
  return result;
}

AVFrame* TCustomFFmpeg::RunInputHook(TTranscodeState& r, TAVInputStream& ist, AVFrame* frame) {
  ++ist.frame_number;
  r.in_band = {};
  AVFrame* picture = frame;
  if (Fdo_deinterlace) {
    if (r.deinterlacer.Process(frame, r.deinterlaced.get()))
      picture = r.deinterlaced.get();
    else
      LogF(media::llError, "%s", msg::kDeinterlaceFailed);
  }
  // A phone clip is turned upright before anything is drawn on it or it is scaled.
  if (ist.rotation.Active()) {
    if (ist.rotation.Process(picture, ist.rotated.get()))
      picture = ist.rotated.get();
    else
      LogF(media::llError, "%s", msg::kRotateFailed);
  }
  if (FOnInputVideoHook)
    return VideoHookCall(r.in_rgb, FOnInputVideoHook, picture, r.FreeHookFrame(), ist.frame_number,
                         ist.pts, nullptr, &FOnInputVideoHookQuery, &r.in_blend, &r.in_band);
  if (FFrameHooks.empty()) return picture;
  // The libraries change the picture in place: a deinterlaced picture is the job's own, a
  // decoded one is copied first.
  AVFrame* pic = picture == frame ? r.FreeHookFrame() : picture;
  if (pic == picture ? ff::av_frame_make_writable(pic) < 0 : !CopyInto(pic, frame)) {
    LogF(media::llError, "%s", msg::kHookBufMalloc);
    return picture;
  }
  for (TFrameHookEntry& e : FFrameHooks) {
    TFramePicture p{};
    for (int i = 0; i < 4; ++i) {
      p.data[i] = pic->data[i];
      p.linesize[i] = pic->linesize[i];
    }
    e.Process(e.ctx, &p, pic->format, pic->width, pic->height, ist.pts);
  }
  return pic;
}

AVFrame* TCustomFFmpeg::WholePicture(TTranscodeState& r, AVFrame* picture) {
  if (!r.in_band.For(picture)) return picture;
  AVFrame* whole = r.FreeHookFrame();
  const TPictureBand band = r.in_band;
  r.in_band = {};
  if (!CopyInto(whole, picture)) {
    LogF(media::llError, "%s", msg::kHookBufMalloc);
    return picture;
  }
  band.PutInto(whole);
  return whole;
}

void TCustomFFmpeg::RunOutputHooks(TTranscodeState& r, TAVOutputStream& ost, AVFrame*& frame) {
  const int number = ost.frame_number + 1;
  const int64_t pts = ff::av_rescale_q(frame->pts, ost.enc->time_base, AVRational{1, AV_TIME_BASE});
  r.bitmap_current = false;
  if (FOnOutputVideoHook)
    frame = VideoHookCall(r.out_rgb, FOnOutputVideoHook, frame, r.out_hook_frame.get(), number, pts,
                          &r.bitmap_current);
  RunPostHooks(r, frame, number, pts);
}

void TCustomFFmpeg::RunPostHooks(TTranscodeState& r, AVFrame* frame, int frame_number,
                                 int64_t pts) {
  // The set is read without the lock. The handlers and the window hand the picture to the main
  // thread and wait for it, so no lock is held across them: the main thread may change the set
  // meanwhile (SetPostHooks) without waiting for this thread, and other jobs never wait for it.
  const TPostHooks hooks = FPostHooks;
  if (hooks == 0) return;
  const int64_t now = ff::av_gettime();
  if (now - r.preview_last_time <= PreviewInterval) return;
  const bool changed = FPostHooksChanged.exchange(false);
  // The picture as a bitmap: the output hook's when it shows this frame, else converted now.
  const auto bitmap = [&]() -> runtime::TBitmap* {
    if (r.bitmap_current && !changed && r.out_rgb.Bitmap()) return r.out_rgb.Bitmap();
    if (r.out_rgb.ConvertToRGB(frame, false) && r.out_rgb.Bitmap()) return r.out_rgb.Bitmap();
    LogF(media::llError, "%s", msg::kToRGBFail);
    return nullptr;
  };
  const TPostHooks bitmap_bit = PostHookBit(phBitmap), preview_bit = PostHookBit(phPreview);
  if ((hooks & bitmap_bit) && FOnPreviewBitmap) {
    r.preview_last_time = now;
    if (runtime::TBitmap* b = bitmap())
      FOnPreviewBitmap(this, b, frame_number, pts);
    else
      DropPostHooks(bitmap_bit);
  } else if (hooks & preview_bit) {
    r.preview_last_time = now;
    runtime::TBitmap* b = bitmap();
    std::shared_ptr<TPreviewWindow> window;
    if (b) {
      std::unique_lock lock(PostHookLock());
      window = FPreviewer;
      if (!window) {
        // Made outside the lock: a window is created on the main thread.
        lock.unlock();
        std::shared_ptr<TPreviewWindow> made = CreatePreviewWindow();
        lock.lock();
        if (!FPreviewer && (FPostHooks & preview_bit)) FPreviewer = made;
        window = FPreviewer;
        lock.unlock();
        made.reset();
      }
    }
    // No window to paint (none could be made, or the user closed it): the preview ends.
    if (!window || !window->PaintFrame(b, frame_number, pts)) DropPostHooks(preview_bit);
  }
}

}  // namespace trelvix::engine
