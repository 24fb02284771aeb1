// TVideoState: one playback, shared by the reader, the decoders, the refresh ticker, the audio
// callback and the play thread. Internal to the player.
//
// Ownership: the player holds the state (shared) between a successful open and the close of the
// playback; every thread of the playback is joined by StreamClose before the state goes.
// Fields written by one thread and read by others are atomics; the picture queue is guarded by
// pictq_mutex, the subtitle queue by subpq_mutex, each packet queue by its own mutex.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/ff_ptr.h"
#include "media/sdlapi.h"
#include "media/unicode_io.h"
#include "player/packet_queue.h"
#include "player/player_types.h"
#include "player/player_util.h"

namespace trelvix::player {

class TCustomPlayer;

inline constexpr int kPictureQueueSize = 2;
inline constexpr int kSubpictureQueueSize = 4;
inline constexpr int kMaxQueueSize = 15 * 1024 * 1024;
inline constexpr int kMinAudioQueueSize = 20 * 16 * 1024;
inline constexpr int kMinFrames = 5;
inline constexpr double kSyncThreshold = 0.01;
inline constexpr double kNoSyncThreshold = 10.0;
inline constexpr double kFrameSkipFactor = 0.05;
inline constexpr double kLateDropMargin = 0.5;
inline constexpr int kAudioBufferSize = 288000;
inline constexpr int kSampleArraySize = 2 * 65536;
inline constexpr int kAudioDiffAvgNb = 20;
inline constexpr int kSDLAudioBufferSamples = 1024;

// The playback's own events (SDL user events; one block of types registered per process).
enum TPlaybackEvent {
  kAllocEvent = 0,    // 24: allocate a picture slot's overlay
  kRefreshEvent = 1,  // 25: time to look at the picture queue
  kQuitEvent = 2,     // 26: close the playback
  kReopenEvent = 3,   // 27: reopen the surface (the aspect changed)
  kResizeEvent = 4,   // the host was resized (data1 x data2)
  kExposeEvent = 5,   // the host needs its picture again
  kSwitchEvent = 6,   // carry out the pending stream switch
  kEventCount = 7,
};

// The first SDL event type of the player's block; (Uint32)-1 when none could be registered.
uint32_t PlaybackEventBase();

struct TPictureSlot {
  double PTS = 0;             // seconds
  double DueTime = 0;         // wall time (s); Guarded by pictq_mutex
  int64_t Pos = -1;           // byte position
  media::FramePtr Overlay;    // YUV 4:2:0, allocated by the play thread
  int Width = 0, Height = 0;  // of the overlay
  bool Allocated = false;     // Guarded by pictq_mutex
  int PixFmt = -1;
  AVRational SampleAspect{0, 1};
  int Serial = 0;  // the seek the picture belongs to; older ones are dropped unseen
};

struct TSubtitleSlot {
  double PTS = 0;
  AVSubtitle Subtitle{};
  bool Valid = false;
};

// The picture shown last, kept for redraws and CurrentFrame. Guarded by shown_mutex.
struct TShownPicture {
  media::FramePtr Frame;  // a reference to the overlay's picture
  double PTS = 0;
  AVRational SampleAspect{0, 1};
  int Serial = 0;
  bool Valid = false;
};

struct TVideoState {
  explicit TVideoState(TCustomPlayer* owner);
  ~TVideoState();
  TVideoState(const TVideoState&) = delete;
  TVideoState& operator=(const TVideoState&) = delete;

  // ---- Set-up, reading, streams, clocks, seeking (playback_reader.cpp)
  // Starts the reader and waits until the file is open; null on failure (LastErrMsg is set).
  static std::shared_ptr<TVideoState> StreamOpen(TCustomPlayer* player, const std::string& name,
                                                 const AVInputFormat* fmt, bool paused,
                                                 uint32_t serial);
  void ReaderThread();
  bool ReaderOpen();
  void ReaderLoop();
  void ReaderCleanup(bool failed);
  int StreamComponentOpen(int index);
  void StreamComponentClose(int index);
  // Checks the request on the calling thread, then has the play thread carry it out.
  bool SwitchStream(int type, int index);
  void DoSwitchStream();  // play thread (event kSwitchEvent)
  double AudioClock() const;
  double VideoClock() const;
  double ExternalClock() const;
  double MasterClock() const;
  int MasterSyncType() const;
  void RequestSeek(int flags, bool wait, int64_t rel, int64_t pos);
  void TogglePausePlayback();
  void StreamClose();
  bool PushEvent(TPlaybackEvent kind, int data1 = 0, int data2 = 0);
  void Report(const std::string& text, bool store);

  // ---- Audio (playback_audio.cpp)
  int AudioOpen(AVCodecContext* ctx, std::string& error);
  static void AudioCallback(void* opaque, uint8_t* stream, int len);
  void FillAudio(uint8_t* stream, int len);
  int AudioDecodeFrame(double& pts);
  int ConvertAudioFrame(const AVFrame* frame);
  int SynchronizeAudio(uint8_t* samples, int size);
  void UpdateSampleDisplay(const uint8_t* samples, int size);
  void DrawAudioDisplay();

  // ---- Video, subtitles (playback_video.cpp)
  void VideoThread();
  int ConfigureVideoFilters(const AVFrame* frame);
  int DecodeVideoPicture(AVFrame* frame);
  int GetVideoFrame(AVFrame* frame, double& pts, int64_t& pos);
  int QueueDecodedPicture(AVFrame* frame, double pts, int64_t pos);
  int StorePictureSlot(AVFrame* frame, double pts, int64_t pos);
  double ComputeDueTime(double pts);
  void AllocatePicture();  // play thread (event 24)
  void SubtitleThread();
  void FreeSubtitleSlot(TSubtitleSlot& slot);

  // ---- Refresh and display (playback_display.cpp), play thread unless noted
  void RefreshThread();  // its own thread
  void RefreshVideo(bool dequeue);
  void DisplayCurrent(TPictureSlot* slot = nullptr);
  int OpenSurface(bool force);
  void DisplayPicture(TPictureSlot* slot);
  void ShowFrame(const AVFrame* frame, AVRational sar, double pts);
  void Resize(int w, int h);
  void FillDisplayBlack();

  TCustomPlayer* const Owner;
  uint32_t serial = 0;
  std::atomic<int> Opened{0};  // 0 opening, 1 open, -1 failed, -2 failed and cleaned up

  std::vector<uint8_t> audio_buf1, audio_buf2;  // audio thread
  TWorker parse_tid, video_tid, refresh_tid, subtitle_tid;
  const AVInputFormat* iformat = nullptr;
  std::atomic<int> no_background{0};
  std::atomic<int> abort_request{0};
  std::atomic<bool> OpenTimedOut{false};  // StreamOpen gave up waiting for the open
  std::atomic<int> paused{0};
  int last_paused = 0;  // reader
  std::atomic<int> seek_req{0};
  std::atomic<int> seek_flags{0};
  std::atomic<int64_t> seek_pos{0};
  std::atomic<int64_t> seek_rel{0};
  std::atomic<int> read_pause_return{0};
  std::atomic<int64_t> read_pos{0};  // the reader's byte position after its last read

  media::UnicodeIOPtr io;  // declared before the context that reads through it
  media::InputFormatPtr ic_owner;
  AVFormatContext* ic = nullptr;  // set by the reader before Opened becomes 1
  std::string filename;           // UTF-8
  std::string lib_filename;

  std::mutex stream_lock;  // held by the reader while routing a packet and by SwitchStream
  std::atomic<int> audio_stream{-1};
  std::atomic<int> av_sync_type{AV_SYNC_AUDIO_MASTER};
  double external_clock = 0;
  int64_t external_clock_time = 0;

  std::atomic<double> audio_clock{0};
  double audio_diff_cum = 0;  // audio thread
  double audio_diff_avg_coef = 0;
  double audio_diff_threshold = 0;
  int audio_diff_avg_count = 0;
  AVStream* audio_st = nullptr;
  media::CodecContextPtr audio_ctx;
  TPacketQueue audioq;
  int audio_hw_buf_size = 0;
  SDL_AudioDeviceID audio_dev = 0;
  std::atomic<int> audio_rate{0}, audio_channels{0};  // of the device
  uint8_t* audio_buf = nullptr;                       // audio thread
  std::atomic<int> audio_buf_size{0};
  std::atomic<int> audio_buf_index{0};
  bool audio_need_packet = true;  // audio thread
  media::FramePtr audio_frame;    // audio thread
  int audio_src_fmt = AV_SAMPLE_FMT_S16;
  int audio_src_rate = 0;
  AVChannelLayout audio_src_layout{};
  media::SwrPtr reformat_ctx;
  std::atomic<int64_t> audio_callback_time{0};
  // The device asked for sound while playing and none was decoded: at the end of input, all of
  // it has been played.
  std::atomic<bool> audio_starved{false};

  std::atomic<int> show_audio{0};  // 0 none, 1 wave, 2 spectrum
  std::unique_ptr<std::atomic<int16_t>[]> sample_array;
  std::atomic<int> sample_array_index{0};
  int last_i_start = 0;  // play thread
  RDFTContext* rdft = nullptr;
  int rdft_bits = 0;
  media::AvMemPtr<float> rdft_data;  // the transform wants the library's alignment
  int xpos = 0;

  std::atomic<int> subtitle_stream{-1};
  std::atomic<int> subtitle_stream_changed{0};
  AVStream* subtitle_st = nullptr;
  media::CodecContextPtr subtitle_ctx;
  TPacketQueue subtitleq;
  TSubtitleSlot subpq[kSubpictureQueueSize];
  int subpq_size = 0, subpq_rindex = 0, subpq_windex = 0;  // Guarded by subpq_mutex
  std::mutex subpq_mutex;
  std::condition_variable subpq_cond;

  std::atomic<double> frame_timer{0};
  double frame_last_pts = 0;    // video thread, under pictq_mutex
  double frame_last_delay = 0;  // video thread, under pictq_mutex
  std::atomic<double> video_clock{0};
  std::atomic<int> video_stream{-1};
  AVStream* video_st = nullptr;
  media::CodecContextPtr video_ctx;
  TPacketQueue videoq;
  std::atomic<double> video_current_pts{0};
  std::atomic<double> video_current_pts_drift{0};
  std::atomic<int64_t> video_current_pos{-1};
  AVRational video_frame_rate{0, 1};

  TPictureSlot pictq[kPictureQueueSize];
  int pictq_size = 0, pictq_rindex = 0, pictq_windex = 0;  // Guarded by pictq_mutex
  std::mutex pictq_mutex;
  std::condition_variable pictq_cond;
  int alloc_width = 0, alloc_height = 0, alloc_fmt = -1;  // Guarded by pictq_mutex
  AVRational alloc_sar{0, 1};                             // Guarded by pictq_mutex

  std::mutex shown_mutex;
  TShownPicture shown;  // Guarded by shown_mutex

  // Display area in the surface: play thread.
  std::atomic<int> width{0}, height{0};
  int xleft = 0, ytop = 0;
  media::SwsPtr display_sws;         // play thread
  std::vector<uint8_t> display_rgb;  // play thread

  int64_t faulty_pts = 0, faulty_dts = 0;  // video thread
  int64_t last_dts_for_fault_detection = INT64_MIN;
  int64_t last_pts_for_fault_detection = INT64_MIN;
  bool video_draining = false;  // video thread: the decoder was told the input ended

  // Video thread: the filter graph and the size it was made for.
  media::FilterGraphPtr graph;
  AVFilterContext* in_video_filter = nullptr;
  AVFilterContext* out_video_filter = nullptr;
  int graph_width = 0, graph_height = 0, graph_format = -1;
  AVRational graph_sar{0, 1};

  std::atomic<float> skip_frames{1.0f};
  float skip_frames_index = 0;  // video thread
  std::atomic<int> refresh{0};

  int64_t StartTime = 0;  // µs, 0 when none
  int64_t Duration = -1;  // µs, -1 when none
  std::atomic<int64_t> AudioDuration{-1};
  int64_t BitRate = 0;
  int VideoWidth = -1, VideoHeight = -1;  // of the video codec at open
  bool IsImage2 = false, IsDevice = false;
  std::atomic<int> ErrorEOF{0}, EventEOF{0}, ReachEOF{0};
  std::atomic<int> Reading{0};
  std::atomic<int> open_paused{0}, seek_paused{0}, seek_done{0}, seek_flushed{0};
  std::atomic<int> seek_serial{0};  // executed seeks; flush markers carry the value
  int video_serial = 0;             // video thread: the seek its pictures belong to
  bool video_need_packet = true;    // video thread
  bool eof = false;                 // reader

  // A stream switch handed to the play thread. Guarded by switch_mutex.
  std::mutex switch_mutex;
  std::condition_variable switch_cond;
  int switch_type = -1, switch_index = -1, switch_current = -1;
  bool switch_pending = false;
  std::mutex seek_mutex;  // one seek request at a time
};

}  // namespace trelvix::player
