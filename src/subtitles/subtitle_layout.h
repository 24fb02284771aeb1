// Laying out one subtitle: its line split, the split of a line too wide for the frame, fitting
// the lines to the width, in-line markup (font, colour, italic, bold, underline tags) and the
// reading time that decides how long it stays. Stateless apart from the font state the caller
// hands in; any thread.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "runtime/color.h"
#include "subtitles/subtitle_settings.h"

namespace trelvix::subtitles {

// Up to three lines of one subtitle.
struct TSubtitleLines {
  QString Line[3];
  int Count = 1;
};

// Breaks a timetable text at "|" or "\N" (SubStation) into at most three lines; separators past
// the second stay inside line 3. Line 2 holds at most 255 characters of the rest after line 1.
TSubtitleLines SplitSubtitleLines(const QString& text);

// Where an over-wide line may be broken: the index at which its second part starts (the first
// part keeps the dots, comma, full stop or blank), 0 when it cannot be broken.
int SplitPosition(const QString& s);

// How the fit measures: Width gives a text's width in pixels at the current font size; Reduce
// makes the font one point smaller and returns false once it has reached its smallest size.
struct TFitMeasure {
  std::function<int(const QString&)> Width;
  std::function<bool()> Reduce;
};

// Extra width around the widest line, used for centring and for the background box.
inline constexpr int kTextWidthMargin = 25;
// The font reduction stops at this size in points: smaller text is not readable.
inline constexpr int kMinFontPoints = 6;

// Fits the lines into max_width: splits (split) and shrinks the font (reduce) as needed.
// Returns the text width: the widest line at the final size plus kTextWidthMargin.
int FitToWidth(TSubtitleLines& lines, int max_width, bool split, bool reduce,
               const TFitMeasure& measure);

// The font state that the lines of one subtitle share: markup changes it, and what one line
// sets carries over to the next.
struct TFontState {
  QString Name;
  runtime::TColor Color = runtime::clWhite;
  runtime::TFontStyles Style = runtime::fsBold;
};

// Applies the in-line markup of one line (mode 1 for the first line of a subtitle, 2 for the
// others) to state and returns the line without it. configured is the subtitle font, whose name
// and style the first line returns to when it sets none of its own.
QString ApplyMarkup(const QString& line, int mode, TFontState& state,
                    const runtime::TFont& configured);

// How long a subtitle stays, in milliseconds. waiting counts the subtitles waiting to be shown,
// this one included; gap_ms is the time until the next subtitle's start (0 when unknown): a lone
// short subtitle is held longer when the next one is far away.
int64_t ReadingTime(const QString& text, int waiting, int64_t gap_ms,
                    const TSubtitleSettings& settings);

// Maximum text width for a frame: width × Trunc(FWidth + 1) div 100.
int MaxTextWidth(int frame_width, double fwidth);

}  // namespace trelvix::subtitles
