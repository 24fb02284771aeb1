// The subtitle settings as the options window's controls hold them, with their defaults, and
// the values derived from them (the subtitle font, the fixed display time, the outline width).
// A plain value: the options model owns one, and each conversion copies it.
#pragma once

#include <QString>
#include <cstdint>

#include "runtime/bitmap.h"
#include "runtime/color.h"

namespace trelvix::subtitles {

// The Central European character set number of the settings ("FontCharset").
inline constexpr int kEastEuropeCharset = 238;

// The subtitle font without settings: Arial, 27 pixels high, white, no style, Central European.
runtime::TFont DefaultSubtitleFont();

// Subtitle types ("Typ Napisów").
enum TSubtitleType {
  stPrzezroczyste = 0,       // outlined text
  stNieprzezroczyste = 1,    // text alone
  stPolprzezroczyste = 2,    // text on black boxes
  stPolprzezroczysteXP = 3,  // outlined text
};

struct TSubtitleSettings {
  // Control ranges.
  static constexpr double kFWidthMin = 50, kFWidthMax = 99;
  static constexpr int kIQTimeMin = 2500, kIQTimeMax = 5500, kIQTimeStep = 500;
  static constexpr double kEFontSizeMin = 6, kEFontSizeMax = 99;
  static constexpr double kEObwodkaMin = 1, kEObwodkaMax = 6;
  static constexpr double kFontVolMin = 3, kFontVolMax = 30;
  static constexpr double kNapisyCzasMin = 1, kNapisyCzasMax = 10;
  static constexpr double kNapisBottomMin = 0, kNapisBottomMax = 99;
  static constexpr int kFontTypeMin = 0, kFontTypeMax = 3;

  double FWidth = 95;      // maximum width, percent of the frame width (used as Trunc(FWidth + 1))
  int IQTime = 4000;       // reading speed: lower is faster
  bool IQDziel = true;     // split lines that do not fit
  bool IQZmniejsz = true;  // reduce the font when a line does not fit
  QString EFontName = QStringLiteral("Arial");
  double EFontSize = 20;  // points
  runtime::TColor FontColor = runtime::clWhite;
  runtime::TFontStyles FontStyle = 0;  // bit 0 bold, 1 italic, 2 underline, 3 strike-out
  int FontCharset = kEastEuropeCharset;
  double EObwodka = 4;         // outline width, pixels
  bool IQNapisow = true;       // intelligent subtitles: reading-speed timing and queueing
  bool FontAutoHeight = true;  // character height from the frame height
  double FontVol = 10;         // automatic height, percent of the frame height
  double NapisyCzas = 4;       // fixed display time, seconds
  double NapisBottom = 1;      // distance from the bottom, percent of the free height
  int FontType = stPrzezroczyste;
  bool CLoadTXT = true;       // load a subtitle beside the video, or its own track, with it
  QString DirectoryTXT;       // kept, not used here
  bool AllTXTToMenu = false;  // kept, not used here

  // Derived values.
  runtime::TFont PanelWzorFont = DefaultSubtitleFont();  // the subtitle font
  int NapisyCzasTag = 4000;  // fixed display time, milliseconds: Trunc(NapisyCzas × 1000)
  int EObwodkaTag = 4;       // Trunc(EObwodka)
};

}  // namespace trelvix::subtitles
