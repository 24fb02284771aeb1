#include "encoder/option_records.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include "engine/text_utils.h"
#include "media/ff_utils.h"

namespace trelvix::encoder {
namespace {

using engine::NormaliseLineBreaks;
using engine::SameText;
using engine::TrimControls;

constexpr double kUnixEpochDateTime = 25569.0;  // 1970-01-01 as days since 1899-12-30

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool ParseInt64(const std::string& s, int64_t* out) {
  const std::string t = TrimControls(s);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  *out = v;
  return true;
}

int64_t Int64OrNoValue(const std::string& s) {
  int64_t v = 0;
  return ParseInt64(s, &v) ? v : kNoValue;
}

const char* NormText(TOptionNormType n) {
  switch (n) {
    case ntPAL:
      return "pal";
    case ntNTSC:
      return "ntsc";
    default:
      return "auto";
  }
}

// The keys of the ext options that configure streams, with "vfilters" counted as "vf".
constexpr const char* kStreamKeys[] = {"acodec", "vcodec", "scodec",   "apre", "vpre",
                                       "spre",   "s",      "vfilters", "vf"};

bool IsStreamKey(const std::string& key) {
  for (const char* k : kStreamKeys)
    if (key == k) return true;
  return false;
}

}  // namespace

// --- Ext options ---

std::vector<TExtOption> ParseExtOptions(const std::string& text) {
  std::string lf = NormaliseLineBreaks(TrimControls(text));
  static const std::string kCrLf = "<CRLF>";
  for (size_t at = lf.find(kCrLf); at != std::string::npos; at = lf.find(kCrLf, at + 1))
    lf.replace(at, kCrLf.size(), "\n");

  std::vector<TExtOption> out;
  if (lf.empty()) return out;
  size_t start = 0;
  while (true) {
    const size_t end = lf.find('\n', start);
    const std::string line =
        lf.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t eq = line.find('=');
    out.push_back(eq == std::string::npos ? TExtOption{line, ""}
                                          : TExtOption{line.substr(0, eq), line.substr(eq + 1)});
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

void ApplyExtOptions(engine::TCustomFFmpeg& e, const std::string& text, bool codec_keys) {
  for (const TExtOption& line : ParseExtOptions(text)) {
    const std::string key = Lower(line.key);
    if (key.empty()) continue;
    if (key == "newvideo" || key == "newaudio" || key == "newsubtitle" || key == "apre" ||
        key == "vpre" || key == "spre" || key == "vfilters" || key == "vf")
      continue;
    if (!codec_keys && (key == "acodec" || key == "vcodec" || key == "scodec" || key == "s"))
      continue;
    e.SetOption(key, line.value);
  }
}

// --- Stream option queue ---

TStreamOptionQueue::TStreamOptionQueue(const TOutputOptions& o) {
  SetDefault("acodec", o.AudioCodec);
  SetDefault("vcodec", o.VideoCodec);
  SetDefault("scodec", o.SubtitleCodec);
  SetDefault("apre", o.AudioPreset);
  SetDefault("vpre", o.VideoPreset);
  SetDefault("spre", o.SubtitlePreset);
  SetDefault("s", o.FrameSize);
  SetDefault("vf", o.VideoFilters);
  for (const TExtOption& line : ParseExtOptions(o.ExtOptions)) {
    std::string key = Lower(line.key);
    if (!IsStreamKey(key) || line.value.empty()) continue;
    if (key == "vfilters") key = "vf";
    if (Default(key).empty()) SetDefault(key, line.value);
    entries_.emplace_back(key, line.value);
  }
}

void TStreamOptionQueue::SetDefault(const std::string& name, const std::string& value) {
  if (value.empty()) return;
  const std::string def = "def_" + name;
  for (auto& [n, v] : entries_) {
    if (n == def) {
      v = value;
      return;
    }
  }
  // Defaults stay ahead of the queued entries.
  auto first_queued = std::find_if(entries_.begin(), entries_.end(),
                                   [](const auto& p) { return p.first.rfind("def_", 0) != 0; });
  entries_.insert(first_queued, {def, value});
}

std::string TStreamOptionQueue::Default(const std::string& name) const {
  const std::string def = "def_" + name;
  for (const auto& [n, v] : entries_)
    if (n == def) return v;
  return {};
}

std::string TStreamOptionQueue::Take(const std::string& name) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == name) {
      std::string v = std::move(it->second);
      entries_.erase(it);
      return v;
    }
  }
  return Default(name);
}

std::vector<std::string> TStreamOptionQueue::Lines() const {
  std::vector<std::string> out;
  for (const auto& [n, v] : entries_) out.push_back(n + "=" + v);
  return out;
}

// --- Translation ---

void ApplyInputOptions(engine::TCustomFFmpeg& e, const TInputOptions& o) {
  ApplyExtOptions(e, o.ExtOptions, true);
  e.SetForceFormat(o.ForceFormat);
  e.SetStartTime(o.TimeStart);
  e.SetProgramID(o.ProgramID);
}

TStreamOptionQueue ApplyOutputOptions(engine::TCustomFFmpeg& e, const TOutputOptions& o,
                                      const TOutputHooks& hooks) {
  TStreamOptionQueue queue(o);

  // Target.
  const char* fallback = o.NormDefault == ntPAL ? "pal" : "ntsc";
  switch (o.TargetType) {
    case ttVCD:
      e.SetTarget("vcd", NormText(o.NormType), fallback);
      break;
    case ttSVCD:
      e.SetTarget("svcd", NormText(o.NormType), fallback);
      break;
    case ttDVD:
      e.SetTarget("dvd", NormText(o.NormType), fallback);
      break;
    case ttIgnore:
      break;
  }

  // Codecs, then the presets, which may be named after them.
  e.SetAudioCodec(queue.Default("acodec"));
  e.SetVideoCodec(queue.Default("vcodec"));
  e.SetSubtitleCodec(queue.Default("scodec"));
  e.ApplyPreset("apre", queue.Default("apre"));
  e.ApplyPreset("vpre", queue.Default("vpre"));
  e.ApplyPreset("spre", queue.Default("spre"));

  ApplyExtOptions(e, o.ExtOptions, false);

  // The record's fields.
  e.SetForceFormat(o.ForceFormat);
  if (o.PacketSize > 0) e.SetIntOption("packetsize", o.PacketSize);
  if (o.MuxRate > 0) e.SetIntOption("muxrate", o.MuxRate);
  e.SetMuxMaxDelay(o.MuxDelay);
  e.SetMuxPreload(o.MuxPreload);
  if (o.DisableAudio) e.SetAudioDisable(true);
  e.SetAudioVolume(o.AudioVolume);
  e.SetAudioChannels(o.AudioChannels);
  e.SetAudioSampleRate(o.AudioSampleRate);
  if (o.AudioBitrate > 0) e.SetIntOption("ab", o.AudioBitrate);
  if (o.AudioBitRateTolerance > 0) e.SetIntOption("abt", o.AudioBitRateTolerance);
  e.SetAudioLanguage(o.AudioLanguage);
  e.SetAudioSyncMethod(o.AudioSyncMethod);
  e.SetAudioTag(o.AudioTag);
  if (o.DisableVideo) e.SetVideoDisable(true);
  e.SetFrameRate(o.FrameRate);
  e.SetFrameAspectRatio(o.FrameAspectRatio);
  e.SetCropTop(o.CropTop);
  e.SetCropBottom(o.CropBottom);
  e.SetCropLeft(o.CropLeft);
  e.SetCropRight(o.CropRight);
  if (o.GroupPictureSize > 0) e.SetIntOption("g", o.GroupPictureSize);
  if (o.VideoBitrate > 0) e.SetIntOption("vb", o.VideoBitrate);
  if (o.VideoMaxRate > 0) e.SetIntOption("maxrate", o.VideoMaxRate);
  if (o.VideoMinRate > 0) e.SetIntOption("minrate", o.VideoMinRate);
  if (o.VideoBitRateTolerance > 0) e.SetIntOption("bt", o.VideoBitRateTolerance);
  if (o.VideoBufSize > 0) e.SetIntOption("bufsize", o.VideoBufSize);
  e.SetVideoSyncMethod(o.VideoSyncMethod);
  e.SetVideoTag(o.VideoTag);
  e.SetVideoLanguage(o.VideoLanguage);
  if (o.DisableSubtitle) e.SetSubtitleDisable(true);
  e.SetSubtitleLanguage(o.SubtitleLanguage);
  if (o.InputSync) e.SetInputSync(true);
  if (o.CopyTimestamp) e.SetCopyTimestamp(true);
  e.SetStartTime(o.TimeStart);
  e.SetRecordingTime(o.TimeLength);
  if (const std::optional<int64_t> ts = RecordingTimeStamp(o.Info)) e.SetRecordingTimestamp(*ts);
  for (const auto& [key, value] : MetadataPairs(o.Info)) e.AddMetadata(key, value);

  e.SetFrameSize(queue.Default("s"));
  e.SetVideoFilters(queue.Default("vf"));

  if (o.AudioHook) e.SetOnAudioHook(hooks.audio);
  if (o.VideoInputHook) {
    e.SetOnInputVideoHook(hooks.input_video);
    e.SetOnInputVideoHookQuery(hooks.input_video_query);
  }
  if (o.VideoOutputHook) e.SetOnOutputVideoHook(hooks.output_video);
  e.SetVideoHookBitsPixel(o.VideoHookBitsPixel);
  return queue;
}

void AddExtraStreams(engine::TCustomFFmpeg& e, const std::string& ext_options,
                     TStreamOptionQueue& queue) {
  const auto take = [&](const char* name) { e.SetOption(name, queue.Take(name)); };
  for (const TExtOption& line : ParseExtOptions(ext_options)) {
    const std::string key = Lower(line.key);
    if (key == "newaudio") {
      take("acodec");
      take("apre");
    } else if (key == "newvideo") {
      take("vcodec");
      take("vpre");
      take("s");
      take("vf");
    } else if (key == "newsubtitle") {
      take("scodec");
      take("spre");
    } else {
      continue;
    }
    e.SetOption(key, line.value);
  }
}

bool OpenInputWithOptions(engine::TCustomFFmpeg& e, const std::string& file_name,
                          TInputOptions* o) {
  if (o) {
    if (o->FileName.empty()) o->FileName = file_name;
    ApplyInputOptions(e, *o);
  }
  return e.OpenInputFile(file_name);
}

int OpenOutputWithOptions(engine::TCustomFFmpeg& e, const std::string& file_name, TOutputOptions* o,
                          const TOutputHooks& hooks) {
  if (!o) return e.OpenOutputFile(file_name, false);
  if (o->FileName.empty()) o->FileName = file_name;
  TStreamOptionQueue queue = ApplyOutputOptions(e, *o, hooks);
  const int result = e.OpenOutputFile(file_name, o->Join);
  if (result >= 0) AddExtraStreams(e, o->ExtOptions, queue);
  return result;
}

// --- Time stamp and metadata ---

int64_t OutputTimeStamp(double local_date_time, int bias_minutes) {
  return std::llround((local_date_time - kUnixEpochDateTime + bias_minutes / 1440.0) * 86400.0);
}

std::optional<int64_t> RecordingTimeStamp(const TStreamInfo& info) {
  if (info.TimeStamp < 0) return std::nullopt;
  const int bias = media::StandardTimeZoneBias();
  // Now, as a local date-time of the zone's standard time, so that it converts back exactly.
  const double dt =
      info.TimeStamp == 0 ? media::UnixToLocalTime(std::time(nullptr)) : info.TimeStamp;
  return OutputTimeStamp(dt, bias);
}

std::vector<std::pair<std::string, std::string>> MetadataPairs(const TStreamInfo& info) {
  std::vector<std::pair<std::string, std::string>> out;
  if (info.Year > 0) out.emplace_back("year", std::to_string(info.Year));
  if (info.Track > 0) out.emplace_back("track", std::to_string(info.Track));
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &info.Title},     {"author", &info.Author}, {"copyright", &info.Copyright},
      {"comment", &info.Comment}, {"album", &info.Album},   {"genre", &info.Genre}};
  for (const auto& [key, value] : texts)
    if (!value->empty()) out.emplace_back(key, *value);
  return out;
}

// --- String forms ---

TInputOptions InputOptionsFromText(const std::string& text) {
  TInputOptions o;
  for (const TExtOption& line : ParseExtOptions(text)) {
    if (SameText(line.key, "TimeStart"))
      o.TimeStart = Int64OrNoValue(line.value);
    else
      o.ExtOptions += line.key + "=" + line.value + "\n";
  }
  return o;
}

TOutputOptions OutputOptionsFromText(const std::string& text) {
  TOutputOptions o;
  for (const TExtOption& line : ParseExtOptions(text)) {
    const bool flag = line.value != "0";
    if (SameText(line.key, "AudioHook")) {
      o.AudioHook = flag;
    } else if (SameText(line.key, "VideoInputHook")) {
      o.VideoInputHook = flag;
    } else if (SameText(line.key, "VideoOutputHook")) {
      o.VideoOutputHook = flag;
    } else if (SameText(line.key, "Join")) {
      o.Join = flag;
    } else if (SameText(line.key, "VideoHookBitsPixel")) {
      int64_t v = 0;
      o.VideoHookBitsPixel =
          ParseInt64(line.value, &v) && v >= INT32_MIN && v <= INT32_MAX ? static_cast<int>(v) : 24;
    } else if (SameText(line.key, "TimeStart")) {
      o.TimeStart = Int64OrNoValue(line.value);
    } else if (SameText(line.key, "TimeLength")) {
      o.TimeLength = Int64OrNoValue(line.value);
    } else {
      o.ExtOptions += line.key + "=" + line.value + "\n";
    }
  }
  return o;
}

}  // namespace trelvix::encoder
