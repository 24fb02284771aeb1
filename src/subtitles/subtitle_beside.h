// Finding the subtitle file that lies beside a video: same folder, same base name, a subtitle
// extension in any letter case. Used when subtitles are loaded automatically with a video.
#pragma once

#include <QString>

namespace trelvix::subtitles {

// The subtitle file for `video` (folder + base name without the last extension + a subtitle
// extension), or an empty text when there is none. ".srt" is preferred, then ".txt", then
// ".sub", ".ssa", ".ass", ".smi"; between names that differ only in the letter case of the
// extension the first in code-point order wins.
QString FindSubtitleBeside(const QString& video);

}  // namespace trelvix::subtitles
