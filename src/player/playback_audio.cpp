// The audio side of a playback: SDL's device pulls bytes through the callback, which decodes the
// audio queue into signed 16-bit samples, hands them to the audio hook and the visualisation,
// corrects them towards the master clock when audio is not the master, and mixes them at the
// player's volume. Also the waveform and spectrum displays.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "media/ff_log.h"
#include "player/ff_player.h"
#include "player/player_messages.h"
#include "player/video_state.h"
#include "runtime/format.h"

namespace trelvix::player {
namespace {

inline int Mod(int a, int b) {
  a %= b;
  return a < 0 ? a + b : a;
}

// Room for a chunk of `bytes` and the stretching of SynchronizeAudio (at most +10 %).
void EnsureRoom(std::vector<uint8_t>& buf, size_t bytes) {
  const size_t need = bytes + bytes / 8 + 64;
  if (buf.size() < need) buf.resize(need);
}

}  // namespace

int TVideoState::AudioOpen(AVCodecContext* ctx, std::string& error) {
  TCustomPlayer* p = Owner;
  const int ch = ctx->ch_layout.nb_channels;
  SDL_AudioSpec wanted{};
  SDL_AudioSpec obtained{};
  wanted.freq = ctx->sample_rate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = static_cast<Uint8>(ch == 1 || ch == 2 ? ch : 2);
  wanted.silence = 0;
  wanted.samples = kSDLAudioBufferSamples;
  wanted.callback = &TVideoState::AudioCallback;
  wanted.userdata = this;
  {
    std::lock_guard g(p->FSdlLock);
    if (!p->FSdlAudio) {
      error = p->FSdlAudioError;
      return -1;
    }
  }
  if (wanted.freq <= 0) {
    error = "invalid sample rate";
    return -1;
  }
  const SDL_AudioDeviceID dev = sdl::SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
  if (dev == 0) {
    error = sdl::SDL_GetError();
    return -1;
  }
  audio_dev = dev;
  audio_hw_buf_size = static_cast<int>(obtained.size);
  audio_rate = wanted.freq;
  audio_channels = wanted.channels;
  audio_src_fmt = AV_SAMPLE_FMT_S16;
  if (!audio_frame) audio_frame = media::MakeFrame();
  return 0;
}

void TVideoState::AudioCallback(void* opaque, uint8_t* stream, int len) {
  static_cast<TVideoState*>(opaque)->FillAudio(stream, len);
}

void TVideoState::FillAudio(uint8_t* stream, int len) {
  TCustomPlayer* p = Owner;
  audio_callback_time = NowMicros();
  std::memset(stream, 0, static_cast<size_t>(len));
  while (len > 0) {
    if (audio_buf_index >= audio_buf_size) {
      double pts = 0;
      int size = AudioDecodeFrame(pts);
      if (audioq.Aborted()) return;
      audio_starved = size < 0 && !paused;
      if (size < 0) {
        audio_buf = audio_buf1.data();
        size = 1024;
        std::memset(audio_buf, 0, static_cast<size_t>(size));
      } else {
        p->AudioHookDispatch(audio_buf, size, pts, StartTime, audio_rate, audio_channels);
        if (show_audio) UpdateSampleDisplay(audio_buf, size);
        size = SynchronizeAudio(audio_buf, size);
      }
      audio_buf_index = 0;
      audio_buf_size = size;
    }
    const int index = audio_buf_index;
    const int n = std::min(audio_buf_size - index, len);
    if (!p->FMute)
      sdl::SDL_MixAudioFormat(stream, audio_buf + index, AUDIO_S16SYS, static_cast<Uint32>(n),
                              p->FAudioVolume);
    audio_buf_index = index + n;
    len -= n;
    stream += n;
  }
}

int TVideoState::AudioDecodeFrame(double& pts) {
  AVCodecContext* ctx = audio_ctx.get();
  if (!ctx) return -1;
  for (;;) {
    if (paused || audioq.Aborted()) return -1;
    if (!audio_need_packet) {
      const int ret = ff::avcodec_receive_frame(ctx, audio_frame.get());
      if (ret >= 0) {
        AVFrame* f = audio_frame.get();
        const int64_t fpts =
            f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
        if (fpts != AV_NOPTS_VALUE)
          audio_clock = static_cast<double>(fpts) * av_q2d(ctx->pkt_timebase);
        const int bytes = ConvertAudioFrame(f);
        ff::av_frame_unref(f);
        if (bytes <= 0) continue;
        pts = audio_clock;
        const int bytes_per_sec = 2 * audio_channels * audio_rate;
        audio_clock = audio_clock + static_cast<double>(bytes) / bytes_per_sec;
        return bytes;
      }
      if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        media::TFFLogger::Post(Owner, media::llInfo, msg::kAudioDecodeFailed);
      audio_need_packet = true;
    }
    TQueuedPacket e;
    if (audioq.Get(e, false) <= 0) return -1;
    if (e.IsFlush()) {
      ff::avcodec_flush_buffers(ctx);
      continue;
    }
    const int ret = ff::avcodec_send_packet(ctx, e.pkt.get());
    if (ret < 0 && ret != AVERROR(EAGAIN)) {
      media::TFFLogger::Post(Owner, media::llInfo, msg::kAudioDecodeFailed);
      continue;  // the packet is dropped
    }
    if (e.pkt->pts != AV_NOPTS_VALUE && ret >= 0)
      audio_clock = static_cast<double>(e.pkt->pts) * av_q2d(ctx->pkt_timebase);
    audio_need_packet = false;
  }
}

int TVideoState::ConvertAudioFrame(const AVFrame* frame) {
  const int out_ch = audio_channels;
  const int out_rate = audio_rate;
  const int in_ch = frame->ch_layout.nb_channels;
  if (frame->nb_samples <= 0 || in_ch <= 0) return -1;
  if (frame->format == AV_SAMPLE_FMT_S16 && in_ch == out_ch && frame->sample_rate == out_rate) {
    const int bytes = frame->nb_samples * 2 * out_ch;
    EnsureRoom(audio_buf1, static_cast<size_t>(bytes));
    std::memcpy(audio_buf1.data(), frame->data[0], static_cast<size_t>(bytes));
    audio_buf = audio_buf1.data();
    return bytes;
  }
  AVChannelLayout in_layout{};
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    ff::av_channel_layout_default(&in_layout, in_ch);
  else
    ff::av_channel_layout_copy(&in_layout, &frame->ch_layout);
  if (!reformat_ctx || frame->format != audio_src_fmt || frame->sample_rate != audio_src_rate ||
      ff::av_channel_layout_compare(&in_layout, &audio_src_layout) != 0) {
    reformat_ctx.reset();
    AVChannelLayout out_layout{};
    ff::av_channel_layout_default(&out_layout, out_ch);
    SwrContext* swr = nullptr;
    int ret = ff::swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_S16, out_rate, &in_layout,
                                      static_cast<AVSampleFormat>(frame->format),
                                      frame->sample_rate, 0, nullptr);
    if (ret >= 0) ret = ff::swr_init(swr);
    ff::av_channel_layout_uninit(&out_layout);
    if (ret < 0) {
      ff::swr_free(&swr);
      const char* from = ff::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
      Report(runtime::Format(msg::kCannotConvert, from ? from : "none",
                             ff::av_get_sample_fmt_name(AV_SAMPLE_FMT_S16)),
             false);
      ff::av_channel_layout_uninit(&in_layout);
      return -1;
    }
    reformat_ctx.reset(swr);
    audio_src_fmt = frame->format;
    audio_src_rate = frame->sample_rate;
    ff::av_channel_layout_uninit(&audio_src_layout);
    ff::av_channel_layout_copy(&audio_src_layout, &in_layout);
  }
  ff::av_channel_layout_uninit(&in_layout);
  const int max_out = ff::swr_get_out_samples(reformat_ctx.get(), frame->nb_samples) + 32;
  EnsureRoom(audio_buf2, static_cast<size_t>(max_out) * 2 * out_ch);
  uint8_t* out[1] = {audio_buf2.data()};
  const int n =
      ff::swr_convert(reformat_ctx.get(), out, max_out,
                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
  if (n < 0) {
    Report(msg::kAudioConvertFailed, false);
    return -1;
  }
  audio_buf = audio_buf2.data();
  return n * 2 * out_ch;
}

int TVideoState::SynchronizeAudio(uint8_t* samples, int size) {
  const int sync = MasterSyncType();
  if (!((sync == AV_SYNC_VIDEO_MASTER && video_stream >= 0) || sync == AV_SYNC_EXTERNAL_CLOCK))
    return size;
  const int n = 2 * audio_channels;
  const double diff = AudioClock() - MasterClock();
  if (!(std::fabs(diff) < kNoSyncThreshold)) {  // too far apart (or not a number): start over
    audio_diff_avg_count = 0;
    audio_diff_cum = 0;
    return size;
  }
  audio_diff_cum = diff + audio_diff_avg_coef * audio_diff_cum;
  if (audio_diff_avg_count < kAudioDiffAvgNb) {
    ++audio_diff_avg_count;
    return size;
  }
  const double avg = audio_diff_cum * (1.0 - audio_diff_avg_coef);
  if (std::fabs(avg) < audio_diff_threshold) return size;
  int wanted = size + n * static_cast<int>(std::lround(diff * audio_rate));
  const int min_size = ((size / n) * 90 / 100) * n;
  const int max_size = ((size / n) * 110 / 100) * n;
  wanted = std::clamp(wanted, min_size, max_size);
  if (wanted > size && size >= n) {
    // Repeat the last sample frame (the buffers hold room for the extra 10 %).
    const uint8_t* last = samples + size - n;
    for (int pos = size; pos < wanted; pos += n)
      std::memcpy(samples + pos, last, static_cast<size_t>(n));
  }
  return wanted;
}

void TVideoState::UpdateSampleDisplay(const uint8_t* samples, int size) {
  const auto* s = reinterpret_cast<const int16_t*>(samples);
  int count = size / 2;
  int index = sample_array_index;
  while (count-- > 0) {
    sample_array[index].store(*s++, std::memory_order_relaxed);
    if (++index >= kSampleArraySize) index = 0;
  }
  sample_array_index = index;
}

void TVideoState::DrawAudioDisplay() {
  TCustomPlayer* p = Owner;
  const int channels = audio_channels;
  const int w = width, h = height;
  if (channels <= 0 || w <= 0 || h <= 0) return;
  int nb_bits = 0;
  while ((1 << nb_bits) < 2 * h) ++nb_bits;
  const int nb_freq = 1 << (nb_bits - 1 < 0 ? 0 : nb_bits - 1);
  const int mode = show_audio;
  auto sample = [&](int i) {
    return static_cast<int>(sample_array[Mod(i, kSampleArraySize)].load(std::memory_order_relaxed));
  };

  int i_start;
  if (paused) {
    i_start = last_i_start;
  } else {
    const int used = mode == 1 ? w : 2 * nb_freq;
    int delay = (audio_buf_size - audio_buf_index) / (2 * channels);
    const int64_t cb_time = audio_callback_time;
    if (cb_time) {
      const int64_t elapsed = NowMicros() - cb_time;
      delay -= static_cast<int>((static_cast<int64_t>(audio_rate) * elapsed) / 1000000);
    }
    delay += 2 * used;
    if (delay < used) delay = used;
    i_start = Mod(sample_array_index - delay * channels, kSampleArraySize);
    if (mode == 1) {
      const int x = i_start;
      int best = INT_MIN;
      for (int i = 0; i < 1000; i += channels) {
        const int idx = Mod(x - i, kSampleArraySize);
        const int a = sample(idx);
        const int b = sample(idx + 4 * channels);
        const int c = sample(idx + 5 * channels);
        const int d = sample(idx + 9 * channels);
        const int score = a - d;
        if (best < score && (b ^ c) < 0) {
          best = score;
          i_start = idx;
        }
      }
    }
    last_i_start = i_start;
  }

  TVideoSurface& surface = *p->FSurface;
  const QRgb white = qRgb(255, 255, 255);
  if (mode == 1) {
    surface.Paint([&](QImage& img) {
      const QRect area = QRect(xleft, ytop, w, h).intersected(img.rect());
      for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        std::fill(line + area.left(), line + area.left() + area.width(), qRgb(0, 0, 0));
      }
      auto bar = [&](int x, int y, int bw, int bh) {
        const QRect r = QRect(x, y, bw, bh).intersected(area);
        for (int yy = r.top(); yy <= r.bottom(); ++yy) {
          auto* line = reinterpret_cast<QRgb*>(img.scanLine(yy));
          std::fill(line + r.left(), line + r.left() + r.width(), white);
        }
      };
      const int ch_h = h / channels;
      const int h2 = (ch_h * 9) / 20;
      for (int ch = 0; ch < channels; ++ch) {
        int i = i_start + ch;
        const int y1 = ytop + ch * ch_h + ch_h / 2;
        for (int x = 0; x < w; ++x) {
          int y = (sample(i) * h2) >> 15;
          int ys = y1;
          if (y < 0) {
            y = -y;
            ys = y1 - y;
          }
          bar(xleft + x, ys, 1, y);
          i += channels;
        }
      }
      for (int ch = 1; ch < channels; ++ch) bar(xleft, ytop + ch * ch_h, w, 1);
    });
    surface.Update();
    return;
  }

  const int nb_display_channels = std::min(channels, 2);
  if (rdft_bits != nb_bits) {
    if (rdft) ff::av_rdft_end(rdft);
    rdft = ff::av_rdft_init(nb_bits, DFT_R2C);
    rdft_bits = nb_bits;
    const size_t bytes = sizeof(float) * 4 * static_cast<size_t>(nb_freq);
    rdft_data.reset(static_cast<float*>(ff::av_mallocz(bytes)));
  }
  if (!rdft || !rdft_data) return;
  for (int ch = 0; ch < nb_display_channels; ++ch) {
    float* data = rdft_data.get() + static_cast<size_t>(2) * nb_freq * ch;
    int i = i_start + ch;
    for (int x = 0; x < 2 * nb_freq; ++x) {
      const double wnd = (x - nb_freq) * (1.0 / nb_freq);
      data[x] = static_cast<float>(sample(i) * (1.0 - wnd * wnd));
      i += channels;
    }
    ff::av_rdft_calc(rdft, data);
  }
  const float* d0 = rdft_data.get();
  const float* d1 = nb_display_channels == 2 ? d0 + 2 * nb_freq : d0;
  const double wf = 1.0 / std::sqrt(static_cast<double>(nb_freq));
  if (xpos < xleft || xpos >= xleft + w) xpos = xleft;
  const int column = xpos;
  surface.Paint([&](QImage& img) {
    if (column < 0 || column >= img.width()) return;
    for (int y = 0; y < h && y < nb_freq; ++y) {
      const int row = ytop + h - 1 - y;
      if (row < 0 || row >= img.height()) continue;
      const int a = std::min(
          255, static_cast<int>(
                   std::sqrt(wf * std::sqrt(static_cast<double>(d0[2 * y]) * d0[2 * y] +
                                            static_cast<double>(d0[2 * y + 1]) * d0[2 * y + 1]))));
      const int b = std::min(
          255, static_cast<int>(
                   std::sqrt(wf * std::sqrt(static_cast<double>(d1[2 * y]) * d1[2 * y] +
                                            static_cast<double>(d1[2 * y + 1]) * d1[2 * y + 1]))));
      reinterpret_cast<QRgb*>(img.scanLine(row))[column] = qRgb(a, b, (a + b) / 2);
    }
  });
  surface.Update();
  if (++xpos >= xleft + w) xpos = xleft;
}

}  // namespace trelvix::player
