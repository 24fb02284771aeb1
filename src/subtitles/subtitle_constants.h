// Fixed texts and names of the subtitle module: messages, the banner, the settings store's key
// and value names, the program's own key, the accepted subtitle extensions.
#pragma once

namespace trelvix::subtitles {

// The product's web address shown by the banner row of every timetable.
inline constexpr char kWebAddress[] = "www.trelvix.com";
// Banner row text: ".:: " + address + " ::.".
inline constexpr char kBannerPrefix[] = ".:: ";
inline constexpr char kBannerSuffix[] = " ::.";

// Column titles of the timetable editor.
inline constexpr char kColumnTime[] = "Czas";
inline constexpr char kColumnText[] = "Tekst";

// LoadTXT: a SubStation file without an events section.
inline constexpr char kMsgNoEventsSection[] =
    "The subtitle file has no [Events] section; it cannot be loaded.";
// LoadTXT: the file could not be read (reported beside the banner-only timetable).
inline constexpr char kMsgCannotReadFile[] = "Cannot read the subtitle file: %1";

// Subtitle settings of the companion player, read at start.
inline constexpr char kSettingsKey[] = "\\Software\\Dorvane\\Quendal\\";
// The program's own key, written at every start.
inline constexpr char kProgramKey[] = "\\Software\\Trelvix\\iPhone";
inline constexpr char kProgramName[] = "Trelvix to iPhone";
inline constexpr char kProgramShortName[] = "iPhone";
inline constexpr char kProgramVersion[] = "1.3";

// Value names under kSettingsKey, in reading order.
inline constexpr char kValFWidth[] = "FWidth";
inline constexpr char kValIQTime[] = "IQTime";
inline constexpr char kValIQDziel[] = "IQDziel";
inline constexpr char kValIQZmniejsz[] = "IQZmniejsz";
inline constexpr char kValEFontName[] = "EFontName";
inline constexpr char kValEFontSize[] = "EFontSize";
inline constexpr char kValFontColor[] = "FontColor";
inline constexpr char kValFontStyle[] = "FontStyle";
inline constexpr char kValFontCharset[] = "FontCharset";
inline constexpr char kValEObwodka[] = "EObwodka";
inline constexpr char kValIQNapisow[] = "IQNapisow";
inline constexpr char kValFontAutoHeight[] = "FontAutoHeight";
inline constexpr char kValFontVol[] = "FontVol";
inline constexpr char kValNapisyCzas[] = "NapisyCzas";
inline constexpr char kValNapisBottom[] = "NapisBottom";
inline constexpr char kValFontType[] = "FontType";
inline constexpr char kValCLoadTXT[] = "CLoadTXT";
inline constexpr char kValDirectoryTXT[] = "DirectoryTXT";
inline constexpr char kValAllTXTToMenu[] = "AllTXTToMenu";

// Values under kProgramKey.
inline constexpr char kValName[] = "Name";
inline constexpr char kValShortName[] = "ShortName";
inline constexpr char kValPath[] = "Path";
inline constexpr char kValVersion[] = "Version";

// Subtitle types (radio group "Typ Napisów").
inline constexpr const char* kSubtitleTypeNames[4] = {"Przezroczyste", "Nieprzezroczyste",
                                                      "Półprzezroczyste", "Półprzezroczyste XP"};

}  // namespace trelvix::subtitles
