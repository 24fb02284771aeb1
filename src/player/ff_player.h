// TCustomPlayer / TFFPlayer: plays one media file into a host widget.
//
// Video is shown through a TVideoSurface (an RGB image the host widget paints; without a host the
// surface still receives every picture), sound goes to SDL2's audio device. Control calls
// (Open, Stop, Pause, Seek ...) are made on the main thread; position and state reach the host
// through an event ring and an event thread, which runs the handlers on the main thread (the
// thread waits) when TriggerEventInMainThread is true. Main-thread waits (Stop(true), Seek with
// wait) keep serving the main-thread queue and Qt's events, so handlers that need the main
// thread never deadlock with them.
//
// Threads of one playback: the play thread (event loop: surfaces, display, close), the reader,
// the video decoder, the subtitle decoder, the refresh ticker and SDL's audio thread; plus the
// event thread. Options marked "per playback" are reset to their defaults whenever a playback
// ends, so they are set again before each Open.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "decoder/ff_decoder.h"
#include "media/ff_base_component.h"
#include "player/play_event.h"
#include "player/player_types.h"
#include "player/player_util.h"
#include "player/video_surface.h"
#include "runtime/event.h"

class QWidget;
struct AVFrame;
struct AVInputFormat;

namespace trelvix::decoder {
class TRGBConvertContext;
}

namespace trelvix::player {

using decoder::sfAny;
using decoder::sfBackward;
using decoder::sfByte;
using decoder::sfFrame;
using decoder::TSeekFlags;

struct TVideoState;
class THostBinding;

class TCustomPlayer : public media::TFFBaseComponent {
 public:
  TCustomPlayer();
  ~TCustomPlayer() override;

  // The player's library set (everything but the device library), from APath first.
  bool LoadAVLib(const std::string& APath);
  bool AVLibLoaded() const;
  void UnloadAVLib();

  // Plays AFileName (UTF-8) into AScreenHandle (may be null: no host). Stops a running playback
  // first (waiting). APaused: open paused after the first two pictures. False with LastErrMsg.
  bool Open(const std::string& AFileName, QWidget* AScreenHandle = nullptr, bool APaused = false);
  // How long Open waits for the source to open and be probed before it gives up (milliseconds,
  // 20000 by default): a stalled network server or FIFO fails Open instead of holding it.
  int OpenTimeLimit() const { return FOpenTimeLimit; }
  void SetOpenTimeLimit(int ms) { FOpenTimeLimit = ms > 0 ? ms : 1; }
  // Ends the playback; with AWaitForStop returns when every thread of it has ended.
  void Stop(bool AWaitForStop);
  void Pause();
  void Resume();
  void TogglePause();
  void StepToNextFrame();
  void ToggleAudioDisplay();
  // Absolute: microseconds from the file start, or a byte offset with sfByte.
  void Seek(int64_t APTS, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false);
  void Seek(int APTS, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false) {
    Seek(static_cast<int64_t>(APTS), ASeekFlags, AWaitForSeekEnd);
  }
  // Relative, in seconds.
  void Seek(double ADelta, TSeekFlags ASeekFlags = 0, bool AWaitForSeekEnd = false);
  // The picture on screen as a bitmap (VideoHookBitsPixel deep), black of the picture size before
  // the first picture, 0 x 0 without video. Owned by the player; overwritten by the next call.
  // APTS: the picture's time (microseconds from the file start), -1 without one.
  runtime::TBitmap* CurrentFrame();
  runtime::TBitmap* CurrentFrame(int64_t& APTS);
  // Kept for hosts that call it after moving their window; the Qt surface needs nothing.
  void UpdateScreenPosition() {}

  // What would be shown: always present, also without a host widget.
  TVideoSurface& Surface() { return *FSurface; }

  // ---- Published properties
  float AspectRatio() const { return FAspectRatio; }
  // < 0: fill the display area; 0: the picture's own aspect; > 0: this aspect.
  void SetAspectRatio(float AValue);
  TAudioDriver AudioDriver() const { return FAudioDriver; }
  void SetAudioDriver(TAudioDriver v) { FAudioDriver = v; }
  TAudioVolume AudioVolume() const { return FAudioVolume; }
  void SetAudioVolume(TAudioVolume v) { FAudioVolume = v < 0 ? 0 : (v > 128 ? 128 : v); }
  bool DisableAudio() const { return Faudio_disable; }
  void SetDisableAudio(bool v) { Faudio_disable = v; }
  bool DisableVideo() const { return Fvideo_disable; }
  void SetDisableVideo(bool v) { Fvideo_disable = v; }
  bool DisableDisplay() const { return Fdisplay_disable; }
  void SetDisableDisplay(bool v) { Fdisplay_disable = v; }
  bool Mute() const { return FMute; }
  void SetMute(bool v) { FMute = v; }
  int FrameWidth() const { return Fframe_width; }
  void SetFrameWidth(int v) { Fframe_width = v; }
  int FrameHeight() const { return Fframe_height; }
  void SetFrameHeight(int v) { Fframe_height = v; }
  // The surface size; 0 = the host's client size (or the picture size without a host).
  int ScreenWidth() const { return Fscreen_width; }
  void SetScreenWidth(int v) { Fscreen_width = v; }
  int ScreenHeight() const { return Fscreen_height; }
  void SetScreenHeight(int v) { Fscreen_height = v; }
  bool TriggerEventInMainThread() const { return FTriggerEventInMainThread; }
  void SetTriggerEventInMainThread(bool v) { FTriggerEventInMainThread = v; }
  TVideoDriver VideoDriver() const { return FVideoDriver; }
  void SetVideoDriver(TVideoDriver v) { FVideoDriver = v; }
  bool VideoHook() const { return FVideoHook; }
  void SetVideoHook(bool v) { FVideoHook = v; }
  const std::string& Version() const { return media::TFFBaseComponent::Version(); }

  void SetOnFileOpen(TFileOpenEvent fn);
  void SetOnPosition(TPositionEvent fn);
  void SetOnState(TPlayStateEvent fn);
  void SetOnVideoHook(TVideoHookEvent fn);
  void SetOnAudioHook(TAudioHookEvent fn);

  // ---- Public properties
  bool AudioHook() const { return FAudioHook; }
  void SetAudioHook(bool v) { FAudioHook = v; }
  // Per playback.
  int64_t PlayTime() const { return FPlayTime; }
  void SetPlayTime(int64_t v) { FPlayTime = v; }
  TRepeatType RepeatType() const { return FRepeatType; }
  void SetRepeatType(TRepeatType v) { FRepeatType = v; }
  bool VerticalFlip() const { return FVerticalFlip; }
  void SetVerticalFlip(bool v) { FVerticalFlip = v; }
  const std::string& VideoFilters() const { return Fvfilters; }
  void SetVideoFilters(const std::string& v) { Fvfilters = v; }
  bool is_full_screen() const { return Fis_full_screen; }
  void Setis_full_screen(bool v) { Fis_full_screen = v; }
  int wanted_video_stream() const { return Fwanted_stream[kMediaTypeVideo + 1]; }
  void Setwanted_video_stream(int v) { Fwanted_stream[kMediaTypeVideo + 1] = v; }
  int wanted_audio_stream() const { return Fwanted_stream[kMediaTypeAudio + 1]; }
  void Setwanted_audio_stream(int v) { Fwanted_stream[kMediaTypeAudio + 1] = v; }
  int wanted_subtitle_stream() const { return Fwanted_stream[kMediaTypeSubtitle + 1]; }
  void Setwanted_subtitle_stream(int v) { Fwanted_stream[kMediaTypeSubtitle + 1] = v; }
  int seek_by_bytes() const { return Fseek_by_bytes; }
  void Setseek_by_bytes(int v) { Fseek_by_bytes = v; }
  int64_t start_time() const { return Fstart_time; }
  void Setstart_time(int64_t v) { Fstart_time = v; }
  int workaround_bugs() const { return Fworkaround_bugs; }
  void Setworkaround_bugs(int v) { Fworkaround_bugs = v; }
  int debug() const { return Fdebug; }
  void Setdebug(int v) { Fdebug = v; }
  int debug_mv() const { return Fdebug_mv; }
  void Setdebug_mv(int v) { Fdebug_mv = v; }
  bool fast() const { return Ffast; }
  void Setfast(bool v) { Ffast = v; }
  bool genpts() const { return Fgenpts; }
  void Setgenpts(bool v) { Fgenpts = v; }
  int decoder_reorder_pts() const { return Fdecoder_reorder_pts; }
  void Setdecoder_reorder_pts(int v) { Fdecoder_reorder_pts = v; }
  int framedrop() const { return Fframedrop; }
  void Setframedrop(int v) { Fframedrop = v; }
  int rdftspeed() const { return Frdftspeed; }
  void Setrdftspeed(int v) { Frdftspeed = v; }
  int lowres() const { return Flowres; }
  void Setlowres(int v) { Flowres = v; }
  int idct_algo() const { return Fidct_algo; }
  void Setidct_algo(int v) { Fidct_algo = v; }
  int skip_frame() const { return Fskip_frame; }
  void Setskip_frame(int v) { Fskip_frame = v; }
  int skip_idct() const { return Fskip_idct; }
  void Setskip_idct(int v) { Fskip_idct = v; }
  int skip_loop_filter() const { return Fskip_loop_filter; }
  void Setskip_loop_filter(int v) { Fskip_loop_filter = v; }
  int error_recognition() const { return Ferror_recognition; }
  void Seterror_recognition(int v) { Ferror_recognition = v; }
  int error_concealment() const { return Ferror_concealment; }
  void Seterror_concealment(int v) { Ferror_concealment = v; }
  Tav_sync_type av_sync_type() const { return Fav_sync_type; }
  void Setav_sync_type(Tav_sync_type v) { Fav_sync_type = v; }
  int sws_flags() const { return Fsws_flags; }
  void Setsws_flags(int v) { Fsws_flags = v; }
  TShowAudio ShowAudio() const { return FShowAudio; }
  void SetShowAudio(TShowAudio AValue);
  int VideoHookBitsPixel() const { return FVideoHookBitsPixel; }
  void SetVideoHookBitsPixel(int AValue);
  // The forced input format's short name, or empty. Setting an unknown name throws
  // std::invalid_argument("Unknown input format: %s"); empty clears it.
  std::string ForceFormat() const;
  void SetForceFormat(const std::string& AValue);
  // The playing stream of the kind or -1; setting one while playing switches to it (-1 for
  // subtitles: none). A refused switch leaves LastErrMsg.
  int AudioStreamIndex() const;
  void SetAudioStreamIndex(int AValue);
  int VideoStreamIndex() const;
  void SetVideoStreamIndex(int AValue);
  int SubtitleStreamIndex() const;
  void SetSubtitleStreamIndex(int AValue);

  // ---- Read-only
  std::string FileName() const;
  std::string LastErrMsg() const;
  QWidget* ScreenHandle() const { return FScreenHandle; }
  // Attached to the playing file's context while a playback runs; use it on the main thread only.
  decoder::TFFDecoder& Decoder() { return *FDecoder; }
  int64_t CurrentPTS() const { return FCurrentPTS; }
  bool Paused() const;  // true when not playing or paused
  TPlayState PlayState() const { return FState; }
  bool Seeking() const { return FSeeking; }
  bool Playing() const;

 private:
  friend struct TVideoState;

  void InitOptions();
  void ResetPlayState();
  bool InitSDL(QWidget* host);
  void QuitSDL();
  void DoFileOpen();
  void StartThreads();
  void PlayThreadExecute();
  void EventThreadExecute();
  void RunEventLoop();
  // False when the loop is to end (the playback closed).
  bool HandleEvent(TVideoState& vs, int kind, int data1, int data2);
  void WaitForStop();
  void JoinPlayThread();
  void EndEventThread(bool terminate);
  void ClosePlayback(bool quit_sdl);
  void WaitSeekEnd();

  std::shared_ptr<TVideoState> State() const;
  // Pushes one of the playback's events (allocate, refresh, quit, ...) for playback `serial`.
  bool PushEvent(uint32_t serial, int kind, int data1 = 0, int data2 = 0);

  // Called by the playback.
  void UpdatePosition();
  void SetPlayState(TPlayState s);
  void ReportPlayerError(const std::string& msg, bool store);
  void PostPlayEvent(int32_t kind, int64_t value);
  // src: the picture's planes as the hook sees them (flipped with VerticalFlip); dst: the overlay
  // that receives the hook's drawing.
  void VideoHookDispatch(uint8_t* const src[4], const int src_linesize[4], AVFrame* dst, double pts,
                         int64_t start_time, int width, int height);
  void AudioHookDispatch(uint8_t* buf, int size, double pts, int64_t start_time, int rate,
                         int channels);

  // Options (main thread unless atomic).
  int Fsws_flags = 4;
  const AVInputFormat* Ffile_iformat = nullptr;
  std::string Finput_filename;  // Guarded by FInfoLock.
  int Ffs_screen_width = 0, Ffs_screen_height = 0;
  std::atomic<int> Fscreen_width{0}, Fscreen_height{0};
  int Fframe_width = 0, Fframe_height = 0, Fframe_pix_fmt = -1;
  std::atomic<int> FOpenTimeLimit{20000};
  bool Faudio_disable = false, Fvideo_disable = false;
  std::atomic<int> Fwanted_stream[7] = {-1, -1, -1, -1, -1, -1, -1};  // by media type -1 .. 5
  std::atomic<int> Fseek_by_bytes{-1};
  bool Fdisplay_disable = false;
  Tav_sync_type Fav_sync_type = AV_SYNC_AUDIO_MASTER;
  std::atomic<int64_t> Fstart_time{kNoTime};
  int Fdebug = 0, Fdebug_mv = 0;
  std::atomic<bool> Fstep{false};
  int Fworkaround_bugs = 1;
  bool Ffast = false, Fgenpts = false;
  int Flowres = 0, Fidct_algo = 0, Fskip_frame = 0, Fskip_idct = 0, Fskip_loop_filter = 0;
  int Ferror_recognition = 1, Ferror_concealment = 3;
  std::atomic<int> Fdecoder_reorder_pts{-1};
  std::atomic<int> Fframedrop{1};
  std::atomic<int> Frdftspeed{20};
  std::string Fvfilters;
  bool Fis_full_screen = false;

  std::shared_ptr<TVideoSurface> FSurface;
  std::unique_ptr<THostBinding> FHostBinding;  // main thread
  QWidget* FScreenHandle = nullptr;            // main thread

  mutable std::mutex FStateLock;
  std::shared_ptr<TVideoState> FVideoState;  // Guarded by FStateLock.
  uint32_t FSerial = 0;                      // playback number (unique in the process), main thread

  mutable std::mutex FInfoLock;
  std::string FLastErrMsg;  // Guarded by FInfoLock.

  std::mutex FPositionLock;  // serialises UpdatePosition
  std::atomic<int64_t> FLastPTS{kNoTime};
  std::atomic<int64_t> FCurrentPTS{-1};
  // Positions only move forward between two seeks (a picture shown late would otherwise pull
  // the clock back a little). Guarded by FPositionLock.
  int64_t FMaxPTS = kNoTime;
  int FMaxPTSSerial = -1;
  std::unique_ptr<decoder::TFFDecoder> FDecoder;

  std::mutex FDataLock;  // held by the event loop while it handles an event
  runtime::TEvent FSeekEvent{true}, FPictEvent{true}, FStopEvent{true};
  TPlayEvent FPlayEvent;
  std::atomic<bool> FSeeking{false};
  std::atomic<float> FAspectRatio{0.0f};
  std::atomic<int> FAudioVolume{128};
  std::atomic<TShowAudio> FShowAudio{saWave};
  std::atomic<bool> FMute{false};
  std::atomic<int64_t> FPlayTime{kNoTime};
  std::atomic<TRepeatType> FRepeatType{rtStop};
  std::atomic<bool> FVerticalFlip{false};
  TAudioDriver FAudioDriver = adDefault;
  TVideoDriver FVideoDriver = vdDefault;
  std::atomic<bool> FAudioHook{false};
  std::atomic<bool> FVideoHook{false};
  std::atomic<int> FVideoHookBitsPixel{24};
  std::atomic<bool> FTriggerEventInMainThread{true};
  std::atomic<TPlayState> FState{psStop};

  // Bitmap contexts: FRGBContext for CurrentFrame (main thread, guarded by FRGBLock),
  // FHookContext for the video hook (video thread, guarded by FHookLock; recursive, so that a
  // hook handler may call into the player).
  std::recursive_mutex FRGBLock;
  std::recursive_mutex FHookLock;
  std::unique_ptr<decoder::TRGBConvertContext> FRGBContext;
  std::unique_ptr<decoder::TRGBConvertContext> FHookContext;
  std::unique_ptr<runtime::TBitmap> FCurrentBitmap;  // main thread

  // Handlers, copied under FHandlerLock before each call.
  mutable std::mutex FHandlerLock;
  TFileOpenEvent FOnFileOpen;
  TPositionEvent FOnPosition;
  TPlayStateEvent FOnPlayState;
  TVideoHookEvent FOnVideoHook;
  TAudioHookEvent FOnAudioHook;

  // SDL: initialised per playback. Guarded by FSdlLock (pushes from any thread check it).
  std::mutex FSdlLock;
  bool FSdlActive = false;
  bool FSdlAudio = false;
  std::string FSdlAudioError;  // why the audio subsystem did not start, when it did not

  TWorker FPlayThread;   // joined by Stop(true), Open and the destructor
  TWorker FEventThread;  // likewise
  std::atomic<bool> FEventThreadTerminated{false};
  std::atomic<bool> FDelivering{false};  // a position or state handler is running
};

class TFFPlayer : public TCustomPlayer {
 public:
  TFFPlayer() = default;
};

}  // namespace trelvix::player
