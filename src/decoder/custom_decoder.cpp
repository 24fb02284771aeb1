#include "decoder/custom_decoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>
#include <vector>

#include "decoder/decoder_messages.h"
#include "decoder/info_text.h"
#include "media/ff_load.h"
#include "media/ff_log.h"
#include "media/ff_utils.h"
#include "media/ffapi.h"
#include "runtime/format.h"

namespace trelvix::decoder {
namespace {

using runtime::Format;

int64_t NoValueToMinusOne(int64_t t) {
  return t == AV_NOPTS_VALUE ? -1 : t;
}

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Leading decimal number of a metadata value ("2009-05-01" -> 2009, "3/12" -> 3), 0 when none.
int32_t LeadingNumber(const std::string& text) {
  return ClampToInt32(std::strtoll(text.c_str(), nullptr, 10));
}

// A time base with a zero denominator is repaired in the stream itself before any rescaling.
void RepairTimeBase(AVStream* st) {
  if (st->time_base.den == 0) st->time_base.den = st->time_base.num != 0 ? st->time_base.num : 1;
}

int64_t ToMicroseconds(int64_t t, AVRational tb) {
  return ff::av_rescale_q(t, tb, AV_TIME_BASE_Q);
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

// The codec description of the library for a stream's parameters (decoding side).
std::string CodecDescription(const AVCodecParameters* par) {
  media::CodecContextPtr ctx(ff::avcodec_alloc_context3(nullptr));
  if (!ctx || ff::avcodec_parameters_to_context(ctx.get(), par) < 0) return {};
  char buf[256] = {};
  ff::avcodec_string(buf, sizeof buf, ctx.get(), 0);
  return buf;
}

}  // namespace

TCustomDecoder::TCustomDecoder() : TFFBaseComponent("1.0") {
  TCustomDecoder::RefreshFileInfo();
}

TCustomDecoder::~TCustomDecoder() {
  TCustomDecoder::CloseFile();
}

bool TCustomDecoder::LoadAVLib(const std::string& APath) {
  media::FFLoader().SetLibraryPath(APath);
  if (media::FFLoader().Load(media::kDecoderLibraries)) return true;
  FLastErrMsg = media::FFLoader().LastErrMsg();
  return false;
}

bool TCustomDecoder::AVLibLoaded() const {
  return media::FFLoader().Loaded(media::kDecoderLibraries);
}

void TCustomDecoder::UnloadAVLib() {
  media::FFLoader().Unload(media::kDecoderLibraries);
}

void TCustomDecoder::CheckLibraries() const {
  const media::TFFLoader& loader = media::FFLoader();
  if (!loader.Loaded(media::avCodec)) throw EDecoderError(msg::kAVCodecNotLoaded);
  if (!loader.Loaded(media::avFormat)) throw EDecoderError(msg::kAVFormatNotLoaded);
  if (!loader.Loaded(media::avUtil)) throw EDecoderError(msg::kAVUtilNotLoaded);
  if (!loader.Loaded(media::swScale)) throw EDecoderError(msg::kSwScaleNotLoaded);
}

void TCustomDecoder::ReportError(int av_level, const std::string& msg) {
  media::TFFLogger::Post(this, media::AVToLogLevel(av_level), msg);
  FLastErrMsg = msg;
}

void TCustomDecoder::ReportErrorF(int av_level, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = runtime::FormatV(fmt, args);
  va_end(args);
  ReportError(av_level, text);
}

bool TCustomDecoder::LoadFile(const std::string& AFileName, const std::string& AFormatName) {
  CheckLibraries();
  CloseFile();

  const AVInputFormat* fmt = nullptr;
  if (!AFormatName.empty()) {
    fmt = ff::av_find_input_format(AFormatName.c_str());
    if (!fmt) {
      FLastErrMsg = Format(msg::kUnknownInputFormat, AFormatName.c_str());
      return false;
    }
  }

  // The context's non-blocking flag of older generations is not set: on this generation it only
  // makes reads return EAGAIN, which decoding would take for the end of the input.
  const int ret =
      media::OpenInputFile(FOwnedContext, FUnicodeIO, media::LibFileName(AFileName), fmt, nullptr);
  if (ret < 0) {
    ReportError(AV_LOG_ERROR, media::LibErrorText(AFileName, ret));
    CloseFile();
    return false;
  }
  FFileHandle = FOwnedContext.get();
  FOwnHandle = true;

  int probe;
  {
    std::lock_guard lock(media::CodecLock());
    probe = ff::avformat_find_stream_info(FFileHandle, nullptr);
  }
  if (probe < 0) {
    FLastErrMsg = Format(msg::kNoCodecParameters, AFileName.c_str());
    CloseFile();
    return false;
  }
  RefreshFileInfo();
  FForceFormat = AFormatName;
  return true;
}

void TCustomDecoder::SetFileHandle(AVFormatContext* AValue) {
  if (AValue == FFileHandle) return;
  CheckLibraries();
  CloseFile();
  FOwnHandle = false;
  FFileHandle = AValue;
  RefreshFileInfo();
}

void TCustomDecoder::CloseFile() {
  FForceFormat.clear();
  if (FFileHandle) {
    FFileHandle = nullptr;
    FOwnHandle = false;
    FOwnedContext.reset();  // closes only what LoadFile opened
    FUnicodeIO.reset();
  }
  RefreshFileInfo();
}

void TCustomDecoder::RefreshFileInfo() {
  FFileSize = -1;
  FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
  if (!FFileHandle) return;

  int64_t size = FFileHandle->pb ? ff::avio_size(FFileHandle->pb) : 0;
  if (size <= 0 && FFileHandle->url) {
    std::error_code ec;
    const std::filesystem::path path(media::WideFileName(FFileHandle->url));
    if (std::filesystem::exists(path, ec)) {
      const auto fs_size = std::filesystem::file_size(path, ec);
      size = ec ? -1 : static_cast<int64_t>(fs_size);
    }
  }
  FFileSize = size;

  FStreamCount = static_cast<int32_t>(FFileHandle->nb_streams);
  FProgramCount = static_cast<int32_t>(FFileHandle->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  for (int32_t i = 0; i < FStreamCount; ++i) {
    switch (FFileHandle->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        ++FVideoStreamCount;
        if (FFirstVideoStreamIndex < 0) FFirstVideoStreamIndex = i;
        break;
      case AVMEDIA_TYPE_AUDIO:
        ++FAudioStreamCount;
        if (FFirstAudioStreamIndex < 0) FFirstAudioStreamIndex = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        ++FSubtitleStreamCount;
        if (FFirstSubtitleStreamIndex < 0) FFirstSubtitleStreamIndex = i;
        break;
      default:
        break;
    }
  }
}

AVStream* TCustomDecoder::Stream(int32_t AStreamIndex) const {
  if (!FFileHandle || AStreamIndex < 0 ||
      AStreamIndex >= static_cast<int32_t>(FFileHandle->nb_streams))
    return nullptr;
  return FFileHandle->streams[AStreamIndex];
}

std::string TCustomDecoder::FileName() {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return {};
  }
  return FFileHandle->url ? media::WideFileName(FFileHandle->url) : std::string();
}

std::string TCustomDecoder::FormatName() {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return {};
  }
  return FFileHandle->iformat && FFileHandle->iformat->name ? FFileHandle->iformat->name : "";
}

std::string TCustomDecoder::FormatLongName() {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return {};
  }
  return FFileHandle->iformat && FFileHandle->iformat->long_name ? FFileHandle->iformat->long_name
                                                                 : "";
}

TFileStreamInfo TCustomDecoder::FileStreamInfo() {
  TFileStreamInfo info;
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return info;
  }
  const AVDictionary* md = FFileHandle->metadata;
  info.StartTime = NoValueToMinusOne(FFileHandle->start_time);
  info.Duration = NoValueToMinusOne(FFileHandle->duration);
  info.BitRate = ClampToInt32(FFileHandle->bit_rate);
  // This library generation keeps the creation time, year and track only as metadata.
  info.TimeStamp = 0;
  const std::string created = media::MetadataValue(md, "creation_time");
  int64_t created_us = 0;
  if (!created.empty() && ff::av_parse_time(&created_us, created.c_str(), 0) >= 0 && created_us > 0)
    info.TimeStamp = created_us / 1000000;
  std::string year = media::MetadataValue(md, "year");
  if (year.empty()) year = media::MetadataValue(md, "date");
  info.Year = LeadingNumber(year);
  info.Track = LeadingNumber(media::MetadataValue(md, "track"));
  info.Title = media::MetadataValue(md, "title");
  info.Author = media::MetadataValue(md, "author");
  info.Copyright = media::MetadataValue(md, "copyright");
  info.Comment = media::MetadataValue(md, "comment");
  info.Album = media::MetadataValue(md, "album");
  info.Genre = media::MetadataValue(md, "genre");
  return info;
}

int32_t TCustomDecoder::ResolveStreamIndex(int32_t AStreamIndex, int media_type,
                                           const char* no_stream_msg, const char* wrong_kind_msg) {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return -1;
  }
  int32_t index = AStreamIndex;
  if (index < 0) {
    index = media_type == AVMEDIA_TYPE_VIDEO   ? FFirstVideoStreamIndex
            : media_type == AVMEDIA_TYPE_AUDIO ? FFirstAudioStreamIndex
                                               : FFirstSubtitleStreamIndex;
    if (index < 0) {
      ReportError(AV_LOG_ERROR, no_stream_msg);
      return -1;
    }
  } else if (index >= FStreamCount) {
    ReportErrorF(AV_LOG_ERROR, msg::kInvalidStreamIndex, index);
    return -1;
  }
  if (FFileHandle->streams[index]->codecpar->codec_type != media_type) {
    ReportErrorF(AV_LOG_ERROR, wrong_kind_msg, index);
    return -1;
  }
  return index;
}

// The fields every stream record has: language, codec, start, duration and bit rate.
template <class TInfo>
static void FillCommonStreamInfo(TInfo& info, AVStream* st) {
  const AVCodecParameters* par = st->codecpar;
  info.Language = media::MetadataValue(st->metadata, "language");
  info.CodecName = media::CodecNameText(par, false);
  info.StartTime = st->start_time;
  info.Duration = st->duration;
  RepairTimeBase(st);
  if (st->start_time != AV_NOPTS_VALUE)
    info.StartTimeScaled = ToMicroseconds(st->start_time, st->time_base);
  if (st->duration != AV_NOPTS_VALUE)
    info.DurationScaled = ToMicroseconds(st->duration, st->time_base);
  info.BitRate = ClampToInt32(par->bit_rate);
}

TVideoStreamInfo TCustomDecoder::ReadVideoStreamInfo(int32_t AStreamIndex) {
  TVideoStreamInfo info;
  const int32_t index = ResolveStreamIndex(AStreamIndex, AVMEDIA_TYPE_VIDEO, msg::kNoVideoStream,
                                           msg::kNotVideoStream);
  if (index < 0) return info;
  AVStream* st = FFileHandle->streams[index];
  const AVCodecParameters* par = st->codecpar;
  FillCommonStreamInfo(info, st);
  info.Height = par->height;
  info.Width = par->width;
  // A zero denominator gives infinity or NaN, never a fault.
  const AVRational sar = par->sample_aspect_ratio;
  info.AspectRatio = static_cast<float>(par->width * (static_cast<double>(sar.num) / sar.den) /
                                        static_cast<double>(par->height));
  info.PixFmt = par->format;
  info.FrameRate = {st->r_frame_rate.num, st->r_frame_rate.den};
  return info;
}

TAudioStreamInfo TCustomDecoder::ReadAudioStreamInfo(int32_t AStreamIndex) {
  TAudioStreamInfo info;
  const int32_t index = ResolveStreamIndex(AStreamIndex, AVMEDIA_TYPE_AUDIO, msg::kNoAudioStream,
                                           msg::kNotAudioStream);
  if (index < 0) return info;
  AVStream* st = FFileHandle->streams[index];
  const AVCodecParameters* par = st->codecpar;
  FillCommonStreamInfo(info, st);
  info.Channels = par->ch_layout.nb_channels;
  info.SampleRate = par->sample_rate;
  info.SampleFormat = par->format;
  return info;
}

TSubtitleStreamInfo TCustomDecoder::ReadSubtitleStreamInfo(int32_t AStreamIndex) {
  TSubtitleStreamInfo info;
  const int32_t index = ResolveStreamIndex(AStreamIndex, AVMEDIA_TYPE_SUBTITLE,
                                           msg::kNoSubtitleStream, msg::kNotSubtitleStream);
  if (index < 0) return info;
  const AVStream* st = FFileHandle->streams[index];
  info.Language = media::MetadataValue(st->metadata, "language");
  info.CodecName = media::CodecNameText(st->codecpar, false);
  return info;
}

bool TCustomDecoder::IsStreamOfType(int32_t AStreamIndex, int media_type) {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return false;
  }
  if (AStreamIndex < 0 || AStreamIndex >= FStreamCount) {
    ReportErrorF(AV_LOG_ERROR, msg::kInvalidStreamIndex, AStreamIndex);
    return false;
  }
  return FFileHandle->streams[AStreamIndex]->codecpar->codec_type == media_type;
}

bool TCustomDecoder::IsAudioStream(int32_t AStreamIndex) {
  return IsStreamOfType(AStreamIndex, AVMEDIA_TYPE_AUDIO);
}

bool TCustomDecoder::IsVideoStream(int32_t AStreamIndex) {
  return IsStreamOfType(AStreamIndex, AVMEDIA_TYPE_VIDEO);
}

bool TCustomDecoder::IsSubtitleStream(int32_t AStreamIndex) {
  return IsStreamOfType(AStreamIndex, AVMEDIA_TYPE_SUBTITLE);
}

std::string TCustomDecoder::StreamLine(int index) {
  AVStream* st = FFileHandle->streams[index];
  const AVCodecParameters* par = st->codecpar;
  std::string line = Format("Stream #%d", index);
  if (FFileHandle->iformat && (FFileHandle->iformat->flags & AVFMT_SHOW_IDS))
    line += Format("[0x%x]", st->id);
  if (const AVDictionaryEntry* lang = ff::av_dict_get(st->metadata, "language", nullptr, 0))
    line += Format("(%s)", lang->value);
  int g = ff::av_gcd(st->time_base.num, st->time_base.den);
  if (g == 0) g = 1;
  line += Format(", %d/%d", st->time_base.num / g, st->time_base.den / g);
  line += ": " + CodecDescription(par);

  const AVRational ssar = st->sample_aspect_ratio;
  const AVRational csar = par->sample_aspect_ratio;
  // Compared in 32-bit arithmetic, wrapping like the library's own comparison of old.
  const uint32_t cross = static_cast<uint32_t>(ssar.num) * static_cast<uint32_t>(csar.den) -
                         static_cast<uint32_t>(csar.num) * static_cast<uint32_t>(ssar.den);
  if (ssar.num != 0 && cross != 0) {
    int dar_num = 0, dar_den = 0;
    ff::av_reduce(&dar_num, &dar_den, int64_t{par->width} * ssar.num,
                  int64_t{par->height} * ssar.den, 1024 * 1024);
    line += Format(", PAR %d:%d DAR %d:%d", ssar.num, ssar.den, dar_num, dar_den);
  }

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const AVRational fps = st->avg_frame_rate;
    const AVRational tbr = st->r_frame_rate;
    const AVRational tbn = st->time_base;
    const AVRational tbc = ff::av_stream_get_codec_timebase(st);
    if (fps.num && fps.den) line += RateText(av_q2d(fps), "fps");
    if (tbr.num && tbr.den) line += RateText(av_q2d(tbr), "tbr");
    if (tbn.num && tbn.den) line += RateText(1 / av_q2d(tbn), "tbn");
    if (tbc.num && tbc.den) line += RateText(1 / av_q2d(tbc), "tbc");
  }

  RepairTimeBase(st);
  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + StartTimeText(ToMicroseconds(st->start_time, st->time_base));
  if (st->duration == AV_NOPTS_VALUE)
    line += ", Duration: N/A";
  else
    line += ", Duration: " + media::TimeText(ToMicroseconds(st->duration, st->time_base));
  return line;
}

std::string TCustomDecoder::FileInfoText() {
  if (!FFileHandle) {
    ReportError(AV_LOG_WARNING, msg::kFileNotLoaded);
    return {};
  }
  std::vector<std::string> lines;
  lines.push_back("File Name: " + FileName());
  lines.push_back("Format Name: " + FormatName());
  lines.push_back("Format Long Name: " + FormatLongName());
  lines.push_back("File Size: " + media::SizeText(FFileSize));

  const TFileStreamInfo info = FileStreamInfo();
  if (info.Duration < 0)
    lines.push_back("Duration: N/A");
  else
    lines.push_back("Duration: " + media::TimeText(info.Duration));
  if (info.StartTime >= 0) lines.push_back("StartTime: " + StartTimeText(info.StartTime));
  if (info.BitRate < 1)
    lines.push_back("Bit Rate: N/A");
  else
    lines.push_back(Format("Bit Rate: %d kb/s", info.BitRate / 1000));
  if (info.TimeStamp > 0)
    lines.push_back("Time Stamp: " + media::DateTimeText(media::UnixToLocalTime(info.TimeStamp)));
  AppendMetadataBlock(lines, FFileHandle->metadata, "");

  std::vector<bool> printed(FFileHandle->nb_streams, false);
  for (unsigned j = 0; j < FFileHandle->nb_programs; ++j) {
    const AVProgram* p = FFileHandle->programs[j];
    // Demuxers of this generation name the keys "service_provider" and "service_name".
    const std::string provider = media::MetadataValue(
        p->metadata, "provider_name", media::MetadataValue(p->metadata, "service_provider", "N/A"));
    const std::string name = media::MetadataValue(
        p->metadata, "name", media::MetadataValue(p->metadata, "service_name", "N/A"));
    lines.push_back(Format("Program %d %s@%s", p->id, provider.c_str(), name.c_str()));
    AppendMetadataBlock(lines, p->metadata, "  ");
    for (unsigned k = 0; k < p->nb_stream_indexes; ++k) {
      const unsigned s = p->stream_index[k];
      if (s >= FFileHandle->nb_streams) continue;
      lines.push_back(StreamLine(static_cast<int>(s)));
      AppendMetadataBlock(lines, FFileHandle->streams[s]->metadata, "  ");
      printed[s] = true;
    }
  }
  for (unsigned i = 0; i < FFileHandle->nb_streams; ++i) {
    if (printed[i]) continue;
    lines.push_back(StreamLine(static_cast<int>(i)));
    AppendMetadataBlock(lines, FFileHandle->streams[i]->metadata, "  ");
  }
  return JoinLines(lines);
}

}  // namespace trelvix::decoder
