// The playback's state, the reader thread, opening and closing stream components, stream
// switching, the clocks, seeking and pausing.
#include <chrono>
#include <cmath>
#include <cstring>

#include "decoder/ff_decoder.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "player/ff_player.h"
#include "player/player_messages.h"
#include "player/video_state.h"
#include "runtime/format.h"

namespace trelvix::player {
namespace {

int DecodeInterruptCB(void* opaque) {
  return static_cast<TVideoState*>(opaque)->abort_request.load() == 1 ? 1 : 0;
}

bool IsCaptureDevice(const AVInputFormat* fmt) {
  if (!fmt) return false;
  if (fmt->priv_class) {
    const AVClassCategory c = fmt->priv_class->category;
    if (c >= AV_CLASS_CATEGORY_DEVICE_VIDEO_OUTPUT && c <= AV_CLASS_CATEGORY_DEVICE_INPUT)
      return true;
  }
  const std::string name = fmt->name ? fmt->name : "";
  return name == "vfwcap" || name == "vfwcapture";
}

}  // namespace

uint32_t PlaybackEventBase() {
  static const uint32_t base = [] {
    const Uint32 b = sdl::SDL_RegisterEvents(kEventCount);
    return b;
  }();
  return base;
}

TVideoState::TVideoState(TCustomPlayer* owner)
    : Owner(owner), sample_array(new std::atomic<int16_t>[kSampleArraySize]) {
  for (int i = 0; i < kSampleArraySize; ++i) sample_array[i] = 0;
  audio_buf1.resize(kAudioBufferSize);
  audio_buf2.resize(kAudioBufferSize);
}

TVideoState::~TVideoState() {
  // Every thread has been joined by StreamClose (or never started).
  parse_tid.Join();
  refresh_tid.Join();
  video_tid.Join();
  subtitle_tid.Join();
  for (TSubtitleSlot& s : subpq) FreeSubtitleSlot(s);
  if (rdft) ff::av_rdft_end(rdft);
  ff::av_channel_layout_uninit(&audio_src_layout);
}

void TVideoState::Report(const std::string& text, bool store) {
  Owner->ReportPlayerError(text, store);
}

bool TVideoState::PushEvent(TPlaybackEvent kind, int data1, int data2) {
  return Owner->PushEvent(serial, kind, data1, data2);
}

// ---------------------------------------------------------------------------------------------
// Opening

std::shared_ptr<TVideoState> TVideoState::StreamOpen(TCustomPlayer* player, const std::string& name,
                                                     const AVInputFormat* fmt, bool paused,
                                                     uint32_t serial) {
  std::shared_ptr<TVideoState> vs;
  try {
    vs = std::make_shared<TVideoState>(player);
  } catch (const std::bad_alloc&) {
    player->ReportPlayerError(msg::kAllocFailed, true);
    return nullptr;
  }
  vs->serial = serial;
  if (paused) {
    vs->paused = 1;
    vs->open_paused = 1;
    player->Fstep = false;
  }
  vs->filename = name;
  vs->iformat = fmt;
  vs->xleft = 0;
  vs->ytop = 0;
  vs->av_sync_type = player->Fav_sync_type;

  TVideoState* raw = vs.get();
  try {
    vs->parse_tid.Start(TThreadRole::kPlayback, [raw] { raw->ReaderThread(); });
  } catch (const std::system_error&) {
    player->ReportPlayerError(msg::kCreateThreadFailed, true);
    return nullptr;
  }
  // A source that does not open in time (a stalled network server or FIFO) is abandoned: the
  // interrupt callback makes the library's open and probing give up, and the reader fails.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(player->OpenTimeLimit());
  while (vs->Opened == 0) {
    if (!vs->OpenTimedOut && std::chrono::steady_clock::now() >= deadline) {
      vs->OpenTimedOut = true;
      vs->abort_request = 1;
    }
    ServiceMainThread(10);
  }
  if (vs->Opened == 1 && vs->OpenTimedOut) {  // opened just as the time ran out
    player->ReportPlayerError(
        runtime::Format(msg::kOpenTimedOut, name.c_str(), player->OpenTimeLimit() / 1000.0), true);
    vs->StreamClose();
    return nullptr;
  }
  if (vs->Opened == 1) {
    if (vs->video_stream < 0 && !player->Fdisplay_disable) vs->show_audio = player->FShowAudio;
    try {
      vs->refresh_tid.Start(TThreadRole::kPlayback, [raw] { raw->RefreshThread(); });
    } catch (const std::system_error&) {
      player->ReportPlayerError(msg::kCreateThreadFailed, true);
      vs->StreamClose();
      return nullptr;
    }
    return vs;
  }
  while (vs->Opened == -1) ServiceMainThread(10);
  vs->parse_tid.Join();
  vs.reset();
  player->ResetPlayState();
  return nullptr;
}

void TVideoState::ReaderThread() {
  const bool ok = ReaderOpen();
  if (ok) {
    Opened = 1;
    ReaderLoop();
    while (!abort_request) SleepMs(100);
  }
  ReaderCleanup(!ok);
}

bool TVideoState::ReaderOpen() {
  TCustomPlayer* p = Owner;
  lib_filename = media::LibFileName(filename);
  media::Dict opts;
  if (p->Fframe_width > 0 && p->Fframe_height > 0)
    ff::av_dict_set(&opts.raw, "video_size",
                    runtime::Format("%dx%d", p->Fframe_width, p->Fframe_height).c_str(), 0);
  if (p->Fframe_pix_fmt >= 0) {
    const char* pf = ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(p->Fframe_pix_fmt));
    if (pf) ff::av_dict_set(&opts.raw, "pixel_format", pf, 0);
  }
  // The interrupt callback is in place before the open, so that a source that stalls while it
  // is opened or probed can be abandoned (StreamOpen gives up after OpenTimeLimit).
  const AVIOInterruptCB interrupt{DecodeInterruptCB, this};
  int err = media::OpenInputFile(ic_owner, io, lib_filename, iformat, &opts.raw, &interrupt);
  if (err < 0) {
    Report(OpenTimedOut ? runtime::Format(msg::kOpenTimedOut, filename.c_str(),
                                          Owner->OpenTimeLimit() / 1000.0)
                        : media::LibErrorText(filename, err),
           true);
    return false;
  }
  ic = ic_owner.get();
  if (p->Fgenpts) ic->flags |= AVFMT_FLAG_GENPTS;
  {
    std::lock_guard g(media::CodecLock());
    err = ff::avformat_find_stream_info(ic, nullptr);
  }
  if (err < 0 || OpenTimedOut) {
    Report(OpenTimedOut ? runtime::Format(msg::kOpenTimedOut, filename.c_str(),
                                          Owner->OpenTimeLimit() / 1000.0)
                        : runtime::Format(msg::kNoCodecParameters, filename.c_str()),
           true);
    return false;
  }
  if (ic->pb) ic->pb->eof_reached = 0;
  if (p->Fseek_by_bytes < 0) p->Fseek_by_bytes = (ic->iformat->flags & AVFMT_TS_DISCONT) ? 1 : 0;

  IsImage2 = decoder::IsStillImageFormat(ic->iformat);
  IsDevice = IsCaptureDevice(ic->iformat);
  StartTime = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
  Duration = ic->duration != AV_NOPTS_VALUE ? ic->duration : -1;
  BitRate = ic->bit_rate;

  const int64_t start = p->Fstart_time;
  if (start != kNoTime) {
    int64_t timestamp = start;
    if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
    if (ff::avformat_seek_file(ic, -1, INT64_MIN, timestamp, INT64_MAX, 0) < 0)
      Report(runtime::Format(msg::kStartSeekFailed, filename.c_str(),
                             static_cast<double>(timestamp) / 1000000.0),
             false);
  }

  // Stream selection: the wanted n-th stream of a kind, else the library's best one.
  int chosen[AVMEDIA_TYPE_NB];
  int count[AVMEDIA_TYPE_NB];
  for (int t = 0; t < AVMEDIA_TYPE_NB; ++t) chosen[t] = -1, count[t] = 0;
  const bool video_off = p->Fvideo_disable || p->Fdisplay_disable;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    st->discard = AVDISCARD_ALL;
    const int type = st->codecpar->codec_type;
    if (type < 0 || type >= AVMEDIA_TYPE_ATTACHMENT) continue;
    const int n = count[type]++;
    const int wanted = p->Fwanted_stream[type + 1];
    if (wanted >= 0 && wanted == n && chosen[type] < 0) chosen[type] = static_cast<int>(i);
  }
  auto best = [&](AVMediaType type, int related) {
    if (chosen[type] >= 0) return chosen[type];
    if (p->Fwanted_stream[type + 1] >= 0) return -1;  // the wanted one does not exist
    const int r = ff::av_find_best_stream(ic, type, -1, related, nullptr, 0);
    return r >= 0 ? r : -1;
  };
  const int video_index = video_off ? -1 : best(AVMEDIA_TYPE_VIDEO, -1);
  const int audio_index = p->Faudio_disable ? -1 : best(AVMEDIA_TYPE_AUDIO, video_index);
  const int subtitle_index =
      video_off ? -1 : best(AVMEDIA_TYPE_SUBTITLE, audio_index >= 0 ? audio_index : video_index);

  if (audio_index >= 0) StreamComponentOpen(audio_index);
  int ret = -1;
  if (video_index >= 0) ret = StreamComponentOpen(video_index);
  if (ret < 0 && !p->Fdisplay_disable) show_audio = 2;
  if (subtitle_index >= 0) StreamComponentOpen(subtitle_index);

  if (video_stream < 0 && audio_stream < 0) {
    Report(runtime::Format(msg::kNoStreamToPlay, filename.c_str()), true);
    return false;
  }
  return true;
}

void TVideoState::ReaderLoop() {
  TCustomPlayer* p = Owner;
  media::PacketPtr pkt = media::MakePacket();
  while (!abort_request) {
    if (paused != last_paused) {
      last_paused = paused;
      if (last_paused)
        read_pause_return = ff::av_read_pause(ic);
      else
        ff::av_read_play(ic);
    }
    if (seek_req) {
      const int64_t target = seek_pos;
      const int64_t rel = seek_rel;
      const int flags = seek_flags;
      const int64_t seek_min = rel > 0 ? target - rel + 2 : INT64_MIN;
      const int64_t seek_max = rel < 0 ? target - rel - 2 : INT64_MAX;
      int ret;
      {
        std::lock_guard g(stream_lock);
        ret = ff::avformat_seek_file(ic, -1, seek_min, target, seek_max, flags);
        if (ret < 0) ret = ff::av_seek_frame(ic, -1, target, flags);
        if (ret < 0) ret = ff::av_seek_frame(ic, -1, target, flags ^ AVSEEK_FLAG_BACKWARD);
        if (ret >= 0) {
          const int serial = seek_serial + 1;
          seek_serial = serial;
          if (audio_stream >= 0) {
            audioq.Flush();
            audioq.PutFlush(serial);
          }
          if (subtitle_stream >= 0) {
            subtitleq.Flush();
            subtitleq.PutFlush(serial);
          }
          if (video_stream >= 0) {
            seek_flushed = 0;
            videoq.Flush();
            videoq.PutFlush(serial);
            p->FPictEvent.Reset();
          }
          read_pos = ic->pb ? ff::avio_seek(ic->pb, 0, SEEK_CUR) : -1;
        }
      }
      if (ret < 0) {
        Report(runtime::Format(msg::kSeekError, filename.c_str()), false);
        if (video_stream >= 0) p->FPictEvent.Set();
      }
      ErrorEOF = 0;
      ReachEOF = 0;
      EventEOF = 0;
      seek_done = 1;
      seek_req = 0;
      p->FSeekEvent.Set();
      if (video_stream < 0) p->FSeeking = false;
      eof = false;
    }

    // Enough queued?
    const int asize = audioq.Size(), vsize = videoq.Size(), ssize = subtitleq.Size();
    const bool audio_enough = audio_stream < 0 || asize > kMinAudioQueueSize;
    const bool video_enough = video_stream < 0 || videoq.Count() > kMinFrames;
    const bool subtitle_enough = subtitle_stream < 0 || subtitleq.Count() > kMinFrames;
    if (asize + vsize + ssize > kMaxQueueSize ||
        (audio_enough && video_enough && subtitle_enough)) {
      SleepMs(10);
      continue;
    }

    if (eof || (ic->pb && ff::avio_feof(ic->pb))) {
      // The video thread releases the picture waiters once it has given out its last picture.
      if (video_stream >= 0) videoq.PutEmpty(video_stream);
      SleepMs(10);
      if (audioq.Size() + videoq.Size() + subtitleq.Size() == 0) ReachEOF = 1;
      continue;
    }

    int ret;
    {
      std::lock_guard g(stream_lock);
      Reading = 1;
      ret = ff::av_read_frame(ic, pkt.get());
      Reading = 0;
      if (abort_request) break;
      if (ret >= 0) {
        read_pos = pkt->pos >= 0 ? pkt->pos + pkt->size
                                 : (ic->pb ? ff::avio_seek(ic->pb, 0, SEEK_CUR) : -1);
        media::PacketPtr owned = media::MakePacket();
        ff::av_packet_move_ref(owned.get(), pkt.get());
        if (owned->stream_index == audio_stream)
          audioq.Put(std::move(owned));
        else if (owned->stream_index == video_stream)
          videoq.Put(std::move(owned));
        else if (owned->stream_index == subtitle_stream)
          subtitleq.Put(std::move(owned));
        continue;
      }
    }
    if (ret == AVERROR(EAGAIN)) {
      SleepMs(10);
      continue;
    }
    const bool at_end = ret == AVERROR_EOF;
    if (video_stream >= 0 && !at_end) p->FPictEvent.Set();
    if (!IsImage2 && !ErrorEOF) {
      ErrorEOF = 1;
      if (at_end)
        media::TFFLogger::Post(p, media::llInfo, runtime::Format(msg::kReachEOF, filename.c_str()));
      else
        Report(runtime::Format(msg::kReadError, ret, filename.c_str()), false);
    }
    if (at_end) eof = true;
    if (ic->pb && ic->pb->error && !at_end) break;
    SleepMs(100);
  }
}

void TVideoState::ReaderCleanup(bool failed) {
  if (Opened != 1) Opened = -1;
  {
    std::lock_guard g(stream_lock);
    if (audio_stream >= 0) StreamComponentClose(audio_stream);
    if (video_stream >= 0) StreamComponentClose(video_stream);
    if (subtitle_stream >= 0) StreamComponentClose(subtitle_stream);
  }
  {
    std::lock_guard g(stream_lock);
    ic = nullptr;
    ic_owner.reset();
    io.reset();
  }
  if (failed) {
    PushEvent(kQuitEvent);
    Opened = -2;
  }
}

// ---------------------------------------------------------------------------------------------
// Stream components

int TVideoState::StreamComponentOpen(int index) {
  TCustomPlayer* p = Owner;
  if (!ic || index < 0 || index >= static_cast<int>(ic->nb_streams)) return -1;
  AVStream* st = ic->streams[index];
  const AVCodecParameters* par = st->codecpar;
  const AVCodec* codec = ff::avcodec_find_decoder(par->codec_id);
  media::CodecContextPtr ctx(ff::avcodec_alloc_context3(codec));
  if (!codec || !ctx || ff::avcodec_parameters_to_context(ctx.get(), par) < 0) {
    Report(msg::kCodecOpenFailed, false);
    return -1;
  }
  ctx->pkt_timebase = st->time_base;
  ctx->debug = p->Fdebug;
  ctx->workaround_bugs = p->Fworkaround_bugs;
  if (p->Flowres > 0) ctx->lowres = std::min(p->Flowres, static_cast<int>(codec->max_lowres));
  ctx->idct_algo = p->Fidct_algo;
  if (p->Ffast) ctx->flags2 |= AV_CODEC_FLAG2_FAST;
  ctx->skip_frame = static_cast<AVDiscard>(p->Fskip_frame);
  ctx->skip_idct = static_cast<AVDiscard>(p->Fskip_idct);
  ctx->skip_loop_filter = static_cast<AVDiscard>(p->Fskip_loop_filter);
  if (p->Ferror_recognition != 1) ctx->err_recognition = p->Ferror_recognition;
  ctx->error_concealment = p->Ferror_concealment;
  ctx->thread_count = 1;
  int ret;
  {
    std::lock_guard g(media::CodecLock());
    ret = ff::avcodec_open2(ctx.get(), codec, nullptr);
  }
  if (ret < 0) {
    Report(msg::kCodecOpenFailed, false);
    return -1;
  }
  if (ctx->codec_type == AVMEDIA_TYPE_AUDIO) {
    std::string error;
    if (AudioOpen(ctx.get(), error) < 0) {
      Report(msg::kAudioOpenFailed + error, false);
      std::lock_guard g(media::CodecLock());
      ctx.reset();
      return -1;
    }
  }
  st->discard = AVDISCARD_DEFAULT;
  switch (ctx->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      audio_st = st;
      audio_ctx = std::move(ctx);
      AudioDuration = st->duration != AV_NOPTS_VALUE
                          ? ff::av_rescale_q(st->duration, st->time_base, AVRational{1, 1000000})
                          : -1;
      audio_buf_size = 0;
      audio_buf_index = 0;
      audio_diff_avg_coef = std::exp(std::log(0.01) / kAudioDiffAvgNb);
      audio_diff_avg_count = 0;
      audio_diff_cum = 0;
      audio_diff_threshold = 2.0 * kSDLAudioBufferSamples / audio_rate;
      audio_need_packet = true;
      audioq.Init(seek_serial);
      audio_stream = index;
      sdl::SDL_PauseAudioDevice(audio_dev, 0);
      break;
    case AVMEDIA_TYPE_VIDEO: {
      video_st = st;
      VideoWidth = par->width > 0 ? par->width : -1;
      VideoHeight = par->width > 0 ? par->height : -1;
      video_frame_rate = ff::av_guess_frame_rate(ic, st, nullptr);
      video_ctx = std::move(ctx);
      videoq.Init(seek_serial);
      video_stream = index;
      try {
        video_tid.Start(TThreadRole::kPlayback, [this] { VideoThread(); });
      } catch (const std::system_error&) {
        Report(msg::kCreateThreadFailed, false);
      }
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      subtitle_st = st;
      subtitle_ctx = std::move(ctx);
      subtitleq.Init(seek_serial);
      subtitle_stream = index;
      try {
        subtitle_tid.Start(TThreadRole::kPlayback, [this] { SubtitleThread(); });
      } catch (const std::system_error&) {
        Report(msg::kCreateThreadFailed, false);
      }
      break;
    default:
      break;
  }
  return 0;
}

void TVideoState::StreamComponentClose(int index) {
  if (!ic || index < 0 || index >= static_cast<int>(ic->nb_streams)) return;
  AVStream* st = ic->streams[index];
  switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      videoq.Abort();
      {
        std::lock_guard g(pictq_mutex);
        pictq_cond.notify_all();
      }
      video_tid.Join();
      videoq.End();
      break;
    case AVMEDIA_TYPE_AUDIO:
      audioq.Abort();
      if (audio_dev) sdl::SDL_CloseAudioDevice(audio_dev);
      audio_dev = 0;
      audioq.End();
      reformat_ctx.reset();
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      subtitleq.Abort();
      {
        std::lock_guard g(subpq_mutex);
        subtitle_stream_changed = 1;
        subpq_cond.notify_all();
      }
      subtitle_tid.Join();
      subtitleq.End();
      break;
    default:
      break;
  }
  st->discard = AVDISCARD_ALL;
  std::lock_guard g(media::CodecLock());
  switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      audio_ctx.reset();
      audio_st = nullptr;
      audio_stream = -1;
      AudioDuration = -1;
      break;
    case AVMEDIA_TYPE_VIDEO:
      video_ctx.reset();
      graph.reset();
      in_video_filter = out_video_filter = nullptr;
      video_st = nullptr;
      video_stream = -1;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      subtitle_ctx.reset();
      subtitle_st = nullptr;
      subtitle_stream = -1;
      break;
    default:
      break;
  }
}

bool TVideoState::SwitchStream(int type, int index) {
  std::unique_lock lock(stream_lock);
  const int current = type == kMediaTypeVideo   ? video_stream.load()
                      : type == kMediaTypeAudio ? audio_stream.load()
                                                : subtitle_stream.load();
  if (type == kMediaTypeSubtitle) {
    if (current < -1) return Report(msg::kCurrentStreamInvalid, true), false;
    if (index < -1) return Report(msg::kStreamIndexInvalid, true), false;
  } else {
    if (current < 0) return Report(msg::kCurrentStreamInvalid, true), false;
    if (index < 0) return Report(msg::kStreamIndexInvalid, true), false;
  }
  if (!ic || index >= static_cast<int>(ic->nb_streams))
    return Report(msg::kStreamIndexInvalid, true), false;
  if (index == current) return true;
  if (index >= 0) {
    const AVCodecParameters* par = ic->streams[index]->codecpar;
    if (type != kMediaTypeVideo && type != kMediaTypeAudio && type != kMediaTypeSubtitle)
      return Report(msg::kStreamTypeInvalid, true), false;
    if (par->codec_type != type) return Report(msg::kStreamTypeNotMatched, true), false;
    if (type == kMediaTypeAudio && (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0))
      return Report(msg::kAudioStreamInvalid, true), false;
  }
  lock.unlock();
  // The play thread closes and opens the components, so that no codec or audio device is closed
  // on a thread that a playback thread may be waiting for.
  {
    std::lock_guard g(switch_mutex);
    switch_type = type;
    switch_index = index;
    switch_current = current;
    switch_pending = true;
  }
  if (CurrentThreadRole() == TThreadRole::kPlay) {
    DoSwitchStream();
    return true;
  }
  if (!PushEvent(kSwitchEvent)) return false;
  for (;;) {
    {
      std::lock_guard g(switch_mutex);
      if (!switch_pending) break;
    }
    if (abort_request) break;
    ServiceMainThread(5);
  }
  return true;
}

void TVideoState::DoSwitchStream() {
  int current, index;
  {
    std::lock_guard g(switch_mutex);
    if (!switch_pending) return;
    current = switch_current;
    index = switch_index;
  }
  {
    std::lock_guard g(stream_lock);
    if (current >= 0) StreamComponentClose(current);
    if (index >= 0) StreamComponentOpen(index);
  }
  std::lock_guard g(switch_mutex);
  switch_pending = false;
  switch_cond.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Clocks

double TVideoState::AudioClock() const {
  double pts = audio_clock;
  const int bytes_per_sec = audio_rate * 2 * audio_channels;
  const int hw_buf = audio_buf_size - audio_buf_index;
  if (bytes_per_sec) pts -= static_cast<double>(hw_buf) / bytes_per_sec;
  return pts;
}

double TVideoState::VideoClock() const {
  if (paused) return video_current_pts;
  const double drift = video_current_pts_drift;
  if (drift != 0) return drift + NowSeconds();
  return static_cast<double>(StartTime) / 1000000.0;
}

double TVideoState::ExternalClock() const {
  return external_clock + static_cast<double>(NowMicros() - external_clock_time) * 0.000001;
}

int TVideoState::MasterSyncType() const {
  const int t = av_sync_type;
  if (t == AV_SYNC_VIDEO_MASTER)
    return video_stream >= 0 ? AV_SYNC_VIDEO_MASTER : AV_SYNC_AUDIO_MASTER;
  if (t == AV_SYNC_AUDIO_MASTER)
    return audio_stream >= 0 ? AV_SYNC_AUDIO_MASTER : AV_SYNC_VIDEO_MASTER;
  return AV_SYNC_EXTERNAL_CLOCK;
}

double TVideoState::MasterClock() const {
  switch (MasterSyncType()) {
    case AV_SYNC_VIDEO_MASTER:
      return VideoClock();
    case AV_SYNC_AUDIO_MASTER:
      return AudioClock();
    default:
      return ExternalClock();
  }
}

// ---------------------------------------------------------------------------------------------
// Seeking, pausing, closing

void TVideoState::RequestSeek(int flags, bool wait, int64_t rel, int64_t pos) {
  {
    std::lock_guard g(seek_mutex);
    if (seek_req) return;
    Owner->FSeeking = true;
    seek_paused = paused.load();
    seek_pos = pos;
    seek_rel = rel;
    seek_flags =
        flags & (AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE | AVSEEK_FLAG_ANY | AVSEEK_FLAG_FRAME);
    Owner->FSeekEvent.Reset();
    seek_req = 1;
  }
  if (wait) {
    while (!Owner->FSeekEvent.Wait(100)) {
      ServiceMainThread(0);
      if (abort_request) return;
    }
    if (video_stream >= 0)
      while (!Owner->FPictEvent.Wait(100)) {
        ServiceMainThread(0);
        if (abort_request) return;
      }
  }
}

void TVideoState::TogglePausePlayback() {
  if (!Owner->FSeekEvent.Wait(250)) Owner->FSeekEvent.Set();
  if (abort_request || !Owner->Playing()) return;
  if (paused) {
    const double now = NowSeconds();
    {
      std::lock_guard g(pictq_mutex);
      frame_timer = frame_timer + now + video_current_pts_drift - video_current_pts;
    }
    if (read_pause_return != AVERROR(ENOSYS)) video_current_pts = video_current_pts_drift + now;
    video_current_pts_drift = video_current_pts - now;
    paused = 0;
  } else {
    if (video_stream >= 0) {
      if (!Owner->FPictEvent.Wait(250)) Owner->FPictEvent.Set();
      if (abort_request || !Owner->Playing()) return;
    }
    paused = 1;
  }
}

void TVideoState::StreamClose() {
  abort_request = 1;
  parse_tid.Join();
  refresh_tid.Join();
  std::lock_guard g(pictq_mutex);
  for (TPictureSlot& s : pictq) s.Overlay.reset();
}

}  // namespace trelvix::player
