// Text subtitle tracks inside a video (SubRip, SubStation, MP4 timed text, WebVTT, plain text)
// loaded into the subtitle timetable as a subtitle file of the matching layout would be: each
// cue's start time comes from its packet, SubStation cues go through the SubStation rules and
// the others through the SubRip ones, with the same markup handling and text bound.
//
// The track is read with a demuxer of its own, so a long film can be read on a worker thread
// while the window goes on (LoadEmbeddedSubtitlesAsync, TEmbeddedSubtitleRead). The media
// libraries must be loaded before and stay loaded while a read runs.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <future>
#include <string>

#include "subtitles/subtitle_loader.h"
#include "subtitles/timetable.h"

namespace trelvix::subtitles {

struct TEmbeddedSubtitles {
  TSubtitleTimetable Timetable;
  TLoadTXTResult Result;  // Loaded: the subtitle switch is to be shown and set on
  QString Error;          // why the track could not be read; empty when it was
};

// True for the codecs whose cues are text that can be burned in.
bool IsTextSubtitleCodec(const std::string& codec_name);

// The lines a subtitle file of the matching layout would hold for the cues of the track, and
// that layout's extension (".SRT" or ".ASS"). Error set (and no lines) when the file or the track
// cannot be read or the track is not a text one. A read whose `cancel` flag is set (by another
// thread) stops at once, while the file is opened or between packets, with Error set.
struct TEmbeddedTrackLines {
  QStringList Lines;
  QString Extension;
  QString Error;
};
TEmbeddedTrackLines ReadEmbeddedSubtitleLines(const std::string& file_name, int stream_index,
                                              const std::atomic<bool>* cancel = nullptr);

// Reads the track and loads it (frame_rate as for LoadTXTLines). Any thread.
TEmbeddedSubtitles LoadEmbeddedSubtitles(const std::string& file_name, int stream_index,
                                         double frame_rate,
                                         const std::atomic<bool>* cancel = nullptr);
// The same on a worker thread; the future holds the result when the worker is done.
std::future<TEmbeddedSubtitles> LoadEmbeddedSubtitlesAsync(const std::string& file_name,
                                                           int stream_index, double frame_rate);

// A read on a worker thread that its owner can give up: `done` gets the result on the worker
// when the read ends, unless the read was given up first. Destroying the object gives the read
// up (opening or reading the file is interrupted) and waits for the worker, so `done` never
// runs once the destructor has returned. Owned by one thread.
class TEmbeddedSubtitleRead {
 public:
  using TDone = std::function<void(TEmbeddedSubtitles)>;
  TEmbeddedSubtitleRead(const std::string& file_name, int stream_index, double frame_rate,
                        TDone done);
  ~TEmbeddedSubtitleRead();
  TEmbeddedSubtitleRead(const TEmbeddedSubtitleRead&) = delete;
  TEmbeddedSubtitleRead& operator=(const TEmbeddedSubtitleRead&) = delete;

 private:
  std::atomic<bool> cancel_{false};
  std::future<void> worker_;  // last: the worker uses cancel_
};

}  // namespace trelvix::subtitles
