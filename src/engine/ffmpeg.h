// TCustomFFmpeg: one conversion job of the transcoding engine.
//
// A job holds up to 20 input and 20 output files and the whole option state of a transcoder that
// takes named command options. The owner (the encoder component) sets options by name or through
// the setters, opens the inputs, then the output, and starts the conversion. Options always
// describe the next file opened: input-side options are consumed by OpenInputFile, output-side
// ones by OpenOutputFile and the stream creation inside it.
//
// The class is split into files by concern:
//   ffmpeg.cpp          construction, defaults, reset, freeing, setters
//   ffmpeg_options.cpp  the command-option table (SetOption) and its value forms
//   ffmpeg_presets.cpp  built-in and file presets (ApplyPreset)
//   ffmpeg_target.cpp   VCD/SVCD/DVD/DV targets (SetTarget)
//   ffmpeg_files.cpp    OpenInputFile, OpenOutputFile and the codec-name checks
//   ffmpeg_streams.cpp  creation of output streams with the engine's own codec contexts
//   ffmpeg_control.cpp  the post-hook set
//   frame_hook.cpp      frame-hook libraries ("vhook")
// The conversion itself (stream mapping, packet pipeline, worker thread, progress) builds on the
// state laid out here.
//
// Threads: options, setters and file set-up run on the owner's thread while no conversion runs;
// they take no lock (only stream probing holds the codec lock). SetPostHooks may run at any time.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/preview_window.h"
#include "media/ff_options.h"
#include "media/ff_ptr.h"
#include "media/unicode_io.h"
#include "runtime/bitmap.h"
#include "runtime/event.h"
#include "runtime/ink_overlay.h"
#include "runtime/object.h"

namespace trelvix::runtime {
class TBitmap;
}
namespace trelvix::decoder {
class TRGBConvertContext;
}
namespace trelvix::engine {
class TOverlayBlender;
struct TPictureBand;
struct TScaleSpec;
}  // namespace trelvix::engine

namespace trelvix::engine {

// The only exception class the engine raises; the message is the user-visible text.
class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kMaxFiles = 20;    // files per side
inline constexpr int kMaxStreams = 20;  // width of the per-file stream tables
inline constexpr int kMaxStreamMaps = kMaxFiles * kMaxStreams;
// The libraries' value for a missing time stamp (only the top bit set).
inline constexpr int64_t kNoValue = INT64_MIN;
inline constexpr int kDefaultBitBufferSize = 262144;
inline constexpr float kNoAudioQuality = -99999.0f;
inline constexpr int kLambdaPerQuantiser = 118;  // FF_QP2LAMBDA

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

enum TPostHook : uint8_t { phPreview, phBitmap, phHBITMAP };
// A set of post hooks, bit n for the n-th value.
using TPostHooks = uint8_t;
constexpr TPostHooks PostHookBit(TPostHook h) {
  return static_cast<TPostHooks>(1u << h);
}

// Media kinds indexing the per-kind tables (Fmax_frames and the encoder option lists).
enum TMediaKind { mkVideo = 0, mkAudio = 1, mkData = 2, mkSubtitle = 3 };

// Target norms (SetTarget).
enum class TTargetNorm { PAL, NTSC, FILM };

struct TStreamMap {
  int file_index = 0;
  int stream_index = 0;
  int sync_file_index = 0;
  int sync_stream_index = 0;
};

struct TMetaDataMap {
  int out_file = 0;
  int in_file = 0;
};

using TOptionPair = std::pair<std::string, std::string>;

// Events. Their first argument is the engine.
using TNotifyEvent = std::function<void(runtime::TObject* Sender)>;
using TProgressEvent = std::function<void(
    runtime::TObject* Sender, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
    float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration)>;
using TVideoHookEvent =
    std::function<void(runtime::TObject* Sender, runtime::TBitmap* ABitmap, int AFrameNumber,
                       int64_t APTS, bool& AUpdate, bool& AStopHook)>;
// Asked, when assigned, before the input video hook converts a picture: the part of the picture
// (AWidth x AHeight) the handler will change for this frame. An empty rectangle: nothing to
// draw; the picture goes on unconverted and the hook event is not raised for it. Otherwise only
// that part (grown to whole chroma samples and 32-pixel columns) is converted into the bitmap
// and back; the bitmap's other pixels hold an earlier picture. When the answer also carries a
// ready overlay (the handler's only change to the frame), a planar 8-bit YUV picture takes it
// straight, over its ink only, and the hook event is not raised for the frame; other pictures,
// and every picture while the hook's bitmaps have fewer than 24 bits, go the bitmap's way.
// AStopHook as for the hook event.
using TVideoHookQuery =
    std::function<runtime::TDrawArea(runtime::TObject* Sender, int AWidth, int AHeight,
                                     int AFrameNumber, int64_t APTS, bool& AStopHook)>;
using TAudioHookEvent =
    std::function<void(runtime::TObject* Sender, int64_t APTS, uint8_t* ASample, int ASize,
                       int ASampleRate, int AChannels, int ASampleFormat)>;
using TPreviewBitmapEvent = std::function<void(runtime::TObject* Sender, runtime::TBitmap* ABitmap,
                                               int AFrameNumber, int64_t APTS)>;

// One opened input file.
struct TInputFile {
  media::UnicodeIOPtr io;  // custom I/O for "unicode:utf8:" names; outlives ctx
  media::InputFormatPtr ctx;
  std::string file_name;  // as the owner gave it
};

// One output stream as set up by OpenOutputFile. The library stream carries parameters only; the
// engine's own codec context holds every encoding setting, and the conversion opens it and copies
// its parameters into the stream before writing the header.
struct TOutputStreamSetup {
  AVStream* st = nullptr;            // owned by the file's context
  media::CodecContextPtr codec;      // the engine's codec context for the stream
  const AVCodec* encoder = nullptr;  // the encoder to open; null for stream copy or none found
  bool stream_copy = false;
  float quality = 0;  // stream quality (lambda) of fixed-quantiser encoding
  std::vector<media::BsfPtr> bitstream_filters;  // applied in order before writing
};

// One output file. In join mode several entries of Foutput_files point to the same file.
struct TOutputFile {
  TOutputFile() = default;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  ~TOutputFile();  // closes the byte stream and removes the file when nothing was written

  // Closes the byte stream (flushing it) and removes the file from disk when it is empty or
  // unfinished.
  void CloseIO();

  media::UnicodeIOPtr io;  // custom I/O for "unicode:utf8:" names; outlives ctx
  media::OutputFormatPtr ctx;
  std::string file_name;  // as the owner gave it
  std::string lib_name;   // the name handed to the format library (LibFileName)
  bool io_open = false;   // the byte stream was opened by the engine
  // The header is written but not the trailer: a conversion that fails in between leaves a file
  // nothing can play, so CloseIO removes it.
  bool unfinished = false;
  std::vector<TOutputStreamSetup> streams;
};

// The picture handed to a frame-hook library: plane pointers and line sizes.
struct TFramePicture {
  uint8_t* data[4];
  int linesize[4];
};

// An entry of the frame-hook chain ("vhook" libraries). The entry points use the C calling
// convention.
struct TFrameHookEntry {
  using ConfigureFn = int (*)(void** ctxp, int argc, char* argv[]);
  using ProcessFn = void (*)(void* ctx, TFramePicture* pict, int pix_fmt, int width, int height,
                             int64_t pts);
  using ReleaseFn = void (*)(void* ctx);
  ConfigureFn Configure = nullptr;
  ProcessFn Process = nullptr;
  ReleaseFn Release = nullptr;
  void* ctx = nullptr;  // owned by the library; handed back to Release
};

// Conversion types (transcode_streams.h, ffmpeg_thread.h).
struct TTranscodeState;
struct TAVInputStream;
struct TAVOutputStream;
class TConvertThread;

class TCustomFFmpeg : public runtime::TObject {
 public:
  TCustomFFmpeg();            // Create
  ~TCustomFFmpeg() override;  // Destroy: Stop(true), FreeResources
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  // --- Set-up, on the owner's thread before the conversion starts ---

  // Frees everything and restores the defaults; only when the encoder libraries are loaded.
  void ResetState();

  // The command-option table. Rejected options raise FFmpegException; unknown names go to
  // SetDefaultOption, whose result is then ignored.
  void SetOption(const std::string& name, const std::string& value);
  // One option of the job's option set (codec, format, scaler options), with the translation of
  // legacy codec options; options of an encoder's or muxer's own table are kept for the streams
  // and files created later. False when nothing knows the name or the value is refused.
  bool SetDefaultOption(const std::string& name, const std::string& value);
  bool SetIntOption(const std::string& name, int value);

  bool OpenInputFile(const std::string& file_name);
  // The new number of output files, or -1 with LastErrMsg() set.
  int OpenOutputFile(const std::string& file_name, bool join = false);

  // option: "apre", "vpre", "spre" or "fpre"; nothing happens when either text is empty.
  void ApplyPreset(const std::string& option, const std::string& preset);
  // type: "vcd", "svcd", "dvd", "dv", "dv50"; norm: "pal", "ntsc", "film" or anything else for
  // automatic detection; fallback_norm decides when detection finds nothing.
  void SetTarget(const std::string& type, const std::string& norm,
                 const std::string& fallback_norm);

  // Setters (text setters ignore an empty text).
  void SetVerbose(int v) { Fverbose = v; }
  // Video encoding on a thread of its own, overlapping decoding (on by default). Set before the
  // job starts.
  void SetOverlapEncoding(bool on) { FOverlapEncoding = on; }
  void SetStartTime(int64_t us);      // ignored for kNoValue
  void SetRecordingTime(int64_t us);  // ignored for kNoValue; also the total output duration
  void SetProgramID(int id);          // ignored when negative
  void SetAudioVolume(int v);         // ignored when negative
  void SetAudioSyncMethod(int v) { Faudio_sync_method = v; }
  void SetVideoSyncMethod(int v) { Fvideo_sync_method = v; }
  void SetMuxMaxDelay(float seconds);  // ignored unless positive
  void SetMuxPreload(float seconds);   // ignored unless positive
  void SetAudioSampleRate(int v);      // ignored unless positive
  void SetAudioChannels(int v);        // ignored unless positive
  void SetForceFormat(const std::string& format);
  void SetFrameRate(const std::string& rate);
  void SetFrameSize(const std::string& size);
  void SetFrameAspectRatio(const std::string& aspect);
  void SetCropTop(int v);
  void SetCropBottom(int v);
  void SetCropLeft(int v);
  void SetCropRight(int v);
  void SetAudioCodec(const std::string& name);
  void SetVideoCodec(const std::string& name);
  void SetSubtitleCodec(const std::string& name);
  void SetAudioTag(const std::string& tag);
  void SetVideoTag(const std::string& tag);
  void SetSubtitleTag(const std::string& tag);
  void SetVideoFilters(const std::string& filters);
  void SetAudioLanguage(const std::string& lang);
  void SetVideoLanguage(const std::string& lang);
  void SetSubtitleLanguage(const std::string& lang);
  void SetAudioDisable(bool v) { Faudio_disable = v; }
  void SetVideoDisable(bool v) { Fvideo_disable = v; }
  void SetSubtitleDisable(bool v) { Fsubtitle_disable = v; }
  void SetInputSync(bool v) { Finput_sync = v; }
  void SetCopyTimestamp(bool v) { Fcopy_ts = v; }
  // The output's creation time, Unix seconds (0 = none).
  void SetRecordingTimestamp(int64_t unix_seconds) { Frecording_timestamp = unix_seconds; }
  // Appends a metadata pair for the next output file (as the "metadata" option does).
  void AddMetadata(const std::string& key, const std::string& value);
  void SetPostHooks(TPostHooks hooks);
  void SetVideoHookBitsPixel(int bits);

  // Events (set before the conversion starts).
  void SetOnAudioHook(TAudioHookEvent e) { FOnAudioHook = std::move(e); }
  void SetOnInputVideoHook(TVideoHookEvent e) { FOnInputVideoHook = std::move(e); }
  void SetOnInputVideoHookQuery(TVideoHookQuery q) { FOnInputVideoHookQuery = std::move(q); }
  void SetOnOutputVideoHook(TVideoHookEvent e) { FOnOutputVideoHook = std::move(e); }
  void SetOnPreviewBitmap(TPreviewBitmapEvent e) { FOnPreviewBitmap = std::move(e); }
  void SetOnProgress(TProgressEvent e) { FOnProgress = std::move(e); }
  void SetOnTerminate(TNotifyEvent e) { FOnTerminate = std::move(e); }

  // --- Conversion control ---
  // Stop asks a running conversion to end (with wait: until it has); Pause and Resume hold and
  // continue the worker; Abort stops a running job or reports termination of one that never ran.
  void Stop(bool wait_for_stop);
  void Pause();
  void Resume();
  void Abort(bool wait);

  // --- Conversion (ffmpeg_thread.cpp) ---
  // Starts the conversion. Nothing happens (null) while converting or once terminated (until
  // ResetState). Without a thread the whole conversion runs before it returns null; with one, the
  // worker is started and returned (TConvertThread::Start is then a no-op).
  TConvertThread* StartConvert(bool use_thread, TThreadPriority priority = tpNormal);
  // The worker while one exists (null before the start and after the end).
  TConvertThread* Thread() const;
  bool Converting() const { return FConvertState.converting.load(); }
  bool Terminated() const { return FConvertState.terminated.load(); }
  int FramesDuplicated() const { return Fnb_frames_dup; }
  int FramesDropped() const { return Fnb_frames_drop; }

  // --- Read-only state ---
  int nb_input_files() const { return Fnb_input_files; }
  // The opened container of input i (owned by the job; valid until it is reset or freed).
  AVFormatContext* InputFormatContext(int i) const { return Finput_files[i].ctx.get(); }
  int nb_output_files() const { return Fnb_output_files; }
  int MaxFiles() const { return FMaxFiles; }
  bool Finished() const { return FFinished; }
  bool FatalException() const { return FFatalException; }
  const std::string& FatalMessage() const { return FFatalMessage; }
  const std::string& LastErrMsg() const { return FLastErrMsg; }
  int64_t TotalOutputDuration() const { return FTotalOutputDuration; }
  int VideoHookBitsPixel() const { return FVideoHookBitsPixel; }
  TPostHooks PostHooks() const;

  // Report pacing, microseconds.
  int64_t ReportInterval = 500000;
  int64_t PreviewInterval = 100000;

 protected:
  void InitDefaults();
  void FreeResources();

  // Option handlers that need more than one assignment (ffmpeg_options.cpp).
  void SetBitRate(const std::string& name, const std::string& value);
  void AddStreamMap(const std::string& value);
  void AddMetaDataMap(const std::string& value);
  void SetInputTsScale(const std::string& value);
  void SetMatrix(const std::string& name, const std::string& value);
  void AddBitstreamFilter(const std::string& name, const std::string& value);
  void SetStreamId(const std::string& name, const std::string& value);
  void SetThreads(const std::string& value);
  void SetTargetOption(const std::string& value);
  void SetVstats();
  void ListPixelFormats();
  void ListSampleFormats();
  void AddNewStream(TMediaKind kind);
  // "vhook" (frame_hook.cpp): adds a frame-hook library to the chain.
  void AddFrameHook(const std::string& value);
  void ReleaseFrameHooks();
  // The end of a job: not converting any more, terminated, OnTerminate.
  void DoTerminate();

  // SetDefaultOption with a hint of the kind whose encoder options come first ("vpre" video...).
  bool SetDefaultOptionFor(const std::string& name, const std::string& value, int kind_hint);
  // Encoder options of the pending encoder of a kind (by pending codec name), or null.
  const AVCodec* PendingEncoder(int kind) const;
  // Keeps an option of an encoder's own table for the streams of that kind. False when the pending
  // encoder refuses the value.
  bool KeepEncoderOption(int kind, const std::string& name, const std::string& value);

  // Codec-name check (ffmpeg_files.cpp): codec id 0 for no name; false with FLastErrMsg set.
  bool CheckCodecName(const std::string& name, AVMediaType type, bool encoder, AVCodecID* id,
                      const AVCodec** codec);

  // Output stream creation (ffmpeg_streams.cpp). Raise FFmpegException on failure; a stream that
  // was added to the context stays there (the caller discards the whole file).
  void NewVideoStream(TOutputFile& file);
  void NewAudioStream(TOutputFile& file);
  void NewSubtitleStream(TOutputFile& file);
  TOutputStreamSetup& NewStream(TOutputFile& file, AVMediaType type, const AVCodec* encoder);
  void ApplyEncoderOptions(TOutputStreamSetup& s, int kind);

  void LogF(int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  // --- Files and streams ---
  int FMaxFiles = kMaxFiles;
  std::array<TInputFile, kMaxFiles> Finput_files;
  int Fnb_input_files = 0;
  std::array<int64_t, kMaxFiles> Finput_files_ts_offset{};
  // Per input file and stream: time stamp scale, 0 = none.
  std::array<std::array<double, kMaxStreams>, kMaxFiles> Finput_files_ts_scale{};
  // The decoder forced by name for each input stream (null: by codec id), one entry per stream of
  // every input in file order.
  std::vector<const AVCodec*> Finput_codecs;
  // The output entries; in join mode all entries are the same file. Owned by FOutputFileStore.
  std::array<TOutputFile*, kMaxFiles> Foutput_files{};
  int Fnb_output_files = 0;
  std::vector<std::unique_ptr<TOutputFile>> FOutputFileStore;
  std::vector<TStreamMap> Fstream_maps;
  std::vector<TMetaDataMap> Fmeta_data_maps;
  std::array<int, kMaxStreams> Fstreamid_map{};

  // --- Pending per-file options ---
  std::string Flast_asked_format;
  int Fframe_width = 0, Fframe_height = 0;
  float Fframe_aspect_ratio = 0;
  int Fframe_pix_fmt = -1;
  int Faudio_sample_fmt = -1;
  int Fframe_topBand = 0, Fframe_bottomBand = 0, Fframe_leftBand = 0, Fframe_rightBand = 0;
  std::array<int, 4> Fmax_frames{};  // by TMediaKind
  AVRational Fframe_rate{0, 0};
  float Fvideo_qscale = 0;
  std::optional<std::array<uint16_t, 64>> Fintra_matrix, Finter_matrix;
  std::string Fvideo_rc_override_string;  // empty: none
  bool Fvideo_disable = false;
  int Fvideo_discard = 0;
  std::string Fvideo_codec_name;  // empty: none pending
  uint32_t Fvideo_codec_tag = 0;
  std::string Fvideo_language;
  bool Fsame_quality = false;
  bool Fdo_deinterlace = false;
  int Ftop_field_first = -1;
  int Fme_threshold = 0;
  int Fintra_dc_precision = 8;
  bool Floop_input = false;
  int Floop_output = -1;
  bool Fqp_hist = false;
  std::string Fvfilters;
  bool FEnableFilter = false;
  bool Fintra_only = false;
  int Faudio_sample_rate = 44100;
  int64_t Fchannel_layout = 0;
  float Faudio_qscale = kNoAudioQuality;
  bool Faudio_disable = false;
  int Faudio_channels = 2;
  std::string Faudio_codec_name;
  uint32_t Faudio_codec_tag = 0;
  std::string Faudio_language;
  bool Fsubtitle_disable = false;
  std::string Fsubtitle_codec_name;
  std::string Fsubtitle_language;
  uint32_t Fsubtitle_codec_tag = 0;
  int Fvideo_channel = 0;
  std::string Fvideo_standard;
  int Fopt_programid = 0;
  // Options of encoders' own tables, by kind (video, audio, data, subtitle), in the order set;
  // applied to every new stream of that kind whose encoder has them.
  std::array<std::vector<TOptionPair>, 4> Fencoder_opts;
  // Options of muxers' own tables, applied to the next output file whose muxer has them.
  std::vector<TOptionPair> Fmuxer_opts;

  // --- Muxing and timing ---
  float Fmux_preload = 0.5f;
  float Fmux_max_delay = 0.7f;
  int64_t Frecording_time = INT64_MAX;
  int64_t Fstart_time = 0;
  int64_t Frecording_timestamp = 0;  // Unix seconds
  int64_t Finput_ts_offset = 0;
  std::vector<TOptionPair> Fmetadata;
  int64_t Flimit_filesize = 0;

  // --- Behaviour switches ---
  int Fdo_benchmark = 0;
  bool Fdo_hex_dump = false, Fdo_pkt_dump = false, Fdo_psnr = false;
  int Fdo_pass = 0;
  std::string Fpass_logfilename_prefix;
  int Faudio_stream_copy = 0, Fvideo_stream_copy = 0, Fsubtitle_stream_copy = 0;
  int Fvideo_sync_method = -1;
  int Faudio_sync_method = 0;
  float Faudio_drift_threshold = 0.1f;
  bool Fcopy_ts = false;
  bool Fopt_shortest = false;
  int Fvideo_global_header = 0;
  std::string Fvstats_filename;  // empty: no statistics
  struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<FILE, FileCloser> Fvstats_file;
  int Fcopy_initial_nonkeyframes = 0;
  bool Frate_emu = false;
  int Faudio_volume = 256;
  bool Fexit_on_error = false;
  int Fusing_stdin = 0;
  bool Fusing_vhook = false;
  int Fverbose = 1;
  int Fthread_count = 0;  // 0: the libraries choose
  bool Finput_sync = false;
  bool Fforce_fps = false;
  int Fpgmyuv_compatibility_hack = 0;
  float Fdts_delta_threshold = 10.0f;
  int Fsws_flags = SWS_BICUBIC;

  // --- Run-time counters ---
  int Fq_pressed = 0;
  int64_t Fvideo_size = 0, Faudio_size = 0, Fextra_size = 0;
  int Fnb_frames_dup = 0, Fnb_frames_drop = 0;
  bool FShowDupOrDrop = false;
  int64_t Ftimer_start = 0;

  // --- Buffers of the conversion (only grow; freed by FreeResources) ---
  media::AvMemPtr<uint8_t> Faudio_buf, Faudio_out, Finput_tmp, Fsamples;
  unsigned Fallocated_audio_buf_size = 0, Fallocated_audio_out_size = 0, Fsamples_size = 0;
  int Fbit_buffer_size = kDefaultBitBufferSize;

  // Pending bitstream-filter chains, moved to the next stream of their kind.
  std::vector<media::BsfPtr> Fvideo_bitstream_filters, Faudio_bitstream_filters,
      Fsubtitle_bitstream_filters;

  media::TFFOptions FOptions;

  // --- State ---
  runtime::TEvent FStopEvent{true};  // non-signalled while a worker runs the conversion
  runtime::TEvent FTermEvent{true};  // non-signalled while a termination report runs
  bool FJoinMode = false;
  bool FOverlapEncoding = true;
  std::atomic<bool> FBroken = false;  // set by Stop (any thread), read by the packet loop
  bool FFinished = false;
  bool FFatalException = false;
  std::string FFatalMessage;
  std::string FLastErrMsg;
  int64_t FTotalOutputDuration = -1;
  std::thread FTerminateThread;  // reports the end of a job that never ran (Abort)

  // --- Hooks ---
  std::vector<TFrameHookEntry> FFrameHooks;  // the frame-hook chain, in order
  // The post-hook set: read without the lock on every frame, written under the post-hook lock.
  std::atomic<TPostHooks> FPostHooks = 0;
  std::atomic<bool> FPostHooksChanged = false;  // the set changed since the last preview
  // The preview window of phPreview, made on its first frame. Guarded by the post-hook lock;
  // the painting thread keeps its own reference while it paints, outside the lock.
  std::shared_ptr<TPreviewWindow> FPreviewer;
  int FVideoHookBitsPixel = 24;
  TAudioHookEvent FOnAudioHook;
  TVideoHookEvent FOnInputVideoHook, FOnOutputVideoHook;
  TVideoHookQuery FOnInputVideoHookQuery;
  TPreviewBitmapEvent FOnPreviewBitmap;
  TProgressEvent FOnProgress;
  TNotifyEvent FOnTerminate;

  // --- Conversion (ffmpeg_transcode.cpp, ffmpeg_pipeline.cpp, ffmpeg_thread.cpp,
  // ffmpeg_hooks.cpp) ---
  friend class TConvertThread;
  void DoConvert();
  void Transcode();
  void TranscodeSetup(TTranscodeState& r);
  void TranscodeLoop(TTranscodeState& r);
  // False when the packet could not be decoded.
  bool OutputPacket(TTranscodeState& r, TAVInputStream& ist, AVPacket* pkt);
  void HandleDecodedVideo(TTranscodeState& r, TAVInputStream& ist, AVFrame* frame);
  void HandleDecodedAudio(TTranscodeState& r, TAVInputStream& ist, AVFrame* frame);
  void DoVideoOut(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist, AVFrame* in);
  void DoAudioOut(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist,
                  const int16_t* samples, int nb_samples);
  void EncodeAndWrite(TTranscodeState& r, TAVOutputStream& ost, AVFrame* frame);
  // A picture (null: the end of the stream) to the stream's video encoder: on the encode worker
  // when the overlap is on, else as EncodeAndWrite; the packets ready are written.
  // With a source, `frame` carries only the properties and the worker scales the source (with
  // the band's rows, if any) as `spec` says (see TVideoEncodeWorker::Submit); only when
  // EncodesApart.
  void EncodeVideo(TTranscodeState& r, TAVOutputStream& ost, AVFrame* frame,
                   const AVFrame* source = nullptr, const TScaleSpec* spec = nullptr,
                   const TPictureBand* band = nullptr);
  // Whether the stream's video encoder runs on a thread of its own (made here when it should).
  bool EncodesApart(TAVOutputStream& ost);
  // The bookkeeping of an encoded video packet (statistics, sizes), then the packet to the muxer.
  void WriteVideoPacket(TAVOutputStream& ost, AVPacket* pkt);
  void WritePacket(TAVOutputStream& ost, AVPacket* pkt);
  // One line of the video statistics file ("vstats") for an encoded frame.
  void WriteVideoStats(TAVOutputStream& ost, int frame_size);
  // Hands a packet (null: the end of the stream) to the stream's bitstream filter `first_filter`
  // and what comes out to the next one, then to the muxer.
  void WriteFiltered(TAVOutputStream& ost, AVPacket* pkt, size_t first_filter);
  // Opens the stream's bitstream filters for its parameters, which the muxer then gets from the
  // last filter; a filter that refuses the stream fails the set-up.
  void InitBitstreamFilters(TAVOutputStream& ost);
  // Drains the stream's bitstream filters at the end.
  void FlushBitstreamFilters(TAVOutputStream& ost);
  void CopyPacket(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist,
                  const AVPacket* pkt);
  void DoSubtitleOut(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist, AVSubtitle* sub,
                     int64_t pts);
  void FlushEncoders(TTranscodeState& r);
  // Encodes what an audio stream's resampler still holds (into the FIFO for framed encoders).
  void DrainResampler(TTranscodeState& r, TAVOutputStream& ost);
  // Join mode: the next input's output streams take over the current ones' state.
  void SwitchSegment(TTranscodeState& r, int next);
  void PrintReport(TTranscodeState& r, bool is_last_report, int file_index);
  // The picture handed on: the decoded one, or the engine's processed copy of it.
  AVFrame* RunInputHook(TTranscodeState& r, TAVInputStream& ist, AVFrame* frame);
  void RunOutputHooks(TTranscodeState& r, TAVOutputStream& ost, AVFrame*& frame);
  // Raises a video hook on `src` through its bitmap. When the handler changed the bitmap the
  // picture is converted back into `work` (the job's own buffer) and `work` is returned;
  // otherwise `src` goes on untouched. A failed conversion or StopHook switches the hook off.
  // With a query, only the part it names is converted, and nothing when it names nothing; an
  // overlay it hands over is laid on by `blender` where the picture's layout allows, and the
  // event is not raised: into `src` itself when no one else holds its pixels, else into a band
  // of the rows it covers when `band` is given (`src` is returned and *band tells the rows),
  // else into `work`.
  AVFrame* VideoHookCall(decoder::TRGBConvertContext& ctx, TVideoHookEvent& event, AVFrame* src,
                         AVFrame* work, int frame_number, int64_t pts, bool* bitmap_current,
                         TVideoHookQuery* query = nullptr, TOverlayBlender* blender = nullptr,
                         TPictureBand* band = nullptr);
  // The picture as one: a copy with the input hook's band put in when it has one, else itself.
  AVFrame* WholePicture(TTranscodeState& r, AVFrame* picture);
  void RunPostHooks(TTranscodeState& r, AVFrame* frame, int frame_number, int64_t pts);
  // Stores a post-hook set (the post-hook lock is held). A set without phPreview gives up the
  // preview window: it is returned, for the caller to let go of after releasing the lock.
  [[nodiscard]] std::shared_ptr<TPreviewWindow> StorePostHooks(TPostHooks hooks);
  // Removes `bits` from the set as it is now (other changes made meanwhile stay).
  void DropPostHooks(TPostHooks bits);
  // Logs the session description when every output is an RTP stream.
  void LogSdp();
  // The video filter graph of "vfilters" between the decoder and the encoder of one output stream
  // (ffmpeg_filters.cpp). With `fit`, the encoder is already open for a size (a later input of a
  // join): the graph ends in a scaler to that size; otherwise the encoder takes the graph's.
  void BuildVideoFilters(TAVOutputStream& ost, TAVInputStream& ist, bool fit);
  // Sends a picture (null: the end of the input) through the stream's filter graph and encodes
  // what comes out.
  void FilterVideo(TTranscodeState& r, TAVOutputStream& ost, TAVInputStream& ist, AVFrame* in);
  // The pause gate between packets: blocks while paused, unless stopping.
  void PauseGate();

  struct TRunDeleter {
    void operator()(TTranscodeState* r) const;
  };
  struct TConvertThreadDeleter {
    void operator()(TConvertThread* t) const;
  };
  // Shared by the owner's thread and the worker.
  struct TConvertState {
    std::atomic<bool> converting{false};
    std::atomic<bool> terminated{false};
    std::mutex lock;
    std::condition_variable cv;
    bool paused = false;  // Guarded by lock.
  } FConvertState;
  std::unique_ptr<TConvertThread, TConvertThreadDeleter> FConvertThread;
  int FPriority = tpNormal;
};

// The process-wide post-hook lock, shared by every engine object.
std::mutex& PostHookLock();

}  // namespace trelvix::engine
