// The records that describe an opened media file: the container and one stream of each kind.
// Plain values; a default-constructed record holds the "no answer" contents that a failed query
// returns (numbers -1, strings empty).
#pragma once

#include <cstdint>
#include <string>

namespace trelvix::decoder {

struct TAVRational {
  int32_t num = -1;
  int32_t den = -1;
};

// Container facts. Times in microseconds, -1 when the container has no value.
struct TFileStreamInfo {
  int64_t StartTime = -1;
  int64_t Duration = -1;
  int32_t BitRate = -1;    // bits per second; 0 when the library has no estimate
  int64_t TimeStamp = -1;  // creation time, seconds since 1970-01-01 UTC; 0 when unknown
  int32_t Year = -1;       // 0 when unknown
  int32_t Track = -1;      // 0 when unknown
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// StartTime/Duration are in the stream's time base (the library's no-value marker passes
// through); the Scaled fields are microseconds, -1 without value.
struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeScaled = -1;
  int64_t Duration = -1;
  int64_t DurationScaled = -1;
  int32_t BitRate = -1;
  int32_t Height = -1;
  int32_t Width = -1;
  float AspectRatio = -1.0f;  // display aspect; 0 when the sample aspect is 0/1
  int32_t PixFmt = -1;        // AVPixelFormat
  TAVRational FrameRate;      // the stream's real base frame rate
  // The clockwise turn (0, 90, 180, 270) and mirror that show the picture upright, from the
  // stream's display matrix.
  int32_t Rotation = 0;
  bool Mirrored = false;
  bool Default = false;  // flagged as the track to play by default
  bool Forced = false;   // flagged as forced
};

struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeScaled = -1;
  int64_t Duration = -1;
  int64_t DurationScaled = -1;
  int32_t BitRate = -1;
  int32_t Channels = -1;
  int32_t SampleRate = -1;
  int32_t SampleFormat = -1;  // AVSampleFormat
  bool Default = false;
  bool Forced = false;
};

struct TSubtitleStreamInfo {
  std::string Language;
  std::string CodecName;
  bool Default = false;
  bool Forced = false;
  // Pictures (DVD, PGS) rather than text: such tracks are not burned in.
  bool Bitmap = false;
  // The codec's short name ("subrip", "ass", "mov_text", "dvd_subtitle" ...).
  std::string Codec;
};

}  // namespace trelvix::decoder
