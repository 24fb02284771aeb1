// TCustomFFmpeg: construction, defaults, reset, freeing and the simple setters.
#include "engine/ffmpeg.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdlib>

#include "engine/ffmpeg_messages.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "runtime/format.h"

namespace trelvix::engine {

std::mutex& PostHookLock() {
  static std::mutex lock;
  return lock;
}

namespace {

bool LibrariesLoaded() {
  return media::FFLoader().Loaded(media::kEncoderLibraries);
}

// Releases library objects without calling the library (used when it is no longer loaded).
template <class P>
void Abandon(P& p) {
  (void)p.release();
}

uint32_t FourCC(const std::string& tag) {
  unsigned char b[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < 4 && i < tag.size(); ++i) b[i] = static_cast<unsigned char>(tag[i]);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace

// --- TOutputFile ---

void TOutputFile::CloseIO() {
  if (!io_open || !ctx) return;
  io_open = false;
  if (ctx->flags & AVFMT_FLAG_CUSTOM_IO) {
    io.reset();  // flushes and closes the file
    ctx->pb = nullptr;
  } else {
    ff::avio_closep(&ctx->pb);
  }
  // A file the conversion never wrote to, or could not finish, is not left behind.
  const std::string path = media::IsUnicodeName(lib_name) ? file_name : lib_name;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_size == 0 || unfinished))
    ::unlink(path.c_str());
}

TOutputFile::~TOutputFile() {
  if (!LibrariesLoaded()) {
    for (TOutputStreamSetup& s : streams) {
      Abandon(s.codec);
      for (media::BsfPtr& b : s.bitstream_filters) Abandon(b);
    }
    Abandon(ctx);
    Abandon(io);
    return;
  }
  CloseIO();
  streams.clear();  // codec contexts and filters before the context that owns the streams
  ctx.reset();
}

// --- TCustomFFmpeg ---

TCustomFFmpeg::TCustomFFmpeg() {
  FMaxFiles = kMaxFiles;
  ReportInterval = 500000;
  PreviewInterval = 100000;
  FVideoHookBitsPixel = 24;
  FJoinMode = FBroken = FFinished = false;
  FTotalOutputDuration = -1;
  InitDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  Stop(true);
  FreeResources();
}

void TCustomFFmpeg::ResetState() {
  if (!LibrariesLoaded()) return;
  FreeResources();
  InitDefaults();
  FJoinMode = FBroken = FFinished = false;
  FConvertState.terminated = false;  // a job reset may run again
  FFatalException = false;
  FFatalMessage.clear();
  FLastErrMsg.clear();
  FTotalOutputDuration = -1;
  FOptions.InitOptions(Fsws_flags);
}

void TCustomFFmpeg::InitDefaults() {
  // Files and streams.
  Fnb_input_files = 0;
  Finput_files_ts_offset.fill(0);
  for (auto& row : Finput_files_ts_scale) row.fill(0.0);
  Finput_codecs.clear();
  Foutput_files.fill(nullptr);
  Fnb_output_files = 0;
  Fstream_maps.clear();
  Fmeta_data_maps.clear();
  Fstreamid_map.fill(0);

  // Pending per-file options.
  Flast_asked_format.clear();
  Fframe_width = Fframe_height = 0;
  Fframe_aspect_ratio = 0;
  Fframe_pix_fmt = -1;
  Faudio_sample_fmt = -1;
  Fframe_topBand = Fframe_bottomBand = Fframe_leftBand = Fframe_rightBand = 0;
  Fmax_frames.fill(INT32_MAX);
  Fframe_rate = AVRational{0, 0};
  Fvideo_qscale = 0;
  Fintra_matrix.reset();
  Finter_matrix.reset();
  Fvideo_rc_override_string.clear();
  Fvideo_disable = false;
  Fvideo_discard = 0;
  Fvideo_codec_name.clear();
  Fvideo_codec_tag = 0;
  Fvideo_language.clear();
  Fsame_quality = false;
  Fdo_deinterlace = false;
  Ftop_field_first = -1;
  Fme_threshold = 0;
  Fintra_dc_precision = 8;
  Floop_input = false;
  Floop_output = -1;
  Fqp_hist = false;
  Fvfilters.clear();
  FEnableFilter = false;
  Fintra_only = false;
  Faudio_sample_rate = 44100;
  Fchannel_layout = 0;
  Faudio_qscale = kNoAudioQuality;
  Faudio_disable = false;
  Faudio_channels = 2;
  Faudio_codec_name.clear();
  Faudio_codec_tag = 0;
  Faudio_language.clear();
  Fsubtitle_disable = false;
  Fsubtitle_codec_name.clear();
  Fsubtitle_language.clear();
  Fsubtitle_codec_tag = 0;
  Fvideo_channel = 0;
  Fvideo_standard.clear();
  Fopt_programid = 0;
  for (auto& list : Fencoder_opts) list.clear();
  Fmuxer_opts.clear();

  // Muxing and timing.
  Fmux_preload = 0.5f;
  Fmux_max_delay = 0.7f;
  Frecording_time = INT64_MAX;
  Fstart_time = 0;
  Frecording_timestamp = 0;
  Finput_ts_offset = 0;
  Fmetadata.clear();
  Flimit_filesize = 0;

  // Behaviour switches.
  Fdo_benchmark = 0;
  Fdo_hex_dump = Fdo_pkt_dump = Fdo_psnr = false;
  Fdo_pass = 0;
  Fpass_logfilename_prefix.clear();
  Faudio_stream_copy = Fvideo_stream_copy = Fsubtitle_stream_copy = 0;
  Fvideo_sync_method = -1;
  Faudio_sync_method = 0;
  Faudio_drift_threshold = 0.1f;
  Fcopy_ts = false;
  Fopt_shortest = false;
  Fvideo_global_header = 0;
  Fvstats_filename.clear();
  Fcopy_initial_nonkeyframes = 0;
  Frate_emu = false;
  Faudio_volume = 256;
  Fexit_on_error = false;
  Fusing_stdin = 0;
  Fusing_vhook = false;
  Fverbose = 1;
  Fthread_count = 0;
  Finput_sync = false;
  Fforce_fps = false;
  Fpgmyuv_compatibility_hack = 0;
  Fdts_delta_threshold = 10.0f;
  Fsws_flags = SWS_BICUBIC;

  // Run-time counters.
  Fq_pressed = 0;
  Fvideo_size = Faudio_size = Fextra_size = 0;
  Fnb_frames_dup = Fnb_frames_drop = 0;
  FShowDupOrDrop = false;
  Ftimer_start = 0;

  Fbit_buffer_size = kDefaultBitBufferSize;

  if (LibrariesLoaded()) {
    Fvideo_bitstream_filters.clear();
    Faudio_bitstream_filters.clear();
    Fsubtitle_bitstream_filters.clear();
    FOptions.InitOptions(Fsws_flags);
  }
}

void TCustomFFmpeg::FreeResources() {
  if (!LibrariesLoaded()) {
    // Nothing may call into a library that is gone; what it held went with it.
    for (auto& f : FOutputFileStore) Abandon(f);
    for (TInputFile& f : Finput_files) {
      Abandon(f.ctx);
      Abandon(f.io);
    }
    for (auto* chain :
         {&Fvideo_bitstream_filters, &Faudio_bitstream_filters, &Fsubtitle_bitstream_filters})
      for (media::BsfPtr& b : *chain) Abandon(b);
    Abandon(Faudio_buf);
    Abandon(Faudio_out);
    Abandon(Finput_tmp);
    Abandon(Fsamples);
    return;
  }
  FOptions.FreeOptions();
  Faudio_buf.reset();
  Faudio_out.reset();
  Fallocated_audio_buf_size = Fallocated_audio_out_size = 0;
  Finput_tmp.reset();
  Fsamples.reset();
  Fsamples_size = 0;

  // Output files: the byte stream is closed, an empty file removed, the context freed. Join
  // entries share one stored file.
  FOutputFileStore.clear();
  Foutput_files.fill(nullptr);
  Fnb_output_files = 0;

  for (int i = 0; i < kMaxFiles; ++i) {
    Finput_files[i].ctx.reset();
    Finput_files[i].io.reset();
    Finput_files[i].file_name.clear();
  }
  Fnb_input_files = 0;

  Fintra_matrix.reset();
  Finter_matrix.reset();
  Fvstats_file.reset();
  Fvstats_filename.clear();
  Fvideo_codec_name.clear();
  Faudio_codec_name.clear();
  Fsubtitle_codec_name.clear();
  Fvideo_standard.clear();
  Fvideo_rc_override_string.clear();
  Fvideo_language.clear();
  Faudio_language.clear();
  Fsubtitle_language.clear();
  Fsubtitle_codec_tag = 0;
  Fvideo_bitstream_filters.clear();
  Faudio_bitstream_filters.clear();
  Fsubtitle_bitstream_filters.clear();
  ReleaseFrameHooks();
}

void TCustomFFmpeg::LogF(int level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = runtime::FormatV(fmt, args);
  va_end(args);
  media::TFFLogger::Current().Log(this, static_cast<media::TLogLevel>(level), text);
}

// --- Setters ---

void TCustomFFmpeg::SetStartTime(int64_t us) {
  if (us != kNoValue) Fstart_time = us;
}

void TCustomFFmpeg::SetRecordingTime(int64_t us) {
  if (us == kNoValue) return;
  Frecording_time = us;
  FTotalOutputDuration = us;
}

void TCustomFFmpeg::SetProgramID(int id) {
  if (id >= 0) Fopt_programid = id;
}

void TCustomFFmpeg::SetAudioVolume(int v) {
  if (v >= 0) Faudio_volume = v;
}

void TCustomFFmpeg::SetMuxMaxDelay(float seconds) {
  if (seconds > 0) Fmux_max_delay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds) {
  if (seconds > 0) Fmux_preload = seconds;
}

void TCustomFFmpeg::SetAudioSampleRate(int v) {
  if (v > 0) Faudio_sample_rate = v;
}

void TCustomFFmpeg::SetAudioChannels(int v) {
  if (v > 0) Faudio_channels = v;
}

void TCustomFFmpeg::SetForceFormat(const std::string& format) {
  if (format.empty()) return;
  if (format == "pgmyuv") {
    Flast_asked_format = "image2";
    Fpgmyuv_compatibility_hack = 1;
    LogF(media::llInfo, "%s", msg::kPgmyuvDeprecated);
  } else {
    Flast_asked_format = format;
  }
}

void TCustomFFmpeg::SetFrameRate(const std::string& rate) {
  if (rate.empty()) return;
  AVRational r{0, 0};
  if (ff::av_parse_video_rate(&r, rate.c_str()) < 0)
    throw FFmpegException(msg::kIncorrectFrameRate);
  Fframe_rate = r;
}

void TCustomFFmpeg::SetFrameSize(const std::string& size) {
  if (size.empty()) return;
  int w = 0, h = 0;
  if (ff::av_parse_video_size(&w, &h, size.c_str()) < 0)
    throw FFmpegException(msg::kIncorrectFrameSize);
  Fframe_width = w;
  Fframe_height = h;
}

void TCustomFFmpeg::SetFrameAspectRatio(const std::string& aspect) {
  if (aspect.empty()) return;
  double ar = 0;
  const size_t colon = aspect.find(':');
  if (colon != std::string::npos) {
    const auto to_int = [](const std::string& s) {
      char* end = nullptr;
      const long v = std::strtol(s.c_str(), &end, 10);
      return (s.empty() || *end != '\0') ? 0L : v;
    };
    const long x = to_int(aspect.substr(0, colon));
    const long y = to_int(aspect.substr(colon + 1));
    ar = y > 0 ? static_cast<double>(x) / static_cast<double>(y) : 0;
  } else {
    char* end = nullptr;
    ar = std::strtod(aspect.c_str(), &end);
    if (*end != '\0') ar = 0;
  }
  // Zero, negative and non-finite ratios are all refused.
  if (!(ar > 0) || !std::isfinite(ar)) throw FFmpegException(msg::kIncorrectAspect);
  Fframe_aspect_ratio = static_cast<float>(ar);
}

namespace {

[[noreturn]] void CropOutside(const char* message) {
  throw FFmpegException(message);
}

}  // namespace

void TCustomFFmpeg::SetCropTop(int v) {
  if (v <= 0) return;
  if (v >= Fframe_height) CropOutside(msg::kVerticalCrop);
  LogF(media::llWarning, "%s", msg::kCropDeprecated);
  Fframe_topBand = v;
  Fframe_height -= v;
}

void TCustomFFmpeg::SetCropBottom(int v) {
  if (v <= 0) return;
  if (v >= Fframe_height) CropOutside(msg::kVerticalCrop);
  LogF(media::llWarning, "%s", msg::kCropDeprecated);
  Fframe_bottomBand = v;
  Fframe_height -= v;
}

void TCustomFFmpeg::SetCropLeft(int v) {
  if (v <= 0) return;
  if (v >= Fframe_width) CropOutside(msg::kHorizontalCrop);
  LogF(media::llWarning, "%s", msg::kCropDeprecated);
  Fframe_leftBand = v;
  Fframe_width -= v;
}

void TCustomFFmpeg::SetCropRight(int v) {
  if (v <= 0) return;
  if (v >= Fframe_width) CropOutside(msg::kHorizontalCrop);
  LogF(media::llWarning, "%s", msg::kCropDeprecated);
  Fframe_rightBand = v;
  Fframe_width -= v;
}

namespace {

void SelectCodec(const std::string& value, std::string& pending, int& copy_switch) {
  if (value.empty()) return;
  pending.clear();
  if (value == "copy")
    copy_switch = 1;
  else
    pending = value;
}

}  // namespace

void TCustomFFmpeg::SetAudioCodec(const std::string& name) {
  SelectCodec(name, Faudio_codec_name, Faudio_stream_copy);
}

void TCustomFFmpeg::SetVideoCodec(const std::string& name) {
  SelectCodec(name, Fvideo_codec_name, Fvideo_stream_copy);
}

void TCustomFFmpeg::SetSubtitleCodec(const std::string& name) {
  SelectCodec(name, Fsubtitle_codec_name, Fsubtitle_stream_copy);
}

void TCustomFFmpeg::SetAudioTag(const std::string& tag) {
  if (!tag.empty()) Faudio_codec_tag = FourCC(tag);
}

void TCustomFFmpeg::SetVideoTag(const std::string& tag) {
  if (!tag.empty()) Fvideo_codec_tag = FourCC(tag);
}

void TCustomFFmpeg::SetSubtitleTag(const std::string& tag) {
  if (!tag.empty()) Fsubtitle_codec_tag = FourCC(tag);
}

void TCustomFFmpeg::SetVideoFilters(const std::string& filters) {
  if (!filters.empty()) Fvfilters = filters;
}

void TCustomFFmpeg::SetAudioLanguage(const std::string& lang) {
  if (!lang.empty()) Faudio_language = lang;
}

void TCustomFFmpeg::SetVideoLanguage(const std::string& lang) {
  if (!lang.empty()) Fvideo_language = lang;
}

void TCustomFFmpeg::SetSubtitleLanguage(const std::string& lang) {
  if (!lang.empty()) Fsubtitle_language = lang;
}

void TCustomFFmpeg::AddMetadata(const std::string& key, const std::string& value) {
  Fmetadata.emplace_back(key, value);
}

void TCustomFFmpeg::SetVideoHookBitsPixel(int bits) {
  // The conversion contexts of the hooks are made for this depth when the hooks first run; a
  // preview window shows bitmaps of one depth, so it is made again.
  if (bits == FVideoHookBitsPixel) return;
  FVideoHookBitsPixel = bits;
  std::shared_ptr<TPreviewWindow> old;
  std::lock_guard lock(PostHookLock());
  old = std::move(FPreviewer);  // let go of after the lock is released
}

}  // namespace trelvix::engine
