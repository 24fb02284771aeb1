// Input and output file set-up: OpenInputFile, OpenOutputFile and the codec-name checks.
#include <cmath>
#include <ctime>

#include "engine/codec_alias.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/picture_rotation.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "runtime/format.h"

namespace trelvix::engine {
namespace {

using media::llInfo;
using media::llVerbose;

constexpr char kTooManyFiles[] = "Too many %s files (at most %d)";

// Calls `fn` when the scope ends, unless dismissed.
template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F fn) : fn_(std::move(fn)) {}
  ~ScopeExit() { fn_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F fn_;
};

// "YYYY-MM-DDTHH:MM:SS.000000Z" for Unix seconds (the muxers' creation-time form).
std::string IsoUtc(int64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000000Z", &tm);
  return buf;
}

bool HasOption(void* obj, const char* name) {
  return obj && ff::av_opt_find(obj, name, nullptr, 0, 0) != nullptr;
}

}  // namespace

bool TCustomFFmpeg::CheckCodecName(const std::string& name, AVMediaType type, bool encoder,
                                   AVCodecID* id, const AVCodec** codec) {
  *id = AV_CODEC_ID_NONE;
  *codec = nullptr;
  if (name.empty()) return true;
  const char* kind = encoder ? msg::kEncoder : msg::kDecoder;
  const AVCodec* c = encoder ? FindEncoderByName(name) : FindDecoderByName(name);
  if (!c) {
    FLastErrMsg = runtime::Format(msg::kUnknownCodec, kind, name.c_str());
    return false;
  }
  if (c->type != type) {
    FLastErrMsg = runtime::Format(msg::kInvalidCodecKind, kind, name.c_str());
    return false;
  }
  const AVCodecContext* opts = FOptions.Initialized() ? FOptions.avcodec_opts[type] : nullptr;
  const int strict = opts ? opts->strict_std_compliance : FF_COMPLIANCE_NORMAL;
  if ((c->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
    std::string m = runtime::Format(msg::kExperimental, kind, c->name);
    const AVCodec* d = encoder ? ff::avcodec_find_encoder(c->id) : ff::avcodec_find_decoder(c->id);
    if (d && !(d->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      m += "\r\n" + runtime::Format(msg::kNonExperimental, kind, d->name);
    FLastErrMsg = m;
    return false;
  }
  *id = c->id;
  *codec = c;
  return true;
}

bool TCustomFFmpeg::OpenInputFile(const std::string& file_name) {
  // Whatever the outcome, the pending codec names are used up and the channel is reset.
  ScopeExit consume([this] {
    Fvideo_codec_name.clear();
    Faudio_codec_name.clear();
    Fsubtitle_codec_name.clear();
    Fvideo_channel = 0;
  });
  if (Fnb_input_files >= FMaxFiles) {
    FLastErrMsg = runtime::Format(kTooManyFiles, "input", FMaxFiles);
    return false;
  }

  // 1. A forced format.
  const AVInputFormat* fmt = nullptr;
  if (!Flast_asked_format.empty()) {
    const std::string asked = std::move(Flast_asked_format);
    Flast_asked_format.clear();
    fmt = ff::av_find_input_format(asked.c_str());
    if (!fmt) throw FFmpegException(runtime::Format(msg::kUnknownInputFormat, asked.c_str()));
  }

  // 2. What raw and capture inputs cannot tell by themselves, and the format options.
  media::Dict params;
  ff::av_dict_set_int(&params.raw, "sample_rate", Faudio_sample_rate, 0);
  ff::av_dict_set_int(&params.raw, "channels", Faudio_channels, 0);
  if (Fframe_rate.num > 0 && Fframe_rate.den > 0)
    ff::av_dict_set(&params.raw, "framerate",
                    runtime::Format("%d/%d", Fframe_rate.num, Fframe_rate.den).c_str(), 0);
  if (Fframe_width > 0 && Fframe_height > 0)
    ff::av_dict_set(&params.raw, "video_size",
                    runtime::Format("%dx%d", Fframe_width, Fframe_height).c_str(), 0);
  if (Fframe_pix_fmt >= 0)
    if (const char* n = ff::av_get_pix_fmt_name(static_cast<AVPixelFormat>(Fframe_pix_fmt)))
      ff::av_dict_set(&params.raw, "pixel_format", n, 0);
  if (Fvideo_channel != 0) ff::av_dict_set_int(&params.raw, "channel", Fvideo_channel, 0);
  if (!Fvideo_standard.empty())
    ff::av_dict_set(&params.raw, "standard", Fvideo_standard.c_str(), 0);
  if (FOptions.Initialized()) {
    for (const std::string& n : FOptions.opt_names()) {
      const AVOption* o = ff::av_opt_find(FOptions.avformat_opts, n.c_str(), nullptr, 0, 0);
      if (!o || !(o->flags & AV_OPT_FLAG_DECODING_PARAM)) continue;
      uint8_t* text = nullptr;
      if (ff::av_opt_get(FOptions.avformat_opts, n.c_str(), 0, &text) >= 0 && text)
        ff::av_dict_set(&params.raw, n.c_str(), reinterpret_cast<const char*>(text), 0);
      ff::av_free(text);
    }
  }

  // 3. Decoders forced by name.
  AVCodecID ids[3];
  const AVCodec* forced[3];
  if (!CheckCodecName(Fvideo_codec_name, AVMEDIA_TYPE_VIDEO, false, &ids[0], &forced[0]) ||
      !CheckCodecName(Faudio_codec_name, AVMEDIA_TYPE_AUDIO, false, &ids[1], &forced[1]) ||
      !CheckCodecName(Fsubtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, false, &ids[2], &forced[2]))
    return false;

  // 4-5. Open.
  TInputFile in;
  in.file_name = file_name;
  const int err =
      media::OpenInputFile(in.ctx, in.io, media::LibFileName(file_name), fmt, &params.raw);
  if (err < 0) {
    FLastErrMsg = media::LibErrorText(file_name, err);
    return false;
  }
  AVFormatContext* ic = in.ctx.get();
  ic->flags |= AVFMT_FLAG_NONBLOCK;
  ic->video_codec_id = ids[0];
  ic->audio_codec_id = ids[1];
  ic->subtitle_codec_id = ids[2];
  ic->video_codec = forced[0];
  ic->audio_codec = forced[1];
  ic->subtitle_codec = forced[2];
  if (Fpgmyuv_compatibility_hack) {
    ic->video_codec_id = AV_CODEC_ID_PGMYUV;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
      if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        ic->streams[i]->codecpar->codec_id = AV_CODEC_ID_PGMYUV;
  }

  // 6. Program selection.
  if (Fopt_programid != 0) {
    const int wanted = Fopt_programid;
    Fopt_programid = 0;
    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
    bool found = false;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      const AVProgram* prog = ic->programs[p];
      if (prog->id != wanted) continue;
      found = true;
      for (unsigned k = 0; k < prog->nb_stream_indexes; ++k)
        ic->streams[prog->stream_index[k]]->discard = AVDISCARD_DEFAULT;
    }
    if (!found) {
      FLastErrMsg = msg::kProgramNotFound;
      return false;
    }
  }

  // 7. Stream parameters, probed under the codec lock.
  int probe = 0;
  {
    std::lock_guard lock(media::CodecLock());
    probe = ff::avformat_find_stream_info(ic, nullptr);
  }
  if (probe < 0 && Fverbose >= 0) {
    FLastErrMsg = runtime::Format(msg::kNoCodecParameters, file_name.c_str());
    LogF(llVerbose, "%s", FLastErrMsg.c_str());
    return false;
  }

  // 8. Start position.
  int64_t timestamp = Fstart_time;
  if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
  if (Fstart_time != 0) {
    if (ff::av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0 && Fverbose > 0)
      LogF(llVerbose, msg::kCannotSeek, file_name.c_str(), timestamp / 1000000.0);
    Fstart_time = 0;
  }

  // 9. The input's parameters become the pending ones. The decoder list gets one entry per
  // stream, so that it stays aligned with the streams.
  std::vector<const AVCodec*> decoders;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    const AVCodecParameters* par = st->codecpar;
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        // A phone clip's pictures are turned upright before they are scaled: its size and
        // shape are those of the turned picture.
        const decoder::TDisplayRotation turn = decoder::StreamDisplayRotation(st);
        const TPictureSize size = TurnedSize(turn, par->width, par->height);
        Fframe_width = size.width;
        Fframe_height = size.height;
        const AVRational sar =
            st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
        double ratio = sar.num && sar.den ? av_q2d(sar) : 0.0;
        if (par->width * par->height != 0) {
          const double shape = static_cast<double>(par->width) / par->height;
          ratio = ratio != 0 ? ratio * shape : shape;
          if (turn.SwapsSides()) ratio = 1.0 / ratio;
        } else if (ratio == 0) {
          ratio = 4.0 / 3.0;
        }
        Fframe_aspect_ratio = static_cast<float>(ratio);
        Fframe_pix_fmt = par->format < 0 ? 0 : par->format;
        const int lowres = FOptions.Initialized() ? FOptions.avcodec_opts[mkVideo]->lowres : 0;
        if (lowres > 0) {
          Fframe_width >>= lowres;
          Fframe_height >>= lowres;
        }
        const AVRational avg = st->avg_frame_rate, real = st->r_frame_rate;
        if (avg.num && avg.den && real.num && real.den && av_cmp_q(avg, real) != 0 && Fverbose >= 0)
          LogF(llInfo, msg::kFrameRateDiffers, static_cast<int>(i), av_q2d(avg), avg.num, avg.den,
               av_q2d(real), real.num, real.den);
        Fframe_rate = real;
        decoders.push_back(FindDecoderByName(Fvideo_codec_name));
        if (Fvideo_disable)
          st->discard = AVDISCARD_ALL;
        else if (Fvideo_discard)
          st->discard = static_cast<AVDiscard>(Fvideo_discard);
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        Fchannel_layout = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                              ? static_cast<int64_t>(par->ch_layout.u.mask)
                              : 0;
        Faudio_channels = par->ch_layout.nb_channels;
        Faudio_sample_rate = par->sample_rate;
        Faudio_sample_fmt = par->format;
        decoders.push_back(FindDecoderByName(Faudio_codec_name));
        if (Faudio_disable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        decoders.push_back(FindDecoderByName(Fsubtitle_codec_name));
        if (Fsubtitle_disable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT:
      case AVMEDIA_TYPE_UNKNOWN:
        decoders.push_back(nullptr);
        break;
      default:
        throw FFmpegException(msg::kInvalidCodecType);
    }
  }

  // 10-13. Register the input.
  if (ic->duration != AV_NOPTS_VALUE && ic->duration > FTotalOutputDuration)
    FTotalOutputDuration = ic->duration;
  const int index = Fnb_input_files;
  Finput_files_ts_offset[index] = Fcopy_ts ? Finput_ts_offset : Finput_ts_offset - timestamp;
  if (Fverbose >= 0) ff::av_dump_format(ic, index, file_name.c_str(), 0);
  Finput_codecs.insert(Finput_codecs.end(), decoders.begin(), decoders.end());
  Finput_files[index] = std::move(in);
  ++Fnb_input_files;
  return true;
}

int TCustomFFmpeg::OpenOutputFile(const std::string& file_name, bool join) {
  // 1. A join output is the only output of its job.
  if (FJoinMode || (join && Fnb_input_files > 1 && Fnb_output_files > 0)) {
    FLastErrMsg = msg::kCannotJoin;
    return -1;
  }
  if (Fnb_output_files >= FMaxFiles) {
    FLastErrMsg = runtime::Format(kTooManyFiles, "output", FMaxFiles);
    return -1;
  }
  FEnableFilter = !Fvfilters.empty();

  // 2-3. The format and the context.
  const std::string lib_name = media::LibFileName(file_name);
  const AVOutputFormat* ofmt = nullptr;
  if (!Flast_asked_format.empty()) {
    const std::string asked = std::move(Flast_asked_format);
    Flast_asked_format.clear();
    ofmt = ff::av_guess_format(asked.c_str(), nullptr, nullptr);
    if (!ofmt) {
      FLastErrMsg = runtime::Format(msg::kNotSuitableFormat, asked.c_str());
      return -1;
    }
  } else {
    ofmt = ff::av_guess_format(nullptr, lib_name.c_str(), nullptr);
    if (!ofmt) {
      FLastErrMsg = runtime::Format(msg::kNoSuitableFormat, file_name.c_str());
      return -1;
    }
  }
  auto file = std::make_unique<TOutputFile>();
  file->file_name = file_name;
  file->lib_name = lib_name;
  AVFormatContext* oc = nullptr;
  if (ff::avformat_alloc_output_context2(&oc, ofmt, nullptr, lib_name.c_str()) < 0 || !oc)
    throw FFmpegException(msg::kAllocContextFailed);
  file->ctx.reset(oc);

  // 5. Which streams: a kind the format or the options ask for, if the inputs have one.
  bool use_video =
      Fvideo_stream_copy || ofmt->video_codec != AV_CODEC_ID_NONE || !Fvideo_codec_name.empty();
  bool use_audio =
      Faudio_stream_copy || ofmt->audio_codec != AV_CODEC_ID_NONE || !Faudio_codec_name.empty();
  bool use_subtitle = Fsubtitle_stream_copy || ofmt->subtitle_codec != AV_CODEC_ID_NONE ||
                      !Fsubtitle_codec_name.empty();
  if (Fnb_input_files > 0) {
    bool has_video = false, has_audio = false, has_subtitle = false;
    const int examined = join ? 1 : Fnb_input_files;
    for (int i = 0; i < examined; ++i) {
      const AVFormatContext* ic = Finput_files[i].ctx.get();
      for (unsigned j = 0; j < ic->nb_streams; ++j) {
        const int type = ic->streams[j]->codecpar->codec_type;
        if (type < AVMEDIA_TYPE_UNKNOWN || type > AVMEDIA_TYPE_ATTACHMENT) {
          FLastErrMsg = runtime::Format(msg::kCheckInputsFail, msg::kInvalidInputCodecType);
          return -1;
        }
        has_video = has_video || type == AVMEDIA_TYPE_VIDEO;
        has_audio = has_audio || type == AVMEDIA_TYPE_AUDIO;
        has_subtitle = has_subtitle || type == AVMEDIA_TYPE_SUBTITLE;
      }
    }
    use_video = use_video && has_video;
    use_audio = use_audio && has_audio;
    use_subtitle = use_subtitle && has_subtitle;
  }
  if (Faudio_disable) use_audio = false;
  if (Fvideo_disable) use_video = false;
  if (Fsubtitle_disable) use_subtitle = false;

  // 6. The streams.
  const auto create = [&](void (TCustomFFmpeg::*creator)(TOutputFile&), const char* failure) {
    try {
      (this->*creator)(*file);
      return true;
    } catch (const FFmpegException& e) {
      FLastErrMsg = runtime::Format(failure, e.what());
      return false;
    }
  };
  if (use_video && !create(&TCustomFFmpeg::NewVideoStream, msg::kNewVideoFail)) return -1;
  if (use_audio && !create(&TCustomFFmpeg::NewAudioStream, msg::kNewAudioFail)) return -1;
  if (use_subtitle && !create(&TCustomFFmpeg::NewSubtitleStream, msg::kNewSubtitleFail)) return -1;

  // 7. Creation time and metadata; for a key given twice the first value holds.
  if (Frecording_timestamp != 0)
    ff::av_dict_set(&oc->metadata, "creation_time", IsoUtc(Frecording_timestamp).c_str(), 0);
  for (auto it = Fmetadata.rbegin(); it != Fmetadata.rend(); ++it)
    ff::av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
  Fmetadata.clear();

  // 9. The file itself.
  if ((ofmt->flags & AVFMT_NEEDNUMBER) && !ff::av_filename_number_test(lib_name.c_str())) {
    FLastErrMsg = media::LibErrorText(file_name, AVERROR(EDOM));
    return -1;
  }
  if (!(ofmt->flags & AVFMT_NOFILE)) {
    const int err = media::OpenOutputIO(oc, file->io, lib_name);
    if (err < 0) {
      FLastErrMsg = media::LibErrorText(file_name, err);
      return -1;
    }
    file->io_open = true;
  }

  // 10-11. Muxer parameters.
  oc->max_delay = static_cast<int>(std::lround(Fmux_max_delay * 1000000.0));
  if (HasOption(oc->priv_data, "preload"))
    ff::av_opt_set_int(oc->priv_data, "preload", std::lround(Fmux_preload * 1000000.0), 0);
  if (HasOption(oc->priv_data, "loop")) ff::av_opt_set_int(oc->priv_data, "loop", Floop_output, 0);
  oc->flags |= AVFMT_FLAG_NONBLOCK;
  if (FOptions.Initialized())
    FOptions.ApplyContextOptions(oc, FOptions.avformat_opts, AV_OPT_FLAG_ENCODING_PARAM);
  for (const auto& [name, value] : Fmuxer_opts) {
    if (!HasOption(oc->priv_data, name.c_str())) {
      LogF(llVerbose, msg::kEncoderOptionDropped, name.c_str(), value.c_str(), ofmt->name);
      continue;
    }
    if (ff::av_opt_set(oc->priv_data, name.c_str(), value.c_str(), 0) < 0) {
      FLastErrMsg = runtime::Format(msg::kInvalidParameters, file_name.c_str());
      return -1;
    }
  }
  Fmuxer_opts.clear();
  Fstreamid_map.fill(0);

  // 8, 12. Register: one entry, or in join mode one entry per input, all the same file.
  TOutputFile* registered = file.get();
  FOutputFileStore.push_back(std::move(file));
  Foutput_files[Fnb_output_files++] = registered;
  if (join && Fnb_input_files > 1) {
    FJoinMode = true;
    int64_t total = 0;
    for (int i = 0; i < Fnb_input_files; ++i) {
      const int64_t d = Finput_files[i].ctx->duration;
      if (d != AV_NOPTS_VALUE && d > 0) total += d;
    }
    // A recording limit still caps the length.
    if (Frecording_time != INT64_MAX && total > Frecording_time) total = Frecording_time;
    FTotalOutputDuration = total == 0 ? -1 : total;
    for (int i = 1; i < Fnb_input_files; ++i) Foutput_files[Fnb_output_files++] = registered;
  }
  return Fnb_output_files;
}

}  // namespace trelvix::engine
