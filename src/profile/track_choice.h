// Which audio and subtitle tracks of a video are used: the one in the user's language, else the
// one flagged default (for subtitles also forced), else the usual choice (audio: the engine's;
// subtitles: none). The user can name a track by its number among the tracks of its kind (from 1)
// or by a language code. Also the list of tracks that --info prints. Main thread.
#pragma once

#include <QLocale>
#include <string>

namespace trelvix::decoder {
class TCustomDecoder;
}

namespace trelvix::profile {

// The language a code names: ISO 639-1 ("pl"), 639-2 ("pol", also the bibliographic "ger"),
// with or without a region ("pl-PL", "pl_PL"), any letter case. AnyLanguage when unknown ("und",
// empty).
QLocale::Language LanguageOfCode(const std::string& code);

// What the user asked for. Track wins over Language; neither: the automatic choice.
struct TTrackRequest {
  int Track = 0;           // the N-th track of its kind, from 1; 0: not given
  std::string Language{};  // a language code; empty: not given
};

struct TTrackChoice {
  int StreamIndex = -1;  // the chosen stream; -1: none (audio: the engine's usual choice)
  std::string Error;     // why a request cannot be met; empty when it can
};

// The audio track to convert. Automatically (empty request) only when the file has several
// audio tracks: the first in `language`, else the first flagged default, else none.
TTrackChoice ChooseAudioTrack(decoder::TCustomDecoder& d, const TTrackRequest& request,
                              QLocale::Language language);

// The text subtitle track to burn in (bitmap tracks are never chosen). Automatically: the first
// text track in `language`, else the first flagged default or forced, else none. A requested
// track that holds pictures is refused with an error.
TTrackChoice ChooseSubtitleTrack(decoder::TCustomDecoder& d, const TTrackRequest& request,
                                 QLocale::Language language);

// One line per video, audio and subtitle track with its number, stream, language and flags,
// every line ended by a line feed; bitmap subtitle tracks are said to be left alone.
std::string TrackListText(decoder::TCustomDecoder& d);

}  // namespace trelvix::profile
