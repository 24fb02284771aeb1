#include "hostile_files.h"

#include <cstdio>
#include <random>

namespace trelvix::subtitles::test {
namespace {

std::string SrtTime(int seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d,000", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return buf;
}

// SubRip cues 1..n, cue k at k seconds, with or without blank lines between the cues.
std::string SubRipCues(int n, bool blank_lines) {
  std::string s;
  for (int k = 1; k <= n; ++k) {
    s += std::to_string(k) + "\n" + SrtTime(k) + " --> " + SrtTime(k + 1) + "\nCue " +
         std::to_string(k) + "\n";
    if (blank_lines) s += "\n";
  }
  return s;
}

std::string Repeat(const std::string& part, int n) {
  std::string s;
  s.reserve(part.size() * size_t(n));
  for (int i = 0; i < n; ++i) s += part;
  return s;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(rng() & 0xFF);
  return s;
}

const std::vector<HostileFile> kFiles = {
    {"SubRip20000CuesWithoutBlankLines", "a.srt", [] { return SubRipCues(20000, false); }, 25,
     HostileOutcome::kRows, 20000, "1000", "20000000"},
    {"SubRip20000Cues", "a.srt", [] { return SubRipCues(20000, true); }, 25, HostileOutcome::kRows,
     20000, "1000", "20000000"},
    {"MicroDVD100000LinesOnOneFrame", "a.sub",
     [] { return Repeat("{250}{300}One frame\n", 100000); }, 25, HostileOutcome::kRows, 100000,
     "10000", "100009000"},
    {"MPL2100000LinesOnOneStart", "a.txt", [] { return Repeat("[100][200]Same\n", 100000); }, 25,
     HostileOutcome::kRows, 100000, "10000", "100009000"},
    {"SubRipSingleSubtitleOf5MB", "a.srt",
     [] {
       return "1\n00:00:02,000 --> 00:00:03,000\n" + Repeat(std::string(1000, 'x') + "\n", 5000);
     },
     25, HostileOutcome::kRows, 1, "2000", "2000"},
    {"MicroDVDOneLineOf1MB", "a.sub", [] { return "{50}{75}" + std::string(1 << 20, 'y'); }, 25,
     HostileOutcome::kRows, 1, "2000", "2000"},
    {"RandomBytes1MBNamedSrt", "a.srt", [] { return RandomBytes(1 << 20, 1); }, 25,
     HostileOutcome::kRows, 0, "", ""},
    {"RandomBytes1MBNamedTxt", "a.txt", [] { return RandomBytes(1 << 20, 2); }, 25,
     HostileOutcome::kRows, 0, "", ""},
    {"NestedMarkupMicroDVD", "a.sub",
     [] { return "{25}{50}" + Repeat("{y:i}{y:b}{y:u}{c:$0000FF}{s:40}", 2000) + "deep|er\n"; }, 25,
     HostileOutcome::kRows, 1, "1000", "1000"},
    {"NestedMarkupSubRip", "a.srt",
     [] {
       return "1\n00:00:01,000 --> 00:00:02,000\n" +
              Repeat("<i><b><u><font color=\"#FF0000\">", 10000) + "deep" +
              Repeat("</font></u></b></i>", 10000) + "\n";
     },
     25, HostileOutcome::kRows, 1, "1000", "1000"},
    {"NestedMarkupSAMI", "a.smi",
     [] {
       return "<SAMI><BODY>\n<SYNC Start=1000><P Class=ENCC>" + Repeat("<i><b>", 10000) +
              "deep<br>" + Repeat("<font color=red>", 10000) + "\n";
     },
     25, HostileOutcome::kRows, 1, "1000", "1000"},
    {"NestedMarkupSubStation", "a.ass",
     [] {
       return "[Script Info]\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, "
              "MarginR, MarginV, Effect, Text\nDialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,," +
              Repeat("{\\i1}{\\b1}{\\c&H0000FF&}", 10000) + "deep\\Nline\n";
     },
     25, HostileOutcome::kRows, 1, "1000", "1000"},
    {"MicroDVDTimesFarPastAnyFilm", "a.sub",
     [] {
       return std::string(
           "{2147483647}{2147483648}Far\n{99999999999}{1}Eleven digits\n"
           "{4294967296}{1}Past 32 bits\n{-5}{1}Negative\n{250}{300}Near\n");
     },
     25, HostileOutcome::kRows, 2, "85899345000", "10000"},
    {"MPL2TimesFarPastAnyFilm", "a.txt",
     [] { return std::string("[2147483647][1]Far\n[21474836470][1]Too far\n[10][20]Near\n"); }, 25,
     HostileOutcome::kRows, 2, "214748364000", "1000"},
    {"SubRipTimesFarPastAnyFilm", "a.srt",
     [] {
       return std::string(
           "1\n99:59:59,999 --> 99:59:59,999\nLate\n2\n-1:00:00,000 --> 00:00:01,000\nNeg\n"
           "3\n00:00:05,000 --> 00:00:06,000\nNear\n");
     },
     25, HostileOutcome::kRows, 2, "359999000", "5000"},
    {"SAMITimesFarPastAnyFilm", "a.smi",
     [] {
       return std::string(
           "<SAMI><BODY>\n<SYNC Start=2147483647><P Class=X>Far\n"
           "<SYNC Start=99999999999><P Class=X>Too far\n<SYNC Start=3000><P Class=X>Near\n");
     },
     25, HostileOutcome::kRows, 2, "2147483000", "3000"},
    {"LineTimingTimesPastADay", "a.txt",
     [] { return std::string("99:99:99:Bad\n24:00:00:Bad\n23:59:59:Last of the day\n"); }, 25,
     HostileOutcome::kRows, 1, "86399000", "86399000"},
    {"LineTiming100000LinesStopAtItsLimit", "a.txt",
     [] { return Repeat("00:00:07:Same time\n", 100000); }, 25, HostileOutcome::kRows, 3001, "7000",
     ""},
    {"MicroDVDControlCharactersAndNul", "a.sub",
     [] { return Repeat(std::string("{25}{50}a\0b\x01\x02\x7F|\x1B[2J\n", 20), 1000); }, 25,
     HostileOutcome::kRows, 1000, "1000", "1000000"},
    {"MicroDVDOnlyLineSeparators", "a.sub", [] { return "{25}{50}" + std::string(300, '|'); }, 25,
     HostileOutcome::kRows, 1, "1000", "1000"},
    {"MicroDVDFrameRateOfABillion", "a.sub", [] { return Repeat("{2147483647}{1}x\n", 10); }, 1e9,
     HostileOutcome::kRows, 10, "2000", "11000"},
    {"SubStationWithoutEvents", "a.ssa", [] { return "[Script Info]\n" + RandomBytes(4096, 3); },
     25, HostileOutcome::kRefused, 0, "", ""},
    {"EmptySubRip", "a.srt", [] { return std::string("\n\n\r\n"); }, 25, HostileOutcome::kNothing,
     0, "", ""},
};

}  // namespace

const std::vector<HostileFile>& HostileFiles() {
  return kFiles;
}

}  // namespace trelvix::subtitles::test
