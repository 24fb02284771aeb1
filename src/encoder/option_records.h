// The option records that describe the input and output files of a conversion task, the ext-
// options text, and their translation into calls on the engine.
//
// The engine's options always describe the next file it opens, so a record is translated just
// before its file is opened: ApplyInputOptions before OpenInputFile, ApplyOutputOptions before
// OpenOutputFile and AddExtraStreams after a successful one. OpenInputWithOptions and
// OpenOutputWithOptions do the whole sequence for one file. All of it runs on the owner's thread
// while the job is not converting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/ffmpeg.h"

namespace trelvix::encoder {

using engine::kNoValue;  // "no time": the start time or length is not set

enum TOptionTargetType { ttIgnore, ttVCD, ttSVCD, ttDVD };
enum TOptionNormType { ntAuto, ntPAL, ntNTSC };
// The fallback norm of a target: ntPAL or ntNTSC.
using TOptionNormDefault = TOptionNormType;

// Output metadata and time stamp.
struct TStreamInfo {
  double TimeStamp = -1.0;  // days since 1899-12-30, local time; 0 = now; negative = none
  int32_t Year = -1;
  int32_t Track = -1;
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

struct TInputOptions {
  std::string FileName;          // filled from the call's file name when empty
  std::string ForceFormat;       // input format to force
  int64_t TimeStart = kNoValue;  // start position, microseconds
  int32_t ProgramID = -1;        // program of a multi-program input; negative = none
  std::string ExtOptions;        // further engine options (ext-options syntax)
  int32_t Tag = 0;               // application data
  void* Data = nullptr;          // application data
};

// -1 and empty texts mean "not set".
struct TOutputOptions {
  std::string FileName;  // filled from the call's file name when empty
  std::string FileExt;   // for the application only
  std::string ForceFormat;
  int32_t PacketSize = -1;
  int32_t MuxRate = -1;
  float MuxDelay = -1.0f;    // seconds
  float MuxPreload = -1.0f;  // seconds
  std::string AudioCodec;
  std::string AudioPreset;
  bool DisableAudio = false;
  int32_t AudioVolume = -1;  // 256 = unchanged
  int32_t AudioChannels = -1;
  int32_t AudioSampleRate = -1;  // Hz
  int32_t AudioBitrate = -1;     // bit/s
  int32_t AudioBitRateTolerance = -1;
  std::string AudioLanguage;
  int32_t AudioSyncMethod = 0;
  std::string AudioTag;
  std::string VideoCodec;
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string FrameAspectRatio;
  int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
  int32_t GroupPictureSize = -1;
  int32_t VideoBitrate = -1;  // bit/s
  int32_t VideoMaxRate = -1;
  int32_t VideoMinRate = -1;
  int32_t VideoBitRateTolerance = -1;
  int32_t VideoBufSize = -1;
  int32_t VideoSyncMethod = -1;
  std::string VideoTag;
  std::string VideoFilters;
  std::string VideoLanguage;
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool InputSync = false;
  bool CopyTimestamp = false;
  int64_t TimeStart = kNoValue;   // microseconds
  int64_t TimeLength = kNoValue;  // microseconds: output duration limit
  TStreamInfo Info;
  TOptionTargetType TargetType = ttIgnore;
  TOptionNormType NormType = ntAuto;
  TOptionNormDefault NormDefault = ntPAL;
  bool AudioHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int32_t VideoHookBitsPixel = 24;
  bool Join = false;
  std::string ExtOptions;
  int32_t Tag = 0;
  void* Data = nullptr;
};

// --- Ext options: name=value lines separated by line feeds (CR LF, CR) or "<CRLF>" ---

struct TExtOption {
  std::string key;    // as written
  std::string value;  // after the first "="; empty for a line without one
};
std::vector<TExtOption> ParseExtOptions(const std::string& text);

// Passes the lines to SetOption with the key in lower case. Keys that add or configure extra
// streams ("newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf") are
// skipped; "acodec", "vcodec", "scodec" and "s" only pass when codec_keys is set.
void ApplyExtOptions(engine::TCustomFFmpeg& e, const std::string& text, bool codec_keys);

// --- The stream option queue of one output ---

// Up to eight defaults ("def_acodec", "def_vcodec", "def_scodec", "def_apre", "def_vpre",
// "def_spre", "def_s", "def_vf") and, after them in ext-options order, one entry per stream option
// of the ext options ("acodec" ... "s", "vf").
class TStreamOptionQueue {
 public:
  TStreamOptionQueue() = default;
  explicit TStreamOptionQueue(const TOutputOptions& o);

  // The value of "def_" + name, empty when absent.
  std::string Default(const std::string& name) const;
  // For an added stream: the first queued entry of that name (removed), else the default.
  std::string Take(const std::string& name);
  // Every entry as "name=value", in order.
  std::vector<std::string> Lines() const;

 private:
  void SetDefault(const std::string& name, const std::string& value);
  std::vector<std::pair<std::string, std::string>> entries_;
};

// --- Translation ---

void ApplyInputOptions(engine::TCustomFFmpeg& e, const TInputOptions& o);

// The component's hook handlers; each is installed on the engine when the record asks for it.
struct TOutputHooks {
  engine::TAudioHookEvent audio;
  engine::TVideoHookEvent input_video;
  engine::TVideoHookQuery input_video_query;
  engine::TVideoHookEvent output_video;
};

// Steps before OpenOutputFile: target, codecs, presets, ext options, the record's fields, frame
// size and filters, hooks. Returns the stream option queue for AddExtraStreams.
TStreamOptionQueue ApplyOutputOptions(engine::TCustomFFmpeg& e, const TOutputOptions& o,
                                      const TOutputHooks& hooks = {});

// After a successful OpenOutputFile: one stream per "newaudio", "newvideo", "newsubtitle" line of
// the ext options, each configured by the queued options it takes.
void AddExtraStreams(engine::TCustomFFmpeg& e, const std::string& ext_options,
                     TStreamOptionQueue& queue);

// Applies the record (when given; an empty FileName is filled in, so the caller's record changes)
// and opens the input. The engine's result; LastErrMsg() tells why it failed.
bool OpenInputWithOptions(engine::TCustomFFmpeg& e, const std::string& file_name, TInputOptions* o);
// Applies the record, opens the output (join as the record says) and adds the extra streams.
// Without a record the output is opened with the pending options, without join. The engine's
// result: the number of output files, or -1.
int OpenOutputWithOptions(engine::TCustomFFmpeg& e, const std::string& file_name, TOutputOptions* o,
                          const TOutputHooks& hooks = {});

// --- Time stamp and metadata ---

// Unix seconds of a local date-time (days since 1899-12-30) with the zone's standard bias in
// minutes (local = UTC - bias): (dt - 25569 + bias / 1440) * 86400, rounded.
int64_t OutputTimeStamp(double local_date_time, int bias_minutes);
// The recording time stamp for Info.TimeStamp: now for 0, the value for > 0, none (nullopt) for a
// negative value.
std::optional<int64_t> RecordingTimeStamp(const TStreamInfo& info);
// ("year", ...), ("track", ...), then the non-empty texts: title, author, copyright, comment,
// album, genre.
std::vector<std::pair<std::string, std::string>> MetadataPairs(const TStreamInfo& info);

// --- String forms ---

// TInputOptions defaults; "TimeStart" (any case) sets TimeStart (kNoValue when it does not
// parse); every other line goes to ExtOptions.
TInputOptions InputOptionsFromText(const std::string& text);
// TOutputOptions defaults; "AudioHook", "VideoInputHook", "VideoOutputHook", "Join" (true unless
// "0"), "VideoHookBitsPixel" (24 when it does not parse), "TimeStart", "TimeLength" are taken out;
// every other line goes to ExtOptions.
TOutputOptions OutputOptionsFromText(const std::string& text);

}  // namespace trelvix::encoder
