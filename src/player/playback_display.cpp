// The refresh ticker and the display: showing pictures when they are due, dropping late ones,
// subtitles, and drawing into the video surface (aspect, letterboxing). Play thread unless noted.
#include <algorithm>
#include <cmath>

#include "player/ff_player.h"
#include "player/player_messages.h"
#include "player/video_state.h"

namespace trelvix::player {
namespace {

// Blends one palette-indexed subtitle rectangle (YUVA palette) into a YUV 4:2:0 picture.
void BlendSubrect(AVFrame* dst, const AVSubtitleRect* rect) {
  if (!rect || rect->type != SUBTITLE_BITMAP || !rect->data[0] || !rect->data[1]) return;
  const int dw = dst->width, dh = dst->height;
  const int x0 = std::clamp(rect->x, 0, dw), y0 = std::clamp(rect->y, 0, dh);
  const int x1 = std::clamp(rect->x + rect->w, 0, dw), y1 = std::clamp(rect->y + rect->h, 0, dh);
  if (x0 >= x1 || y0 >= y1) return;
  const auto* pal = reinterpret_cast<const uint32_t*>(rect->data[1]);
  auto pixel = [&](int x, int y) -> uint32_t {
    if (x < x0 || x >= x1 || y < y0 || y >= y1) return 0;  // outside: transparent
    const uint8_t idx = rect->data[0][(y - rect->y) * rect->linesize[0] + (x - rect->x)];
    return idx < rect->nb_colors ? pal[idx] : 0;
  };
  // Luma, per pixel.
  for (int y = y0; y < y1; ++y) {
    uint8_t* line = dst->data[0] + static_cast<ptrdiff_t>(y) * dst->linesize[0];
    for (int x = x0; x < x1; ++x) {
      const uint32_t c = pixel(x, y);
      const int a = static_cast<int>(c >> 24);
      const int py = (c >> 16) & 0xff;
      line[x] = static_cast<uint8_t>(line[x] + a * (py - line[x]) / 255);
    }
  }
  // Chroma, per 2 x 2 block from the covered pixels (partial blocks at odd edges).
  for (int cy = y0 / 2; cy <= (y1 - 1) / 2; ++cy) {
    uint8_t* u_line = dst->data[1] + static_cast<ptrdiff_t>(cy) * dst->linesize[1];
    uint8_t* v_line = dst->data[2] + static_cast<ptrdiff_t>(cy) * dst->linesize[2];
    for (int cx = x0 / 2; cx <= (x1 - 1) / 2; ++cx) {
      int sum_a = 0, sum_u = 0, sum_v = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
          const uint32_t c = pixel(2 * cx + dx, 2 * cy + dy);
          const int a = static_cast<int>(c >> 24);
          sum_a += a;
          sum_u += a * static_cast<int>((c >> 8) & 0xff);
          sum_v += a * static_cast<int>(c & 0xff);
        }
      if (sum_a == 0) continue;
      const int full = 4 * 255;
      u_line[cx] = static_cast<uint8_t>((u_line[cx] * (full - sum_a) + sum_u) / full);
      v_line[cx] = static_cast<uint8_t>((v_line[cx] * (full - sum_a) + sum_v) / full);
    }
  }
}

}  // namespace

// Its own thread: ticks the event loop.
void TVideoState::RefreshThread() {
  while (!abort_request) {
    if (refresh != 1) {
      refresh = 1;
      if (!PushEvent(kRefreshEvent)) refresh = 0;
    }
    const int ms = (audio_stream >= 0 && show_audio) ? Owner->Frdftspeed.load() : 5;
    SleepMs(std::max(ms, 1));
  }
}

void TVideoState::RefreshVideo(bool dequeue) {
  TCustomPlayer* p = Owner;
  if (video_stream < 0) {
    if (audio_stream >= 0) DisplayCurrent();
    p->UpdatePosition();
    return;
  }
  if (!dequeue) {  // a redraw: show again what is on screen
    DisplayCurrent();
    return;
  }
  bool shown = true;
  for (;;) {
    std::unique_lock g(pictq_mutex);
    if (pictq_size == 0) break;
    const double now = NowSeconds();
    TPictureSlot* vp = &pictq[pictq_rindex];
    const double due = vp->DueTime;
    if (now < due) return;
    const int size = pictq_size;
    const double next_due = size > 1 ? pictq[(pictq_rindex + 1) % kPictureQueueSize].DueTime : 0;
    g.unlock();
    // A picture from before the last seek is dropped unseen.
    const bool skipping = vp->Serial != seek_serial;
    if (!skipping) {
      video_current_pts = vp->PTS;
      video_current_pts_drift = vp->PTS - now;
      video_current_pos = vp->Pos;
    }
    const double next_target = size > 1 ? next_due : due + video_clock - vp->PTS;
    if ((p->Fframedrop != 0 && now > next_target && !IsDevice) || skipping) {
      if (!skipping) skip_frames = skip_frames * (1.0f + static_cast<float>(kFrameSkipFactor));
      if (size > 1 || now > next_target + kLateDropMargin || skipping) {
        g.lock();
        pictq_rindex = (pictq_rindex + 1) % kPictureQueueSize;
        --pictq_size;
        pictq_cond.notify_all();
        shown = false;
        continue;
      }
    }
    if (subtitle_stream >= 0) {
      std::lock_guard sg(subpq_mutex);
      if (subtitle_stream_changed) {
        while (subpq_size > 0) {
          FreeSubtitleSlot(subpq[subpq_rindex]);
          subpq_rindex = (subpq_rindex + 1) % kSubpictureQueueSize;
          --subpq_size;
        }
        subtitle_stream_changed = 0;
        subpq_cond.notify_all();
      } else {
        const double cur = video_current_pts;
        while (subpq_size > 0) {
          TSubtitleSlot& sp = subpq[subpq_rindex];
          const bool expired = sp.PTS + sp.Subtitle.end_display_time / 1000.0 < cur;
          bool superseded = false;
          if (subpq_size > 1) {
            const TSubtitleSlot& next = subpq[(subpq_rindex + 1) % kSubpictureQueueSize];
            superseded = next.PTS + next.Subtitle.start_display_time / 1000.0 < cur;
          }
          if (!expired && !superseded) break;
          FreeSubtitleSlot(sp);
          subpq_rindex = (subpq_rindex + 1) % kSubpictureQueueSize;
          --subpq_size;
          subpq_cond.notify_all();
        }
      }
    }
    DisplayCurrent(vp);
    g.lock();
    pictq_rindex = (pictq_rindex + 1) % kPictureQueueSize;
    --pictq_size;
    pictq_cond.notify_all();
    break;
  }
  if (shown) p->UpdatePosition();
}

void TVideoState::DisplayCurrent(TPictureSlot* slot) {
  if (Owner->Fdisplay_disable) return;
  if (!Owner->FSurface->HasMode()) OpenSurface(false);
  if (audio_stream >= 0 && show_audio) {
    if (slot) {  // keep the picture for CurrentFrame even while the visualisation is shown
      std::lock_guard g(shown_mutex);
      if (!shown.Frame) shown.Frame = media::MakeFrame();
      if (slot->Overlay && shown.Frame) {
        ff::av_frame_unref(shown.Frame.get());
        ff::av_frame_ref(shown.Frame.get(), slot->Overlay.get());
        shown.PTS = slot->PTS;
        shown.SampleAspect = slot->SampleAspect;
        shown.Serial = slot->Serial;
        shown.Valid = true;
      }
    }
    DrawAudioDisplay();
  } else if (video_stream >= 0) {
    DisplayPicture(slot);
  }
}

int TVideoState::OpenSurface(bool force) {
  TCustomPlayer* p = Owner;
  int w, h;
  if (p->Fis_full_screen && p->Ffs_screen_width > 0) {
    w = p->Ffs_screen_width;
    h = p->Ffs_screen_height;
  } else if (p->Fscreen_width > 0 && p->Fscreen_height > 0) {
    w = p->Fscreen_width;
    h = p->Fscreen_height;
  } else {
    int aw, ah;
    {
      std::lock_guard g(pictq_mutex);
      aw = alloc_width;
      ah = alloc_height;
    }
    if (aw > 0 && ah > 0) {
      w = aw & ~1;
      h = ah & ~1;
    } else {
      w = 640;
      h = 480;
    }
  }
  TVideoSurface& surface = *p->FSurface;
  if (!force && surface.HasMode() && surface.Width() == w && surface.Height() == h) {
    width = w;
    height = h;
    return 0;
  }
  if (!surface.SetMode(w, h)) {
    Report(msg::kSetVideoModeFailed, false);
    return -1;
  }
  width = w;
  height = h;
  xleft = ytop = 0;
  xpos = 0;
  surface.Update();
  return 0;
}

void TVideoState::DisplayPicture(TPictureSlot* slot) {
  media::FramePtr ref;
  AVRational sar{0, 1};
  if (slot) {
    if (!slot->Overlay || !slot->Overlay->data[0]) return;
    // Subtitles are blended into the picture once, when it is first shown.
    if (subtitle_stream >= 0) {
      std::lock_guard sg(subpq_mutex);
      if (subpq_size > 0) {
        TSubtitleSlot& sp = subpq[subpq_rindex];
        if (slot->PTS >= sp.PTS + sp.Subtitle.start_display_time / 1000.0)
          for (unsigned i = 0; i < sp.Subtitle.num_rects; ++i)
            BlendSubrect(slot->Overlay.get(), sp.Subtitle.rects[i]);
      }
    }
    std::lock_guard g(shown_mutex);
    if (!shown.Frame) shown.Frame = media::MakeFrame();
    if (!shown.Frame) return;
    ff::av_frame_unref(shown.Frame.get());
    ff::av_frame_ref(shown.Frame.get(), slot->Overlay.get());
    shown.PTS = slot->PTS;
    shown.SampleAspect = slot->SampleAspect;
    shown.Serial = slot->Serial;
    shown.Valid = true;
    ref.reset(ff::av_frame_clone(shown.Frame.get()));
    sar = shown.SampleAspect;
  } else {
    std::lock_guard g(shown_mutex);
    if (!shown.Valid || !shown.Frame) return;
    ref.reset(ff::av_frame_clone(shown.Frame.get()));
    sar = shown.SampleAspect;
  }
  if (ref) ShowFrame(ref.get(), sar, 0);
}

void TVideoState::ShowFrame(const AVFrame* frame, AVRational sar, double) {
  TCustomPlayer* p = Owner;
  const int dw = width, dh = height;
  if (dw <= 0 || dh <= 0 || frame->width <= 0 || frame->height <= 0) return;
  const float ar = p->FAspectRatio;
  double aspect;
  if (ar < 0)
    aspect = static_cast<double>(dw) / dh;
  else if (ar > 0)
    aspect = ar;
  else
    aspect = ((sar.num == 0 || sar.den == 0) ? 1.0 : av_q2d(sar)) * frame->width / frame->height;
  if (aspect <= 0) aspect = static_cast<double>(frame->width) / frame->height;
  int h = dh;
  int w = static_cast<int>(std::lrint(h * aspect)) & ~1;
  if (w > dw) {
    w = dw;
    h = static_cast<int>(std::lrint(w / aspect)) & ~1;
  }
  if (w <= 0 || h <= 0) return;
  const int x = (dw - w) / 2;
  const int y = (dh - h) / 2;
  no_background = 0;
  SwsContext* sws = ff::sws_getCachedContext(display_sws.release(), frame->width, frame->height,
                                             AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGRA,
                                             p->Fsws_flags, nullptr, nullptr, nullptr);
  display_sws.reset(sws);
  if (!sws) return;
  const int stride = w * 4;
  display_rgb.resize(static_cast<size_t>(stride) * h);
  uint8_t* dst[4] = {display_rgb.data(), nullptr, nullptr, nullptr};
  int dst_ls[4] = {stride, 0, 0, 0};
  ff::sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dst_ls);
  TVideoSurface& surface = *p->FSurface;
  const QRgb black = qRgb(0, 0, 0);
  // The bars around the picture (the area may have held a larger picture before).
  surface.FillRect(QRect(xleft, ytop, dw, y), black);
  surface.FillRect(QRect(xleft, ytop + y + h, dw, dh - y - h), black);
  surface.FillRect(QRect(xleft, ytop + y, x, h), black);
  surface.FillRect(QRect(xleft + x + w, ytop + y, dw - x - w, h), black);
  surface.Blit(xleft + x, ytop + y, w, h, display_rgb.data(), stride);
  surface.Update();
}

void TVideoState::Resize(int w, int h) {
  TCustomPlayer* p = Owner;
  if (w <= 0 || h <= 0) return;
  if (!p->FSurface->SetMode(w, h)) {
    Report(msg::kSetVideoModeFailed, false);
    return;
  }
  p->Fscreen_width = w;
  p->Fscreen_height = h;
  width = w;
  height = h;
  xleft = ytop = 0;
  xpos = 0;
  DisplayCurrent();
  p->FSurface->Update();
}

// Any thread.
void TVideoState::FillDisplayBlack() {
  Owner->FSurface->FillRect(QRect(0, 0, width, height), qRgb(0, 0, 0));
  Owner->FSurface->Update();
}

}  // namespace trelvix::player
