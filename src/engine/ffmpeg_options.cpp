// The command-option table (SetOption), its value forms, and the option set with the translation
// of legacy codec options (SetDefaultOption).
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <unordered_map>

#include "engine/codec_alias.h"
#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "engine/legacy_options.h"
#include "engine/text_utils.h"
#include "media/ff_log.h"
#include "runtime/format.h"

namespace trelvix::engine {
namespace {

using media::llInfo;
using media::llVerbose;
using media::llWarning;

// --- Value forms ---

int64_t ParseInt64(const std::string& value) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE)
    throw FFmpegException(runtime::Format(msg::kNotInteger, value.c_str()));
  return v;
}

int ParseInt(const std::string& value) {
  const int64_t v = ParseInt64(value);
  if (v < INT_MIN || v > INT_MAX)
    throw FFmpegException(runtime::Format(msg::kNotInteger, value.c_str()));
  return static_cast<int>(v);
}

double ParseDouble(const std::string& value) {
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || !std::isfinite(v))
    throw FFmpegException(runtime::Format(msg::kNotFloat, value.c_str()));
  return v;
}

float ParseFloat(const std::string& value) {
  return static_cast<float>(ParseDouble(value));
}

bool ParseBool(const std::string& value) {
  return value != "0";
}

// A duration or a date in microseconds.
int64_t ParseTime(const std::string& name, const std::string& value, bool duration) {
  int64_t us = 0;
  if (ff::av_parse_time(&us, value.c_str(), duration ? 1 : 0) < 0 || us == kNoValue)
    throw FFmpegException(runtime::Format(msg::kInvalidSpec, duration ? msg::kDuration : msg::kDate,
                                          name.c_str(), value.c_str()));
  return us;
}

// The folder of the running program, with a trailing '/'.
std::string ProgramDirectory() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

// Is `name` an option of the job's option set (generic codec, format or scaler option, also
// with an a/v/s prefix)?
bool IsGenericOption(const media::TFFOptions& o, const std::string& name) {
  if (!o.Initialized()) return false;
  if (ff::av_opt_find(o.avcodec_opts[0], name.c_str(), nullptr, 0, 0)) return true;
  if (ff::av_opt_find(o.avformat_opts, name.c_str(), nullptr, 0, 0)) return true;
  if (o.sws_opts && ff::av_opt_find(o.sws_opts, name.c_str(), nullptr, 0, 0)) return true;
  if (name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's'))
    return ff::av_opt_find(o.avcodec_opts[0], name.c_str() + 1, nullptr, 0, 0) != nullptr;
  return false;
}

bool ClassHasOption(const AVClass* const* cls, const std::string& name) {
  return cls && *cls &&
         ff::av_opt_find(const_cast<AVClass**>(cls), name.c_str(), nullptr, 0,
                         AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// Some encoder of that media type has `name` in its own option table.
bool AnyEncoderHasOption(AVMediaType type, const std::string& name) {
  void* it = nullptr;
  while (const AVCodec* c = ff::av_codec_iterate(&it))
    if (c->type == type && ff::av_codec_is_encoder(c) && ClassHasOption(&c->priv_class, name))
      return true;
  return false;
}

// Some muxer (the named one when given) has `name` in its own option table.
bool MuxerHasOption(const std::string& format, const std::string& name) {
  if (!format.empty()) {
    const AVOutputFormat* f = ff::av_guess_format(format.c_str(), nullptr, nullptr);
    return f && ClassHasOption(&f->priv_class, name);
  }
  void* it = nullptr;
  while (const AVOutputFormat* f = ff::av_muxer_iterate(&it))
    if (ClassHasOption(&f->priv_class, name)) return true;
  return false;
}

constexpr AVMediaType kKindType[4] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_DATA,
                                      AVMEDIA_TYPE_SUBTITLE};

}  // namespace

// --- SetOption ---

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
  using Handler = std::function<void(TCustomFFmpeg&, const std::string&, const std::string&)>;
  struct Row {
    std::vector<const char*> names;
    Handler run;
  };
  static const std::unordered_map<std::string, Handler> table = [] {
    const auto nothing = [](TCustomFFmpeg& e, const std::string& n, const std::string&) {
      e.LogF(llInfo, "%s%s", msg::kDoNothing, n.c_str());
    };
    const std::vector<Row> rows = {
        {{"L", "h", "version", "formats", "codecs", "bsfs", "protocols", "filters"}, nothing},
        {{"loglevel"},
         [](TCustomFFmpeg&, const std::string&, const std::string& v) {
           try {
             media::TFFLogger::Current().OptLogLevel(v);
           } catch (const std::logic_error&) {
             throw FFmpegException(runtime::Format(msg::kNotInteger, v.c_str()));
           }
         }},
        {{"f"}, [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetForceFormat(v);
         }},
        {{"i", "y"}, nothing},
        {{"map"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.AddStreamMap(v); }},
        {{"map_meta_data"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.AddMetaDataMap(v); }},
        {{"t"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
           e.SetRecordingTime(ParseTime(n, v, true));
         }},
        {{"fs"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Flimit_filesize = ParseInt64(v);
         }},
        {{"ss"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
           e.Fstart_time = ParseTime(n, v, true);
         }},
        {{"itsoffset"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
           e.Finput_ts_offset = ParseTime(n, v, true);
         }},
        {{"itsscale"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetInputTsScale(v); }},
        {{"timestamp"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
           e.Frecording_timestamp = std::llround(ParseTime(n, v, false) / 1000000.0);
         }},
        {{"metadata"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           const size_t eq = v.find('=');
           if (eq == std::string::npos) throw FFmpegException(msg::kMissingEquals);
           e.AddMetadata(v.substr(0, eq), v.substr(eq + 1));
         }},
        {{"dframes"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fmax_frames[mkData] = ParseInt(v);
         }},
        {{"benchmark"}, nothing},
        {{"timelimit"},
         [](TCustomFFmpeg& e, const std::string&, const std::string&) {
           e.LogF(llWarning, "%s", msg::kTimelimit);
         }},
        {{"dump"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fdo_pkt_dump = ParseBool(v);
         }},
        {{"hex"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fdo_hex_dump = ParseBool(v);
         }},
        {{"re"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Frate_emu = ParseBool(v);
         }},
        {{"loop_input"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Floop_input = ParseBool(v);
         }},
        {{"loop_output"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Floop_output = ParseInt(v);
         }},
        {{"v"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetVerbose(ParseInt(v));
         }},
        {{"target"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetTargetOption(v); }},
        {{"threads"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetThreads(v); }},
        {{"vsync"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_sync_method = ParseInt(v);
         }},
        {{"async"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Faudio_sync_method = ParseInt(v);
         }},
        {{"adrift_threshold"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Faudio_drift_threshold = ParseFloat(v);
         }},
        {{"vglobal"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_global_header = ParseInt(v);
         }},
        {{"copyts"},
         [](TCustomFFmpeg& e, const std::string&, const std::string&) { e.Fcopy_ts = true; }},
        {{"shortest"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fopt_shortest = ParseBool(v);
         }},
        {{"dts_delta_threshold"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fdts_delta_threshold = ParseFloat(v);
         }},
        {{"programid"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fopt_programid = ParseInt(v);
         }},
        {{"xerror"},
         [](TCustomFFmpeg& e, const std::string&, const std::string&) {
           e.Fexit_on_error = true;
         }},
        {{"copyinkf"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fcopy_initial_nonkeyframes = ParseInt(v);
         }},
        {{"b", "vb"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetBitRate(n, v); }},
        {{"vframes"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fmax_frames[mkVideo] = ParseInt(v);
         }},
        {{"r"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetFrameRate(v);
         }},
        {{"s"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetFrameSize(v);
         }},
        {{"aspect"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetFrameAspectRatio(v);
         }},
        {{"pix_fmt"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           if (v == "list") return e.ListPixelFormats();
           const AVPixelFormat f = ff::av_get_pix_fmt(v.c_str());
           if (f == AV_PIX_FMT_NONE)
             throw FFmpegException(runtime::Format(msg::kUnknownPixFmt, v.c_str()));
           e.Fframe_pix_fmt = f;
         }},
        {{"croptop"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetCropTop(ParseInt(v));
         }},
        {{"cropbottom"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetCropBottom(ParseInt(v));
         }},
        {{"cropleft"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetCropLeft(ParseInt(v));
         }},
        {{"cropright"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetCropRight(ParseInt(v));
         }},
        {{"padtop", "padbottom", "padleft", "padright", "padcolor"},
         [](TCustomFFmpeg&, const std::string&, const std::string&) {
           throw FFmpegException(msg::kUsePad);
         }},
        {{"intra"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fintra_only = ParseBool(v);
         }},
        {{"vn"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_disable = ParseBool(v);
         }},
        {{"vdt"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_discard = ParseInt(v);
         }},
        {{"qscale"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           const float q = ParseFloat(v);
           if (!(q > 0.0f) || q > 255) throw FFmpegException(msg::kQscaleRange);
           e.Fvideo_qscale = q;
         }},
        {{"rc_override"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_rc_override_string = v;
         }},
        {{"vcodec"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetVideoCodec(v); }},
        {{"me_threshold"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fme_threshold = ParseInt(v);
         }},
        {{"sameq"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fsame_quality = ParseBool(v);
         }},
        {{"pass"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           const int p = ParseInt(v);
           if (p != 1 && p != 2) throw FFmpegException(msg::kPassNumber);
           e.Fdo_pass = p;
         }},
        {{"passlogfile"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fpass_logfilename_prefix = v;
         }},
        {{"deinterlace"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fdo_deinterlace = ParseBool(v);
         }},
        {{"psnr"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fdo_psnr = ParseBool(v);
         }},
        {{"vstats"},
         [](TCustomFFmpeg& e, const std::string&, const std::string&) { e.SetVstats(); }},
        {{"vstats_file"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvstats_filename = v;
         }},
        {{"vhook"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.AddFrameHook(v); }},
        {{"vfilters", "vf"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetVideoFilters(v);
         }},
        {{"intra_matrix", "inter_matrix"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetMatrix(n, v); }},
        {{"top"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Ftop_field_first = ParseInt(v);
         }},
        {{"dc"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fintra_dc_precision = ParseInt(v);
         }},
        {{"vtag"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetVideoTag(v); }},
        {{"atag"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetAudioTag(v); }},
        {{"stag"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetSubtitleTag(v);
         }},
        {{"newvideo"},
         [](TCustomFFmpeg& e, const std::string&, const std::string&) {
           e.AddNewStream(mkVideo);
         }},
        {{"newaudio"},
         [](TCustomFFmpeg& e, const std::string&, const std::string&) {
           e.AddNewStream(mkAudio);
         }},
        {{"newsubtitle"},
         [](TCustomFFmpeg& e, const std::string&, const std::string&) {
           e.AddNewStream(mkSubtitle);
         }},
        {{"vlang"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_language = v;
         }},
        {{"alang"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Faudio_language = v;
         }},
        {{"slang"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fsubtitle_language = v;
         }},
        {{"qphist"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fqp_hist = ParseBool(v);
         }},
        {{"force_fps"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fforce_fps = ParseBool(v);
         }},
        {{"streamid"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
           e.SetStreamId(n, v);
         }},
        {{"ab"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) { e.SetBitRate(n, v); }},
        {{"aframes"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fmax_frames[mkAudio] = ParseInt(v);
         }},
        {{"aq"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Faudio_qscale = ParseFloat(v);
         }},
        {{"ar"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetAudioSampleRate(ParseInt(v));
         }},
        {{"ac"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetAudioChannels(ParseInt(v));
         }},
        {{"an"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Faudio_disable = ParseBool(v);
         }},
        {{"sn"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fsubtitle_disable = ParseBool(v);
         }},
        {{"acodec"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) { e.SetAudioCodec(v); }},
        {{"scodec"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.SetSubtitleCodec(v);
         }},
        {{"vol"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Faudio_volume = ParseInt(v);
         }},
        {{"sample_fmt"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           if (v == "list") return e.ListSampleFormats();
           e.Faudio_sample_fmt = ff::av_get_sample_fmt(v.c_str());
         }},
        {{"vc"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_channel = ParseInt(v);
         }},
        {{"tvstd"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fvideo_standard = v;
         }},
        {{"isync"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Finput_sync = ParseBool(v);
         }},
        {{"muxdelay"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fmux_max_delay = ParseFloat(v);
         }},
        {{"muxpreload"},
         [](TCustomFFmpeg& e, const std::string&, const std::string& v) {
           e.Fmux_preload = ParseFloat(v);
         }},
        {{"absf", "vbsf", "sbsf"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
           e.AddBitstreamFilter(n, v);
         }},
        {{"apre", "vpre", "spre", "fpre"},
         [](TCustomFFmpeg& e, const std::string& n, const std::string& v) {
           e.ApplyPreset(n, v);
         }},
    };
    std::unordered_map<std::string, Handler> map;
    for (const Row& r : rows)
      for (const char* n : r.names) map.emplace(n, r.run);  // the first row of a name wins
    return map;
  }();

  const auto it = table.find(name);
  if (it != table.end())
    it->second(*this, name, value);
  else
    SetDefaultOption(name, value);
}

// --- Handlers ---

void TCustomFFmpeg::SetBitRate(const std::string& name, const std::string& value) {
  if (!SetDefaultOption(name, value)) return;
  AVCodecContext* ctx = FOptions.avcodec_opts[!name.empty() && name[0] == 'a' ? mkAudio : mkVideo];
  int64_t b = 0;
  if (ctx && ff::av_opt_get_int(ctx, "b", 0, &b) >= 0 && b < 1000)
    LogF(llWarning, "%s", msg::kBitrateTooLow);
}

void TCustomFFmpeg::AddStreamMap(const std::string& value) {
  if (static_cast<int>(Fstream_maps.size()) >= kMaxStreamMaps)
    throw FFmpegException(runtime::Format(msg::kTooManyStreamMaps, kMaxStreamMaps));
  TStreamMap m;
  const char* p = value.c_str();
  char* end = nullptr;
  m.file_index = static_cast<int>(std::strtol(p, &end, 0));
  p = *end ? end + 1 : end;
  m.stream_index = static_cast<int>(std::strtol(p, &end, 0));
  p = end;
  if (*p) {
    ++p;
    m.sync_file_index = static_cast<int>(std::strtol(p, &end, 0));
    p = *end ? end + 1 : end;
    m.sync_stream_index = static_cast<int>(std::strtol(p, &end, 0));
  } else {
    m.sync_file_index = m.file_index;
    m.sync_stream_index = m.stream_index;
  }
  Fstream_maps.push_back(m);
}

void TCustomFFmpeg::AddMetaDataMap(const std::string& value) {
  if (static_cast<int>(Fmeta_data_maps.size()) >= kMaxFiles)
    throw FFmpegException(runtime::Format(msg::kTooManyMetaDataMaps, kMaxFiles));
  TMetaDataMap m;
  const char* p = value.c_str();
  char* end = nullptr;
  m.out_file = static_cast<int>(std::strtol(p, &end, 0));
  p = *end ? end + 1 : end;
  m.in_file = static_cast<int>(std::strtol(p, &end, 0));
  Fmeta_data_maps.push_back(m);
}

void TCustomFFmpeg::SetInputTsScale(const std::string& value) {
  const char* p = value.c_str();
  char* end = nullptr;
  const long index = std::strtol(p, &end, 10);
  p = *end ? end + 1 : end;
  const double scale = std::strtod(p, nullptr);
  if (index < 0 || index >= kMaxStreams)
    throw FFmpegException(runtime::Format(msg::kStreamIndexOver, kMaxStreams));
  if (Fnb_input_files < kMaxFiles) Finput_files_ts_scale[Fnb_input_files][index] = scale;
}

void TCustomFFmpeg::SetMatrix(const std::string& name, const std::string& value) {
  // Parsed completely before it replaces the pending matrix, so a syntax error changes nothing.
  std::array<uint16_t, 64> m{};
  const char* p = value.c_str();
  for (int i = 0; i < 64; ++i) {
    m[i] = static_cast<uint16_t>(std::atoi(p));
    const char* comma = std::strchr(p, ',');
    if (!comma) {
      if (i < 63) throw FFmpegException(runtime::Format(msg::kMatrixSyntax, value.c_str(), i));
      break;
    }
    p = comma + 1;
  }
  (name == "intra_matrix" ? Fintra_matrix : Finter_matrix) = m;
}

void TCustomFFmpeg::AddBitstreamFilter(const std::string& name, const std::string& value) {
  if (value.empty() || value[0] == '=') return;
  const std::string filter = value.substr(0, value.find('='));
  AVBSFContext* raw = nullptr;
  if (!ff::av_bsf_get_by_name(filter.c_str()) || ff::av_bsf_list_parse_str(value.c_str(), &raw) < 0)
    throw FFmpegException(runtime::Format(msg::kUnknownBsf, TrimControls(value).c_str()));
  media::BsfPtr bsf(raw);
  auto& chain = name[0] == 'v'   ? Fvideo_bitstream_filters
                : name[0] == 'a' ? Faudio_bitstream_filters
                                 : Fsubtitle_bitstream_filters;
  chain.push_back(std::move(bsf));
}

void TCustomFFmpeg::SetStreamId(const std::string& name, const std::string& value) {
  const size_t colon = value.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == value.size())
    throw FFmpegException(runtime::Format(msg::kStreamIdSyntax, value.c_str(), name.c_str()));
  const int index = ParseInt(value.substr(0, colon));
  const int id = ParseInt(value.substr(colon + 1));
  if (index < 0 || index >= kMaxStreams)
    throw FFmpegException(
        runtime::Format(msg::kStreamIdIndex, index, name.c_str(), kMaxStreams - 1));
  Fstreamid_map[index] = id;
}

void TCustomFFmpeg::SetThreads(const std::string& value) {
  if (value == "auto") {
    Fthread_count = 0;
    return;
  }
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno == ERANGE || n < 0 || n > 1024)
    throw FFmpegException(runtime::Format(msg::kThreadsSyntax, value.c_str()));
  Fthread_count = static_cast<int>(n);
}

void TCustomFFmpeg::SetTargetOption(const std::string& value) {
  const std::string v = TrimControls(value);
  std::string norm = "auto", type = v;
  for (const char* prefix : {"pal-", "ntsc-", "film-"}) {
    const std::string p = prefix;
    if (v.compare(0, p.size(), p) == 0) {
      norm = p.substr(0, p.size() - 1);
      type = v.substr(p.size());
      break;
    }
  }
  SetTarget(type, norm, "ntsc");
}

void TCustomFFmpeg::SetVstats() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char hhnnss[16];
  std::strftime(hhnnss, sizeof hhnnss, "%H%M%S", &t);
  Fvstats_filename = runtime::Format(msg::kVstatsName, ProgramDirectory().c_str(), hhnnss);
}

void TCustomFFmpeg::ListPixelFormats() {
  LogF(llInfo, "%s",
       TrimControls(runtime::Format("%-11s %7s %10s", "name", "planes", "bits/pixel")).c_str());
  const AVPixFmtDescriptor* d = nullptr;
  while ((d = ff::av_pix_fmt_desc_next(d))) {
    const AVPixelFormat f = ff::av_pix_fmt_desc_get_id(d);
    const std::string line = runtime::Format(
        "%-11s %7d %10d", d->name, ff::av_pix_fmt_count_planes(f), ff::av_get_bits_per_pixel(d));
    LogF(llInfo, "%s", TrimControls(line).c_str());
  }
}

void TCustomFFmpeg::ListSampleFormats() {
  char buf[128];
  for (int i = -1; i < AV_SAMPLE_FMT_NB; ++i) {
    if (!ff::av_get_sample_fmt_string(buf, sizeof buf, static_cast<AVSampleFormat>(i))) continue;
    LogF(llInfo, "%s", TrimControls(buf).c_str());
  }
}

void TCustomFFmpeg::AddNewStream(TMediaKind kind) {
  if (Fnb_output_files <= 0) throw FFmpegException(msg::kNeedOutputFile);
  TOutputFile& file = *Foutput_files[Fnb_output_files - 1];
  if (kind == mkVideo)
    NewVideoStream(file);
  else if (kind == mkAudio)
    NewAudioStream(file);
  else
    NewSubtitleStream(file);
}

// --- The option set ---

bool TCustomFFmpeg::SetDefaultOption(const std::string& name, const std::string& value) {
  return SetDefaultOptionFor(name, value, -1);
}

bool TCustomFFmpeg::SetIntOption(const std::string& name, int value) {
  return SetDefaultOption(name, std::to_string(value));
}

const AVCodec* TCustomFFmpeg::PendingEncoder(int kind) const {
  const std::string* name = kind == mkVideo      ? &Fvideo_codec_name
                            : kind == mkAudio    ? &Faudio_codec_name
                            : kind == mkSubtitle ? &Fsubtitle_codec_name
                                                 : nullptr;
  if (!name || name->empty()) return nullptr;
  const AVCodec* c = FindEncoderByName(*name);
  return c && c->type == kKindType[kind] ? c : nullptr;
}

bool TCustomFFmpeg::KeepEncoderOption(int kind, const std::string& name, const std::string& value) {
  if (const AVCodec* enc = PendingEncoder(kind); enc && ClassHasOption(&enc->priv_class, name)) {
    // Checked on a scratch context of the encoder, so a refused value is reported now.
    media::CodecContextPtr probe(ff::avcodec_alloc_context3(enc));
    if (probe && probe->priv_data &&
        ff::av_opt_set(probe->priv_data, name.c_str(), value.c_str(), 0) < 0) {
      LogF(llWarning, msg::kEncoderOptionRefused, enc->name, name.c_str(), value.c_str());
      return false;
    }
  }
  auto& list = Fencoder_opts[kind];
  for (TOptionPair& p : list) {
    if (p.first == name) {
      p.second = value;
      return true;
    }
  }
  list.emplace_back(name, value);
  return true;
}

bool TCustomFFmpeg::SetDefaultOptionFor(const std::string& name, const std::string& value,
                                        int kind_hint) {
  if (name.empty() || value.empty() || !FOptions.Initialized()) return false;

  // Old forms of options that changed name, value form or table.
  const TLegacyTranslation t = TranslateLegacyOption(name, value);
  if (t.translated) {
    bool ok = true;
    for (const auto& [n, v] : t.generic) ok = FOptions.OptionSetDefault(n, v) && ok;
    for (const auto& [n, v] : t.encoder) ok = KeepEncoderOption(mkVideo, n, v) && ok;
    for (const std::string& part : t.dropped)
      LogF(llVerbose, msg::kLegacyDropped, name.c_str(), part.c_str());
    return ok;
  }

  // libx264's "level" is a text of its own that shadows the generic number.
  if (name == "level")
    if (const AVCodec* enc = PendingEncoder(mkVideo); enc && ClassHasOption(&enc->priv_class, name))
      return KeepEncoderOption(mkVideo, name, value);

  if (IsGenericOption(FOptions, name)) return FOptions.OptionSetDefault(name, value);

  // An option of an encoder's own table: the pending encoder of the hinted kind first.
  int order[3] = {mkVideo, mkAudio, mkSubtitle};
  if (kind_hint == mkAudio) std::swap(order[0], order[1]);
  if (kind_hint == mkSubtitle) std::swap(order[0], order[2]);
  for (int kind : order)
    if (const AVCodec* enc = PendingEncoder(kind); enc && ClassHasOption(&enc->priv_class, name))
      return KeepEncoderOption(kind, name, value);
  // No pending encoder has it: kept when some encoder of the kind does, for the encoder that the
  // stream gets (checked there).
  for (int kind : order)
    if (!PendingEncoder(kind) && AnyEncoderHasOption(kKindType[kind], name))
      return KeepEncoderOption(kind, name, value);

  // An option of a muxer's own table ("muxrate", "preload" ...).
  if (MuxerHasOption(Flast_asked_format, name)) {
    for (TOptionPair& p : Fmuxer_opts) {
      if (p.first == name) {
        p.second = value;
        return true;
      }
    }
    Fmuxer_opts.emplace_back(name, value);
    return true;
  }
  return false;
}

}  // namespace trelvix::engine
