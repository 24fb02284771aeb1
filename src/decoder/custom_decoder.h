// TCustomDecoder: opens a media file (or attaches to a container context opened by somebody
// else) and describes it: container facts, per-stream facts, stream counts and the first stream
// of each kind, and a multi-line description (FileInfoText).
//
// Queries never throw for ordinary failures: they report through ReportError (logged through the
// current logger and kept in LastErrMsg) and return the record's "no answer" contents, an empty
// text, -1 or false. Only a missing media library throws (EDecoderError).
//
// Single-threaded: one caller thread at a time. The player attaches and detaches its own
// decoder from its play threads; nothing else uses that decoder meanwhile.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "decoder/stream_info.h"
#include "media/ff_base_component.h"
#include "media/unicode_io.h"

struct AVFormatContext;
struct AVStream;

namespace trelvix::decoder {

// Raised for a missing library and for frame access on a context the decoder did not open.
class EDecoderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCustomDecoder : public media::TFFBaseComponent {
 public:
  TCustomDecoder();
  ~TCustomDecoder() override;

  // The decoder's library set (codec, format, util, scale). LoadAVLib sets the loader's library
  // path; a failed load copies the loader's text into LastErrMsg.
  bool LoadAVLib(const std::string& APath);
  bool AVLibLoaded() const;
  void UnloadAVLib();

  // Opens a file (UTF-8 name), forcing the input format by short name unless AFormatName is
  // empty. Closes any previous file first; on failure no file is attached.
  bool LoadFile(const std::string& AFileName, const std::string& AFormatName = "");
  // Forgets the file; an owned file is closed, an attached one is left alone.
  virtual void CloseFile();

  // The open or attached context (null when none). Not owned by the caller.
  AVFormatContext* FileHandle() const { return FFileHandle; }
  // Attaches an externally opened context (null detaches). The decoder never closes it; the
  // context must outlive the attachment.
  virtual void SetFileHandle(AVFormatContext* AValue);

  std::string FileName();  // UTF-8
  std::string FormatName();
  std::string FormatLongName();
  int64_t FileSize() const { return FFileSize; }
  const std::string& ForceFormat() const { return FForceFormat; }
  int32_t StreamCount() const { return FStreamCount; }
  int32_t ProgramCount() const { return FProgramCount; }
  int32_t AudioStreamCount() const { return FAudioStreamCount; }
  int32_t VideoStreamCount() const { return FVideoStreamCount; }
  int32_t SubtitleStreamCount() const { return FSubtitleStreamCount; }
  int32_t FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
  int32_t FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
  int32_t FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }
  // The last reported problem; never cleared by a success.
  const std::string& LastErrMsg() const { return FLastErrMsg; }

  TFileStreamInfo FileStreamInfo();
  // AStreamIndex -1 means the first stream of the kind.
  TVideoStreamInfo ReadVideoStreamInfo(int32_t AStreamIndex);
  TAudioStreamInfo ReadAudioStreamInfo(int32_t AStreamIndex);
  TSubtitleStreamInfo ReadSubtitleStreamInfo(int32_t AStreamIndex);
  TVideoStreamInfo FirstVideoStreamInfo() { return ReadVideoStreamInfo(-1); }
  TAudioStreamInfo FirstAudioStreamInfo() { return ReadAudioStreamInfo(-1); }
  TSubtitleStreamInfo FirstSubtitleStreamInfo() { return ReadSubtitleStreamInfo(-1); }

  bool IsAudioStream(int32_t AStreamIndex);
  bool IsVideoStream(int32_t AStreamIndex);
  bool IsSubtitleStream(int32_t AStreamIndex);

  // The description of the file, every line ended by CR LF; empty without a file.
  std::string FileInfoText();

 protected:
  // Resets the counts and, with a file attached, reads them again.
  virtual void RefreshFileInfo();
  // Throws EDecoderError naming the first of codec, format, util and scale not loaded.
  void CheckLibraries() const;
  // Logs with the library level (16 error, 24 warning, 32 info, 48 debug) and keeps the text.
  void ReportError(int av_level, const std::string& msg);
  void ReportErrorF(int av_level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
  // Keeps the text without logging it.
  void SetLastErrMsg(const std::string& msg) { FLastErrMsg = msg; }
  // The stream when AStreamIndex addresses one, else null (no report).
  AVStream* Stream(int32_t AStreamIndex) const;
  bool OwnHandle() const { return FOwnHandle; }

 private:
  int32_t ResolveStreamIndex(int32_t AStreamIndex, int media_type, const char* no_stream_msg,
                             const char* wrong_kind_msg);
  bool IsStreamOfType(int32_t AStreamIndex, int media_type);
  std::string StreamLine(int index);

  // The custom I/O of a "unicode:utf8:" name; declared before the context that reads through it.
  media::UnicodeIOPtr FUnicodeIO;
  media::InputFormatPtr FOwnedContext;  // set when the decoder opened the file itself
  AVFormatContext* FFileHandle = nullptr;
  bool FOwnHandle = false;
  std::string FLastErrMsg;
  std::string FForceFormat;
  int64_t FFileSize = -1;
  int32_t FStreamCount = -1;
  int32_t FProgramCount = -1;
  int32_t FAudioStreamCount = -1;
  int32_t FVideoStreamCount = -1;
  int32_t FSubtitleStreamCount = -1;
  int32_t FFirstAudioStreamIndex = -1;
  int32_t FFirstVideoStreamIndex = -1;
  int32_t FFirstSubtitleStreamIndex = -1;
};

}  // namespace trelvix::decoder
