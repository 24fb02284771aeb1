// Text subtitle tracks inside a video (SubRip, SubStation, MP4 timed text, WebVTT, plain text)
// loaded into the subtitle timetable as a subtitle file of the matching layout would be: each
// cue's start time comes from its packet, SubStation cues go through the SubStation rules and
// the others through the SubRip ones, with the same markup handling and text bound.
//
// The track is read with a demuxer of its own, so a long film can be read on a worker thread
// while the window goes on (LoadEmbeddedSubtitlesAsync). The media libraries must be loaded
// before and stay loaded while a read runs.
#pragma once

#include <QString>
#include <QStringList>
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
// cannot be read or the track is not a text one.
struct TEmbeddedTrackLines {
  QStringList Lines;
  QString Extension;
  QString Error;
};
TEmbeddedTrackLines ReadEmbeddedSubtitleLines(const std::string& file_name, int stream_index);

// Reads the track and loads it (frame_rate as for LoadTXTLines). Any thread.
TEmbeddedSubtitles LoadEmbeddedSubtitles(const std::string& file_name, int stream_index,
                                         double frame_rate);
// The same on a worker thread; the future holds the result when the worker is done.
std::future<TEmbeddedSubtitles> LoadEmbeddedSubtitlesAsync(const std::string& file_name,
                                                           int stream_index, double frame_rate);

}  // namespace trelvix::subtitles
