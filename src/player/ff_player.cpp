// The player component: options, opening and stopping, control calls, the event ring and event
// thread, the play thread with its event loop, position updates and the hooks.
#include "player/ff_player.h"

#include <atomic>
#include <cmath>
#include <cstdlib>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "decoder/rgb_convert.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "player/host_binding.h"
#include "player/player_messages.h"
#include "player/video_state.h"
#include "runtime/bitmap.h"
#include "runtime/format.h"
#include "runtime/main_thread.h"

namespace trelvix::player {
namespace {

// Playback numbers are unique in the process, not per player: SDL's event queue is shared by
// every player, and an event a closed player left behind (an allocation request, say) must never
// be taken for one of a later playback of another player.
uint32_t NextPlaybackSerial() {
  static std::atomic<uint32_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

TCustomPlayer::TCustomPlayer()
    : TFFBaseComponent(msg::kVersion),
      FSurface(std::make_shared<TVideoSurface>()),
      FDecoder(std::make_unique<decoder::TFFDecoder>()) {
  InitOptions();
}

TCustomPlayer::~TCustomPlayer() {
  {
    std::lock_guard g(FHandlerLock);
    FOnAudioHook = nullptr;
    FOnVideoHook = nullptr;
    FOnPosition = nullptr;
    FOnPlayState = nullptr;
  }
  Stop(true);
  EndEventThread(true);
  FPlayThread.Join();
  FSurface->SetOnUpdate(nullptr);
  FHostBinding.reset();
  {
    std::lock_guard g(FHookLock);
    FHookContext.reset();
  }
  {
    std::lock_guard g(FRGBLock);
    FRGBContext.reset();
  }
}

// ---------------------------------------------------------------------------------------------
// Options

void TCustomPlayer::InitOptions() {
  Fsws_flags = SWS_BICUBIC;
  Ffile_iformat = nullptr;
  Fvfilters.clear();
  Fworkaround_bugs = 1;
  Ferror_recognition = 1;
  Ferror_concealment = 3;
  Fdecoder_reorder_pts = -1;
  Fframedrop = 1;
  Frdftspeed = 20;
  ResetPlayState();
}

void TCustomPlayer::ResetPlayState() {
  FSurface->Reset();
  FSurface->Update();
  FLastPTS = kNoTime;
  FCurrentPTS = -1;
  {
    std::lock_guard g(FPositionLock);
    FMaxPTS = kNoTime;
    FMaxPTSSerial = -1;
  }
  Fstep = false;
  for (auto& w : Fwanted_stream) w = -1;
  Fseek_by_bytes = -1;
  Fstart_time = kNoTime;
  FPlayTime = kNoTime;
  FRepeatType = rtStop;
  FVerticalFlip = false;
  FSeekEvent.Set();
  FSeeking = false;
}

bool TCustomPlayer::LoadAVLib(const std::string& APath) {
  media::FFLoader().SetLibraryPath(APath);
  if (media::FFLoader().Load(media::kPlayerLibraries)) return true;
  std::lock_guard g(FInfoLock);
  FLastErrMsg = media::FFLoader().LastErrMsg();
  return false;
}

bool TCustomPlayer::AVLibLoaded() const {
  return media::FFLoader().Loaded(media::kPlayerLibraries);
}

void TCustomPlayer::UnloadAVLib() {
  Stop(true);
  media::FFLoader().Unload(media::kPlayerLibraries);
}

void TCustomPlayer::SetAspectRatio(float AValue) {
  if (FAspectRatio == AValue) return;
  FAspectRatio = AValue;
  if (auto vs = State()) vs->PushEvent(kReopenEvent);
}

void TCustomPlayer::SetShowAudio(TShowAudio AValue) {
  FShowAudio = AValue;
  auto vs = State();
  if (vs && vs->audio_stream >= 0 && !Fdisplay_disable) vs->show_audio = static_cast<int>(AValue);
}

void TCustomPlayer::SetVideoHookBitsPixel(int AValue) {
  if (FVideoHookBitsPixel == AValue) return;
  FVideoHookBitsPixel = AValue;
  {
    std::lock_guard g(FRGBLock);
    if (FRGBContext) FRGBContext->ResetRGBContext(AValue);
  }
  std::lock_guard g(FHookLock);
  if (FHookContext) FHookContext->ResetRGBContext(AValue);
}

std::string TCustomPlayer::ForceFormat() const {
  return Ffile_iformat && Ffile_iformat->name ? Ffile_iformat->name : "";
}

void TCustomPlayer::SetForceFormat(const std::string& AValue) {
  if (!media::FFLoader().Loaded(media::avFormat)) {
    ReportPlayerError(msg::kLibrariesNotLoaded, true);
    return;
  }
  if (AValue.empty()) {
    Ffile_iformat = nullptr;
    return;
  }
  const AVInputFormat* fmt = ff::av_find_input_format(AValue.c_str());
  if (!fmt) throw std::invalid_argument(runtime::Format(msg::kUnknownInputFormat, AValue.c_str()));
  Ffile_iformat = fmt;
}

int TCustomPlayer::AudioStreamIndex() const {
  auto vs = State();
  return vs ? vs->audio_stream.load() : -1;
}
int TCustomPlayer::VideoStreamIndex() const {
  auto vs = State();
  return vs ? vs->video_stream.load() : -1;
}
int TCustomPlayer::SubtitleStreamIndex() const {
  auto vs = State();
  return vs ? vs->subtitle_stream.load() : -1;
}
void TCustomPlayer::SetAudioStreamIndex(int AValue) {
  if (auto vs = State()) vs->SwitchStream(kMediaTypeAudio, AValue);
}
void TCustomPlayer::SetVideoStreamIndex(int AValue) {
  if (auto vs = State()) vs->SwitchStream(kMediaTypeVideo, AValue);
}
void TCustomPlayer::SetSubtitleStreamIndex(int AValue) {
  if (auto vs = State()) vs->SwitchStream(kMediaTypeSubtitle, AValue);
}

std::string TCustomPlayer::FileName() const {
  std::lock_guard g(FInfoLock);
  return Finput_filename;
}

std::string TCustomPlayer::LastErrMsg() const {
  std::lock_guard g(FInfoLock);
  return FLastErrMsg;
}

bool TCustomPlayer::Paused() const {
  auto vs = State();
  return !vs || vs->paused;
}

bool TCustomPlayer::Playing() const {
  return State() != nullptr;
}

std::shared_ptr<TVideoState> TCustomPlayer::State() const {
  std::lock_guard g(FStateLock);
  return FVideoState;
}

void TCustomPlayer::SetOnFileOpen(TFileOpenEvent fn) {
  std::lock_guard g(FHandlerLock);
  FOnFileOpen = std::move(fn);
}
void TCustomPlayer::SetOnPosition(TPositionEvent fn) {
  std::lock_guard g(FHandlerLock);
  FOnPosition = std::move(fn);
}
void TCustomPlayer::SetOnState(TPlayStateEvent fn) {
  std::lock_guard g(FHandlerLock);
  FOnPlayState = std::move(fn);
}
void TCustomPlayer::SetOnVideoHook(TVideoHookEvent fn) {
  std::lock_guard g(FHandlerLock);
  FOnVideoHook = std::move(fn);
}
void TCustomPlayer::SetOnAudioHook(TAudioHookEvent fn) {
  std::lock_guard g(FHandlerLock);
  FOnAudioHook = std::move(fn);
}

void TCustomPlayer::ReportPlayerError(const std::string& msg, bool store) {
  media::TFFLogger::Post(this, media::llError, msg);
  if (store) {
    std::lock_guard g(FInfoLock);
    FLastErrMsg = msg;
  }
}

// ---------------------------------------------------------------------------------------------
// SDL

bool TCustomPlayer::InitSDL(QWidget* host) {
  std::string error;
  {
    std::lock_guard g(FSdlLock);
    if (FSdlActive) return true;
    sdl::SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl::SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) {
      error = sdl::SDL_GetError();
    } else {
      FSdlActive = true;
      FSdlAudio = false;
      FSdlAudioError.clear();
      if (!Faudio_disable) {
        // Without a sound device the pictures still play: the audio stream then reports
        // that the device cannot be opened.
        if (sdl::SDL_InitSubSystem(SDL_INIT_AUDIO) == 0)
          FSdlAudio = true;
        else
          FSdlAudioError = sdl::SDL_GetError();
      }
    }
  }
  if (!FSdlActive) {
    const auto handle = static_cast<unsigned>(reinterpret_cast<uintptr_t>(host));
    ReportPlayerError(runtime::Format(msg::kSDLInitFailed, handle, error.c_str()), true);
    return false;
  }
  PlaybackEventBase();
  if (host) {
    const char* audio = FSdlAudio ? sdl::SDL_GetCurrentAudioDriver() : nullptr;
    if (audio) ff::av_log(nullptr, AV_LOG_DEBUG, msg::kUsingAudioDriver, audio);
    const QString video = QGuiApplication::platformName();
    if (!video.isEmpty())
      ff::av_log(nullptr, AV_LOG_DEBUG, msg::kUsingVideoDriver, video.toUtf8().constData());
  }
  return true;
}

void TCustomPlayer::QuitSDL() {
  std::lock_guard g(FSdlLock);
  if (!FSdlActive) return;
  sdl::SDL_QuitSubSystem(SDL_INIT_EVENTS | (FSdlAudio ? SDL_INIT_AUDIO : 0));
  FSdlActive = false;
  FSdlAudio = false;
}

bool TCustomPlayer::PushEvent(uint32_t serial, int kind, int data1, int data2) {
  const uint32_t base = PlaybackEventBase();
  if (base == static_cast<uint32_t>(-1)) return false;
  std::lock_guard g(FSdlLock);
  if (!FSdlActive) return false;
  SDL_Event ev{};
  ev.type = base + static_cast<uint32_t>(kind);
  ev.user.code = static_cast<Sint32>(serial);
  ev.user.data1 = reinterpret_cast<void*>(static_cast<intptr_t>(data1));
  ev.user.data2 = reinterpret_cast<void*>(static_cast<intptr_t>(data2));
  return sdl::SDL_PushEvent(&ev) == 1;
}

// ---------------------------------------------------------------------------------------------
// Open and stop

bool TCustomPlayer::Open(const std::string& AFileName, QWidget* AScreenHandle, bool APaused) {
  if (!AVLibLoaded()) {
    ReportPlayerError(msg::kLibrariesNotLoaded, true);
    return false;
  }
  Stop(true);
  EndEventThread(true);
  FPlayThread.Join();
  FSurface->SetOnUpdate(nullptr);
  FHostBinding.reset();
  FScreenHandle = nullptr;

  // Only a non-default choice is set, so that an outer setting survives.
  if (FAudioDriver == adDirectSound)
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
  else if (FAudioDriver == adWaveOut)
    setenv("SDL_AUDIODRIVER", "alsa", 1);
  if (!InitSDL(AScreenHandle)) return false;
  if (!Fdisplay_disable) {
    QScreen* screen = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                          ? QGuiApplication::primaryScreen()
                          : nullptr;
    if (screen) {
      Ffs_screen_width = screen->size().width();
      Ffs_screen_height = screen->size().height();
    }
  }

  FSerial = NextPlaybackSerial();
  FStopEvent.Reset();
  FPlayEvent.Clear();
  std::shared_ptr<TVideoState> vs =
      TVideoState::StreamOpen(this, AFileName, Ffile_iformat, APaused, FSerial);
  if (!vs) {
    QuitSDL();
    FStopEvent.Set();
    return false;
  }
  {
    std::lock_guard g(FStateLock);
    FVideoState = vs;
  }
  {
    std::lock_guard g(FInfoLock);
    Finput_filename = AFileName;
  }
  FScreenHandle = AScreenHandle;
  if (AScreenHandle) {
    const uint32_t serial = FSerial;
    FHostBinding = std::make_unique<THostBinding>(
        AScreenHandle, FSurface,
        [this, serial](int w, int h) { PushEvent(serial, kResizeEvent, w, h); },
        [this, serial] { PushEvent(serial, kExposeEvent); });
    THostBinding* binding = FHostBinding.get();
    FSurface->SetOnUpdate([binding] { binding->RequestRepaint(); });
  }
  FDecoder->SetFileHandle(vs->ic);
  if (FTriggerEventInMainThread)
    runtime::CallInMainThread([this] { DoFileOpen(); });
  else
    DoFileOpen();
  StartThreads();
  return true;
}

void TCustomPlayer::DoFileOpen() {
  const int bits = FVideoHookBitsPixel;
  {
    std::lock_guard g(FRGBLock);
    if (FRGBContext) FRGBContext->ResetRGBContext(bits);
  }
  {
    std::lock_guard g(FHookLock);
    if (FHookContext) FHookContext->ResetRGBContext(bits);
  }
  TFileOpenEvent handler;
  {
    std::lock_guard g(FHandlerLock);
    handler = FOnFileOpen;
  }
  auto vs = State();
  if (handler && vs) {
    const int64_t duration = vs->IsImage2 ? 0 : vs->Duration;
    const bool video = vs->video_stream >= 0 && vs->VideoWidth > 0;
    int sw = Fscreen_width, sh = Fscreen_height;
    handler(this, duration, video ? vs->VideoWidth : -1, video ? vs->VideoHeight : -1, sw, sh);
    Fscreen_width = sw;
    Fscreen_height = sh;
  }
  if (FScreenHandle && (Fscreen_width == 0 || Fscreen_height == 0)) {
    Fscreen_width = FScreenHandle->width();
    Fscreen_height = FScreenHandle->height();
  }
}

void TCustomPlayer::StartThreads() {
  FEventThreadTerminated = false;
  try {
    FEventThread.Start(TThreadRole::kEvent, [this] { EventThreadExecute(); });
    FPlayThread.Start(TThreadRole::kPlay, [this] { PlayThreadExecute(); });
  } catch (const std::system_error&) {
    ReportPlayerError(msg::kCreateThreadFailed, true);
    std::lock_guard g(FDataLock);
    ClosePlayback(true);
    FStopEvent.Set();
  }
}

void TCustomPlayer::Stop(bool AWaitForStop) {
  const TThreadRole role = CurrentThreadRole();
  // A playback thread cannot wait for the playback to end (it is part of it).
  const bool wait = AWaitForStop && role != TThreadRole::kPlay && role != TThreadRole::kPlayback;
  if (auto vs = State()) {
    Fstep = false;
    vs->PushEvent(kQuitEvent);
    if (wait) WaitForStop();
  }
  if (wait) {
    JoinPlayThread();
    QuitSDL();
    // The host is told psStop before Stop returns, unless it is stopping from a handler.
    if (role != TThreadRole::kEvent && !FDelivering) EndEventThread(false);
  }
}

void TCustomPlayer::WaitForStop() {
  for (int i = 1;;) {
    if (FStopEvent.Wait(100)) return;
    ServiceMainThread(0);
    if (!State()) return;
    std::unique_lock g(FDataLock, std::defer_lock);
    if (!TryLockFor(g, 100)) continue;
    ++i;
    auto vs = State();
    if (!vs) return;
    if (i <= 20 && (i <= 10 || !vs->Reading)) {
      vs->PushEvent(kQuitEvent);
      continue;
    }
    // The loop does not answer: close from here; the play thread leaves when it next looks.
    ClosePlayback(false);
    return;
  }
}

void TCustomPlayer::JoinPlayThread() {
  if (!FPlayThread.Joinable() || FPlayThread.IsCurrent()) return;
  FPlayThread.Join();
}

void TCustomPlayer::EndEventThread(bool terminate) {
  if (!FEventThread.Joinable() || FEventThread.IsCurrent()) return;
  if (terminate) {
    FEventThreadTerminated = true;
    FPlayEvent.Event().Set();
  }
  FEventThread.Join();
}

void TCustomPlayer::ClosePlayback(bool quit_sdl) {
  if (auto vs = State()) {
    if (FHostBinding) FHostBinding->SetActive(false);
    FDecoder->SetFileHandle(nullptr);
    vs->StreamClose();
    {
      std::lock_guard g(FStateLock);
      FVideoState.reset();
    }
    ResetPlayState();
  }
  if (quit_sdl) QuitSDL();
}

// ---------------------------------------------------------------------------------------------
// Threads

void TCustomPlayer::PlayThreadExecute() {
  SetPlayState(psPlay);
  try {
    RunEventLoop();
  } catch (const std::exception& e) {
    media::TFFLogger::Post(this, media::llFatal, std::string(msg::kPlayThreadException) + e.what());
    std::lock_guard g(FDataLock);
    ClosePlayback(true);
  }
  SetPlayState(psStop);
  FStopEvent.Set();
}

void TCustomPlayer::RunEventLoop() {
  const uint32_t base = PlaybackEventBase();
  for (;;) {
    SDL_Event ev{};
    const bool got = sdl::SDL_WaitEventTimeout(&ev, 100) == 1;
    std::unique_lock g(FDataLock);
    auto vs = State();
    if (!vs) break;
    if (!got) continue;
    if (ev.type == SDL_QUIT) {
      ClosePlayback(true);
      return;
    }
    if (ev.type < base || ev.type >= base + kEventCount) continue;
    if (static_cast<uint32_t>(ev.user.code) != vs->serial) continue;
    const int kind = static_cast<int>(ev.type - base);
    const int d1 = static_cast<int>(reinterpret_cast<intptr_t>(ev.user.data1));
    const int d2 = static_cast<int>(reinterpret_cast<intptr_t>(ev.user.data2));
    if (!HandleEvent(*vs, kind, d1, d2)) return;
  }
  QuitSDL();
}

bool TCustomPlayer::HandleEvent(TVideoState& vs, int kind, int data1, int data2) {
  switch (kind) {
    case kQuitEvent:
      ClosePlayback(true);
      return false;
    case kResizeEvent:
      vs.Resize(data1, data2);
      break;
    case kExposeEvent:
      vs.RefreshVideo(false);
      break;
    case kAllocEvent:
      vs.AllocatePicture();
      break;
    case kRefreshEvent:
      vs.RefreshVideo(true);
      vs.refresh = 0;
      break;
    case kReopenEvent:
      vs.OpenSurface(true);
      vs.DisplayCurrent();
      break;
    case kSwitchEvent:
      vs.DoSwitchStream();
      break;
    default:
      break;
  }
  return true;
}

void TCustomPlayer::EventThreadExecute() {
  auto deliver = [this](const std::function<void()>& fn) {
    const std::function<void()> run = [&] {
      FDelivering = true;
      fn();
      FDelivering = false;
    };
    try {
      if (FTriggerEventInMainThread)
        runtime::CallInMainThread(run);
      else
        run();
    } catch (const std::exception& e) {
      FDelivering = false;
      media::TFFLogger::Post(this, media::llError, e.what());
    }
  };
  while (!FEventThreadTerminated) {
    const TPlayEventItem item = FPlayEvent.Pop();
    if (item.Kind == pekPosition) {
      TPositionEvent h;
      {
        std::lock_guard g(FHandlerLock);
        h = FOnPosition;
      }
      const int64_t pts = item.Value;
      if (h) deliver([&] { h(this, pts); });
    } else if (item.Kind == pekState) {
      const auto s = static_cast<TPlayState>(item.Value);
      TPlayStateEvent h;
      {
        std::lock_guard g(FHandlerLock);
        h = FOnPlayState;
      }
      if (h) deliver([&] { h(this, s); });
      if (s == psStop) break;
    } else if (item.Kind == pekQuit) {
      break;
    } else {
      while (!FEventThreadTerminated && !FPlayEvent.Event().Wait(100)) {
      }
    }
  }
}

void TCustomPlayer::SetPlayState(TPlayState s) {
  FState = s;
  bool assigned;
  {
    std::lock_guard g(FHandlerLock);
    assigned = static_cast<bool>(FOnPlayState);
  }
  if (assigned)
    PostPlayEvent(pekState, s);
  else if (s == psStop)
    PostPlayEvent(pekQuit, 0);
}

void TCustomPlayer::PostPlayEvent(int32_t kind, int64_t value) {
  FPlayEvent.Post({kind, value});
}

// ---------------------------------------------------------------------------------------------
// Control

void TCustomPlayer::Pause() {
  auto vs = State();
  if (!vs || vs->paused) return;
  vs->TogglePausePlayback();
  Fstep = false;
  SetPlayState(psPause);
}

void TCustomPlayer::Resume() {
  auto vs = State();
  if (!vs || !vs->paused) return;
  vs->TogglePausePlayback();
  Fstep = false;
  SetPlayState(psResume);
}

void TCustomPlayer::TogglePause() {
  auto vs = State();
  if (!vs) return;
  vs->TogglePausePlayback();
  Fstep = false;
  SetPlayState(vs->paused ? psPause : psResume);
}

void TCustomPlayer::StepToNextFrame() {
  auto vs = State();
  if (!vs) return;
  if (vs->paused) vs->TogglePausePlayback();
  if (!Fstep) {
    Fstep = true;
    SetPlayState(psStep);
  }
}

void TCustomPlayer::ToggleAudioDisplay() {
  auto vs = State();
  if (!vs) return;
  vs->show_audio = (vs->show_audio + 1) % 3;
  vs->FillDisplayBlack();
}

void TCustomPlayer::Seek(int64_t APTS, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  auto vs = State();
  if (!vs) return;
  if (ASeekFlags & sfByte) {
    vs->RequestSeek(static_cast<int>(ASeekFlags), AWaitForSeekEnd, 0, APTS);
    return;
  }
  int64_t target = APTS;
  if (vs->Duration > 0 && APTS > vs->Duration) target = vs->Duration;
  target += vs->StartTime;
  vs->RequestSeek(static_cast<int>(ASeekFlags), AWaitForSeekEnd, APTS <= 0 ? 1 : 0, target);
}

void TCustomPlayer::Seek(double ADelta, TSeekFlags ASeekFlags, bool AWaitForSeekEnd) {
  auto vs = State();
  if (!vs) return;
  if (ASeekFlags & sfByte) {
    const double inc =
        vs->BitRate > 0 ? ADelta * static_cast<double>(vs->BitRate) / 8.0 : ADelta * 180000.0;
    const int64_t target = std::llround(static_cast<double>(vs->read_pos.load()) + inc);
    vs->RequestSeek(static_cast<int>(ASeekFlags), AWaitForSeekEnd, std::llround(inc), target);
    return;
  }
  const double pos = vs->MasterClock();
  vs->RequestSeek(static_cast<int>(ASeekFlags), AWaitForSeekEnd, std::llround(ADelta * 1000000.0),
                  std::llround((pos + ADelta) * 1000000.0));
}

runtime::TBitmap* TCustomPlayer::CurrentFrame() {
  int64_t pts;
  return CurrentFrame(pts);
}

runtime::TBitmap* TCustomPlayer::CurrentFrame(int64_t& APTS) {
  std::lock_guard g(FRGBLock);
  const int bits = FVideoHookBitsPixel;
  if (!FRGBContext) FRGBContext = std::make_unique<decoder::TRGBConvertContext>(bits);
  if (!FCurrentBitmap) FCurrentBitmap = std::make_unique<runtime::TBitmap>();
  runtime::TBitmap& bmp = *FCurrentBitmap;
  auto vs = State();
  APTS = -1;
  if (bmp.PixelFormat() != runtime::PixelFormatForBits(bits))
    bmp.SetPixelFormat(runtime::PixelFormatForBits(bits));
  const bool video = vs && vs->video_stream >= 0 && vs->VideoWidth > 0;
  bmp.SetSize(video ? vs->VideoWidth : 0, video ? vs->VideoHeight : 0);
  if (!bmp.Empty()) {
    bmp.Canvas().Brush().color = runtime::clBlack;
    bmp.Canvas().Brush().style = runtime::TBrushStyle::bsSolid;
    bmp.Canvas().FillRect({0, 0, bmp.Width(), bmp.Height()});
  }
  if (!video) return &bmp;
  // The picture on screen; right after a seek, the first picture of the new position even
  // before the display has shown it.
  media::FramePtr frame;
  double pts = 0;
  const int serial = vs->seek_serial;
  {
    std::lock_guard sg(vs->shown_mutex);
    if (vs->shown.Valid && vs->shown.Frame && vs->shown.Serial == serial) {
      frame.reset(ff::av_frame_clone(vs->shown.Frame.get()));
      pts = vs->shown.PTS;
    }
  }
  if (!frame) {
    std::lock_guard pg(vs->pictq_mutex);
    for (int i = 0; i < vs->pictq_size && !frame; ++i) {
      TPictureSlot& s = vs->pictq[(vs->pictq_rindex + i) % kPictureQueueSize];
      if (s.Serial == serial && s.Overlay && s.Overlay->data[0]) {
        frame.reset(ff::av_frame_clone(s.Overlay.get()));
        pts = s.PTS;
      }
    }
  }
  if (!frame) {  // nothing of the new position yet: what is on screen
    std::lock_guard sg(vs->shown_mutex);
    if (vs->shown.Valid && vs->shown.Frame) {
      frame.reset(ff::av_frame_clone(vs->shown.Frame.get()));
      pts = vs->shown.PTS;
    }
  }
  if (!frame) return &bmp;
  APTS = std::llround(pts * 1000000.0) - vs->StartTime;
  if (FRGBContext->ConvertToRGB(frame.get()) && FRGBContext->Bitmap())
    bmp = *FRGBContext->Bitmap();
  else
    bmp.SetSize(0, 0);
  return &bmp;
}

// ---------------------------------------------------------------------------------------------
// Called by the playback

void TCustomPlayer::UpdatePosition() {
  std::lock_guard g(FPositionLock);
  auto vs = State();
  if (!vs || vs->IsImage2) return;
  int64_t p;
  if (vs->video_stream >= 0) {
    p = std::llround(vs->VideoClock() * 1000000.0) - vs->StartTime;
  } else if (vs->audio_stream >= 0) {
    p = std::llround(vs->AudioClock() * 1000000.0) - vs->StartTime;
    const int64_t ad = vs->AudioDuration;
    if (ad > 0 && p >= ad && p < vs->Duration) p = vs->Duration;
    // Everything has been played: the time stamps of the last packets may fall a little short.
    if (vs->ReachEOF && vs->audio_starved && vs->Duration > 0 && p < vs->Duration) p = vs->Duration;
  } else {
    return;
  }
  const int serial = vs->seek_serial;
  if (serial != FMaxPTSSerial || FMaxPTS == kNoTime || p > FMaxPTS) {
    FMaxPTS = p;
    FMaxPTSSerial = serial;
  } else {
    p = FMaxPTS;
  }
  FCurrentPTS = p;
  if (vs->Duration > 0 && p >= vs->Duration) {
    p = vs->Duration;
    if (FLastPTS != vs->Duration) FLastPTS = 0;  // the final position is always posted
  }
  const int64_t last = FLastPTS;
  if (last == kNoTime || std::llabs(last - p) > 10000) {
    FLastPTS = p;
    bool assigned;
    {
      std::lock_guard hg(FHandlerLock);
      assigned = static_cast<bool>(FOnPosition);
    }
    if (assigned) PostPlayEvent(pekPosition, p);
  }
  // The end: once per reaching it (a seek or a new picture starts over).
  if (!vs->IsDevice && !vs->EventEOF && vs->ReachEOF) {
    // The end is reached when the last picture has been shown, or without video, when the
    // last sound has been played.
    bool left = false;
    if (vs->video_stream >= 0) {
      std::lock_guard pg(vs->pictq_mutex);
      left = vs->pictq_size > 0;
    } else if (vs->audio_stream >= 0) {
      left = !vs->audio_starved;
    }
    if (!left) {
      vs->EventEOF = 1;
      SetPlayState(psEnd);
    }
  }
  const int64_t play_time = FPlayTime;
  if (play_time != kNoTime) {
    const int64_t start = Fstart_time;
    const int64_t limit = play_time + (start != kNoTime ? start : 0);
    if (p >= limit) {
      switch (FRepeatType.load()) {
        case rtStop:
          Stop(false);
          break;
        case rtLoop:
          if (!FSeeking) {  // one seek back at a time
            if (start != kNoTime)
              Seek(start, 0, false);
            else
              Seek(static_cast<int64_t>(0), sfAny, false);
          }
          break;
        default:
          break;
      }
    }
  }
}

void TCustomPlayer::VideoHookDispatch(uint8_t* const src[4], const int src_linesize[4],
                                      AVFrame* dst, double pts, int64_t start_time, int width,
                                      int height) {
  if (!FVideoHook) return;
  TVideoHookEvent handler;
  {
    std::lock_guard g(FHandlerLock);
    handler = FOnVideoHook;
  }
  if (!handler) return;
  std::lock_guard g(FHookLock);
  if (!FHookContext)
    FHookContext = std::make_unique<decoder::TRGBConvertContext>(FVideoHookBitsPixel);
  if (!FHookContext->ConvertToRGB(src, src_linesize, AV_PIX_FMT_YUV420P, false, height, width) ||
      !FHookContext->Bitmap()) {
    media::TFFLogger::Post(this, media::llError, msg::kToRGBFailed);
    return;
  }
  runtime::TBitmap* bmp = FHookContext->Bitmap();
  bool update = true;
  {
    runtime::TBitmapLock lock(*bmp);
    try {
      handler(this, bmp, std::llround(pts * 1000000.0) - start_time, update);
    } catch (const std::exception& e) {
      media::TFFLogger::Post(this, media::llError,
                             std::string(msg::kVideoHookException) + e.what());
      update = false;
    }
  }
  if (!update) return;
  FHookContext->BitmapToRGB();
  if (!FHookContext->ConvertFromRGB(dst->data, dst->linesize, AV_PIX_FMT_YUV420P, height, width))
    media::TFFLogger::Post(this, media::llError, msg::kFromRGBFailed);
}

void TCustomPlayer::AudioHookDispatch(uint8_t* buf, int size, double pts, int64_t start_time,
                                      int rate, int channels) {
  if (!FAudioHook) return;
  TAudioHookEvent handler;
  {
    std::lock_guard g(FHandlerLock);
    handler = FOnAudioHook;
  }
  if (handler) handler(this, std::llround(pts * 1000000.0) - start_time, buf, size, rate, channels);
}

}  // namespace trelvix::player
