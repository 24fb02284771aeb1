// LoadTXT: turns a text subtitle file into the subtitle timetable. Seven layouts are read:
// MicroDVD, MPL2, bracketed minutes, line timing (TMPlayer), SubRip, SubStation Alpha /
// Advanced SubStation (reduced to line timing) and SAMI. Only start times are kept; each row's
// key is a whole second in milliseconds (moved to the next free second, or by 500 ms for equal
// neighbours). Every row's text holds at most kMaxSubtitleText characters, in every layout; a
// SubRip text ends at an index line (digits only, any length), a timing line, a line of 4
// characters or fewer, or the end of the file. Any thread: the loader keeps no state of its own.
#pragma once

#include <QString>
#include <QStringList>

#include "subtitles/timetable.h"

namespace trelvix::subtitles {

// The format kind of the last load.
enum TSubtitleKind {
  skLineTiming = 0,
  skMPL2 = 1,
  skMicroDVD = 2,
  skMinutes = 3,
  skSAMI = 4,
  skSubRip = 5,
};

struct TLoadTXTResult {
  // True when subtitles were loaded: the subtitle switch is to be shown and set on.
  bool Loaded = false;
  // True when the file was refused and the timetable kept its previous rows.
  bool Rejected = false;
  // A message for the user, empty when there is nothing to tell.
  QString Error;
  int Kind = skLineTiming;
};

// The banner row's text, ".:: <web address> ::.".
QString BannerText();

// Upper-case extension with its dot (".SRT"), empty when the name has none.
QString SubtitleExtension(const QString& file_name);
// True for ".TXT", ".SUB", ".SRT", ".SSA", ".SMI", ".ASS" in any letter case.
bool IsSubtitleFileName(const QString& file_name);

// The steps after reading: works on the raw line list napisy in place (emptied at the end) and
// replaces the timetable. extension as SubtitleExtension gives it. frame_rate is the video's
// frames per second for MicroDVD (a value that is not positive counts as 1.0).
TLoadTXTResult LoadTXTLines(QStringList& napisy, const QString& extension, double frame_rate,
                            TSubtitleTimetable& timetable);

// Reads the file (see ReadSubtitleLines) and loads it. An unreadable file leaves the banner row
// alone in the timetable, like an empty one, and reports kMsgCannotReadFile.
TLoadTXTResult LoadTXTFile(const QString& file_name, double frame_rate,
                           TSubtitleTimetable& timetable);

}  // namespace trelvix::subtitles
