// Creation of output streams. Each stream gets the engine's own codec context, configured from
// the pending options; the conversion opens it.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/codec_alias.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "media/ff_log.h"
#include "runtime/format.h"

namespace trelvix::engine {
namespace {

using media::llVerbose;
using media::llWarning;

struct TRcOverride {
  int start, end, q;
};

// "start,end,q/start,end,q...": a missing start or end is an error; a missing q counts as 0.
std::vector<TRcOverride> ParseRcOverride(const std::string& text) {
  std::vector<TRcOverride> out;
  const char* p = text.c_str();
  while (p) {
    TRcOverride r{0, 0, 0};
    if (std::sscanf(p, "%d,%d,%d", &r.start, &r.end, &r.q) < 2)
      throw FFmpegException(msg::kRcOverrideError);
    out.push_back(r);
    p = std::strchr(p, '/');
    if (p) ++p;
  }
  return out;
}

}  // namespace

TOutputStreamSetup& TCustomFFmpeg::NewStream(TOutputFile& file, AVMediaType type,
                                             const AVCodec* encoder) {
  media::CodecContextPtr codec(ff::avcodec_alloc_context3(encoder));
  if (!codec) throw FFmpegException(msg::kAllocCodecContextFailed);
  AVStream* st = ff::avformat_new_stream(file.ctx.get(), nullptr);
  if (!st) throw FFmpegException(msg::kCouldNotAllocStream);
  if (st->index < kMaxStreams && Fstreamid_map[st->index] != 0) st->id = Fstreamid_map[st->index];
  codec->codec_type = type;
  codec->thread_count = Fthread_count;
  TOutputStreamSetup s;
  s.st = st;
  s.codec = std::move(codec);
  s.encoder = encoder;
  auto& chain = type == AVMEDIA_TYPE_VIDEO   ? Fvideo_bitstream_filters
                : type == AVMEDIA_TYPE_AUDIO ? Faudio_bitstream_filters
                                             : Fsubtitle_bitstream_filters;
  s.bitstream_filters = std::move(chain);
  chain.clear();
  file.streams.push_back(std::move(s));
  return file.streams.back();
}

void TCustomFFmpeg::ApplyEncoderOptions(TOutputStreamSetup& s, int kind) {
  for (const auto& [name, value] : Fencoder_opts[kind]) {
    void* priv = s.codec->priv_data;
    if (!s.encoder || !priv || !ff::av_opt_find(priv, name.c_str(), nullptr, 0, 0)) {
      LogF(llVerbose, msg::kEncoderOptionDropped, name.c_str(), value.c_str(),
           s.encoder ? s.encoder->name : "(none)");
      continue;
    }
    if (ff::av_opt_set(priv, name.c_str(), value.c_str(), 0) < 0)
      LogF(llWarning, msg::kEncoderOptionRefused, s.encoder->name, name.c_str(), value.c_str());
  }
}

void TCustomFFmpeg::NewVideoStream(TOutputFile& file) {
  AVFormatContext* oc = file.ctx.get();
  const bool copy = Fvideo_stream_copy != 0;

  // What the user's text can get wrong is checked before the stream is added.
  AVCodecID id = AV_CODEC_ID_NONE;
  const AVCodec* enc = nullptr;
  std::vector<TRcOverride> overrides;
  if (!copy) {
    if (!Fvideo_codec_name.empty()) {
      if (!CheckCodecName(Fvideo_codec_name, AVMEDIA_TYPE_VIDEO, true, &id, &enc))
        throw FFmpegException(FLastErrMsg);
    } else {
      id = ff::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_VIDEO);
      enc = ff::avcodec_find_encoder(id);
    }
    if (!Fvideo_rc_override_string.empty()) overrides = ParseRcOverride(Fvideo_rc_override_string);
  }

  TOutputStreamSetup& s = NewStream(file, AVMEDIA_TYPE_VIDEO, enc);
  AVStream* st = s.st;
  AVCodecContext* c = s.codec.get();
  AVCodecContext* opts = FOptions.Initialized() ? FOptions.avcodec_opts[mkVideo] : nullptr;
  if (Fvideo_codec_tag) c->codec_tag = Fvideo_codec_tag;
  if ((Fvideo_global_header & 1) ||
      (Fvideo_global_header == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (opts) opts->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (Fvideo_global_header & 2) {
    c->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    if (opts) opts->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }
  const double x = Fframe_width * Fframe_height != 0
                       ? Fframe_aspect_ratio * static_cast<double>(Fframe_height) / Fframe_width
                       : Fframe_aspect_ratio * 3.0 / 4.0;
  const AVRational sar = ff::av_d2q(x, 255);
  st->sample_aspect_ratio = sar;
  c->sample_aspect_ratio = sar;

  if (copy) {
    s.stream_copy = true;
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  } else {
    c->codec_id = id;
    AVRational rate = Fframe_rate.num != 0 ? Fframe_rate : AVRational{25, 1};
    if (opts)
      FOptions.ApplyContextOptions(c, opts, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    ApplyEncoderOptions(s, mkVideo);
    if (enc && enc->supported_framerates && !Fforce_fps)
      rate = enc->supported_framerates[ff::av_find_nearest_q_idx(rate, enc->supported_framerates)];
    c->time_base = AVRational{rate.den, rate.num};
    c->framerate = rate;
    c->width = Fframe_width;
    c->height = Fframe_height;
    c->pix_fmt = static_cast<AVPixelFormat>(Fframe_pix_fmt);
    if (enc && enc->pix_fmts) {
      bool supported = false;
      for (const AVPixelFormat* p = enc->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        supported = supported || *p == c->pix_fmt;
      const bool mjpeg_keeps =
          enc->id == AV_CODEC_ID_MJPEG && c->strict_std_compliance < 0 &&
          (c->pix_fmt == AV_PIX_FMT_YUV420P || c->pix_fmt == AV_PIX_FMT_YUV422P);
      if (!supported && !mjpeg_keeps) c->pix_fmt = enc->pix_fmts[0];
    }
    if (Fintra_only) c->gop_size = 0;
    if (Fvideo_qscale != 0 || Fsame_quality) {
      c->flags |= AV_CODEC_FLAG_QSCALE;
      s.quality = kLambdaPerQuantiser * Fvideo_qscale;
      c->global_quality = static_cast<int>(std::lround(s.quality));
    }
    for (auto [matrix, target] : {std::pair{&Fintra_matrix, &c->intra_matrix},
                                  std::pair{&Finter_matrix, &c->inter_matrix}}) {
      if (!*matrix) continue;
      auto* m = static_cast<uint16_t*>(ff::av_malloc(64 * sizeof(uint16_t)));
      if (!m) throw FFmpegException(msg::kAllocCodecContextFailed);
      std::copy((*matrix)->begin(), (*matrix)->end(), m);
      ff::av_free(*target);  // owned by the codec context from here on
      *target = m;
    }
    if (!overrides.empty()) {
      auto* rc = static_cast<RcOverride*>(ff::av_mallocz(overrides.size() * sizeof(RcOverride)));
      if (!rc) throw FFmpegException(msg::kAllocCodecContextFailed);
      for (size_t i = 0; i < overrides.size(); ++i) {
        rc[i].start_frame = overrides[i].start;
        rc[i].end_frame = overrides[i].end;
        if (overrides[i].q > 0) {
          rc[i].qscale = overrides[i].q;
          rc[i].quality_factor = 1.0f;
        } else {
          rc[i].qscale = 0;
          rc[i].quality_factor = -overrides[i].q / 100.0f;
        }
      }
      c->rc_override = rc;
      c->rc_override_count = static_cast<int>(overrides.size());
    }
    if (c->rc_initial_buffer_occupancy == 0)
      c->rc_initial_buffer_occupancy = c->rc_buffer_size * 3 / 4;
    c->intra_dc_precision = Fintra_dc_precision - 8;
    if (Fdo_psnr) c->flags |= AV_CODEC_FLAG_PSNR;
    if (Fdo_pass == 1) c->flags |= AV_CODEC_FLAG_PASS1;
    if (Fdo_pass == 2) c->flags |= AV_CODEC_FLAG_PASS2;
  }
  if (!Fvideo_language.empty()) {
    ff::av_dict_set(&st->metadata, "language", Fvideo_language.c_str(), 0);
    Fvideo_language.clear();
  }
  Fvideo_disable = false;
  Fvideo_codec_name.clear();
  Fvideo_stream_copy = 0;
  Fframe_pix_fmt = -1;
}

void TCustomFFmpeg::NewAudioStream(TOutputFile& file) {
  AVFormatContext* oc = file.ctx.get();
  const bool copy = Faudio_stream_copy != 0;
  AVCodecID id = AV_CODEC_ID_NONE;
  const AVCodec* enc = nullptr;
  if (!copy) {
    if (!Faudio_codec_name.empty()) {
      if (!CheckCodecName(Faudio_codec_name, AVMEDIA_TYPE_AUDIO, true, &id, &enc))
        throw FFmpegException(FLastErrMsg);
    } else {
      id = ff::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_AUDIO);
      enc = ff::avcodec_find_encoder(id);
    }
  }

  TOutputStreamSetup& s = NewStream(file, AVMEDIA_TYPE_AUDIO, enc);
  AVStream* st = s.st;
  AVCodecContext* c = s.codec.get();
  AVCodecContext* opts = FOptions.Initialized() ? FOptions.avcodec_opts[mkAudio] : nullptr;
  if (Faudio_codec_tag) c->codec_tag = Faudio_codec_tag;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (opts) opts->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (copy) {
    s.stream_copy = true;
    st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    ff::av_channel_layout_uninit(&c->ch_layout);
    ff::av_channel_layout_default(&c->ch_layout, Faudio_channels);
    c->sample_rate = Faudio_sample_rate;
  } else {
    c->codec_id = id;
    if (opts)
      FOptions.ApplyContextOptions(c, opts, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    ApplyEncoderOptions(s, mkAudio);
    if (Faudio_qscale > kNoAudioQuality) {
      c->flags |= AV_CODEC_FLAG_QSCALE;
      s.quality = kLambdaPerQuantiser * Faudio_qscale;
      c->global_quality = static_cast<int>(std::lround(s.quality));
    }
    ff::av_channel_layout_uninit(&c->ch_layout);
    const uint64_t mask = static_cast<uint64_t>(Fchannel_layout);
    if (mask != 0 && __builtin_popcountll(mask) == Faudio_channels)
      ff::av_channel_layout_from_mask(&c->ch_layout, mask);
    else
      ff::av_channel_layout_default(&c->ch_layout, Faudio_channels);
    c->sample_fmt = static_cast<AVSampleFormat>(Faudio_sample_fmt);
    if (enc && enc->sample_fmts) {
      bool supported = false;
      for (const AVSampleFormat* p = enc->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
        supported = supported || *p == c->sample_fmt;
      if (!supported) c->sample_fmt = enc->sample_fmts[0];
    }
    c->sample_rate = Faudio_sample_rate;
    if (enc && enc->supported_samplerates) {
      int best = enc->supported_samplerates[0];
      for (const int* r = enc->supported_samplerates; *r; ++r)
        if (std::llabs(int64_t{*r} - c->sample_rate) < std::llabs(int64_t{best} - c->sample_rate))
          best = *r;
      if (best != c->sample_rate) {
        LogF(llWarning, msg::kClosestSampleRate, best);
        c->sample_rate = best;
      }
    }
    if (c->sample_rate > 0) c->time_base = AVRational{1, c->sample_rate};
  }
  if (!Faudio_language.empty()) {
    ff::av_dict_set(&st->metadata, "language", Faudio_language.c_str(), 0);
    Faudio_language.clear();
  }
  Faudio_disable = false;
  Faudio_codec_name.clear();
  Faudio_stream_copy = 0;
}

namespace {

// The style header the text subtitle encoders start from when nothing else gives one: one
// "Default" style, as the text decoders describe plain cues.
constexpr char kDefaultSubtitleHeader[] =
    "[Script Info]\r\n"
    "ScriptType: v4.00+\r\n"
    "PlayResX: 384\r\n"
    "PlayResY: 288\r\n"
    "\r\n"
    "[V4+ Styles]\r\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
    "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
    "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
    "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,0,0,2,10,10,10,0\r\n"
    "\r\n"
    "[Events]\r\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\r\n";

}  // namespace

void TCustomFFmpeg::NewSubtitleStream(TOutputFile& file) {
  AVFormatContext* oc = file.ctx.get();
  const bool copy = Fsubtitle_stream_copy != 0;
  AVCodecID id = AV_CODEC_ID_NONE;
  const AVCodec* enc = nullptr;
  if (!copy) {
    if (!Fsubtitle_codec_name.empty()) {
      if (!CheckCodecName(Fsubtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, true, &id, &enc))
        throw FFmpegException(FLastErrMsg);
    } else {
      // Without a name the format's own subtitle codec is taken, as for video and audio.
      id = ff::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_SUBTITLE);
      enc = ff::avcodec_find_encoder(id);
    }
  }

  TOutputStreamSetup& s = NewStream(file, AVMEDIA_TYPE_SUBTITLE, enc);
  AVCodecContext* c = s.codec.get();
  if (Fsubtitle_codec_tag) c->codec_tag = Fsubtitle_codec_tag;
  if (copy) {
    s.stream_copy = true;
    s.st->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
  } else {
    c->codec_id = id;
    // Subtitle times are milliseconds; the encoders refuse to open without a time base.
    c->time_base = AVRational{1, 1000};
    // Text encoders take their styles from the header (ass stores it as the stream's private
    // data, which players need); a plain default when the codec has none yet.
    const AVCodecDescriptor* desc = ff::avcodec_descriptor_get(id);
    if (desc && (desc->props & AV_CODEC_PROP_TEXT_SUB) && !c->subtitle_header) {
      const size_t size = sizeof kDefaultSubtitleHeader - 1;
      c->subtitle_header = static_cast<uint8_t*>(ff::av_mallocz(size + 1));
      if (!c->subtitle_header) throw FFmpegException(msg::kMallocFail);
      std::memcpy(c->subtitle_header, kDefaultSubtitleHeader, size);
      c->subtitle_header_size = static_cast<int>(size);
    }
    if (FOptions.Initialized())
      FOptions.ApplyContextOptions(c, FOptions.avcodec_opts[mkSubtitle],
                                   AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    ApplyEncoderOptions(s, mkSubtitle);
  }
  if (!Fsubtitle_language.empty()) {
    ff::av_dict_set(&s.st->metadata, "language", Fsubtitle_language.c_str(), 0);
    Fsubtitle_language.clear();
  }
  Fsubtitle_disable = false;
  Fsubtitle_codec_name.clear();
  Fsubtitle_stream_copy = 0;
}

}  // namespace trelvix::engine
