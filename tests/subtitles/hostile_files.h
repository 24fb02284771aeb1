// Hostile subtitle files, generated: huge counts, huge texts, random bytes, deep markup in every
// layout that has markup, times past any film. Each case says what a load must give, so that a
// test counts the rows instead of only surviving the file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace trelvix::subtitles::test {

enum class HostileOutcome {
  kRows,     // loaded; exactly Rows data rows after the banner
  kNothing,  // nothing to load: the banner alone, not reported as loaded
  kRefused,  // refused with a message; the previous timetable stays
};

struct HostileFile {
  const char* name;
  const char* file;  // the extension decides the layout rules
  std::string (*make)();
  double fps;
  HostileOutcome outcome;
  int rows;               // kRows: data rows expected
  const char* first_key;  // kRows: key of the first data row ("" for no check)
  const char* last_key;   // kRows: key of the last data row ("" for no check)
};

const std::vector<HostileFile>& HostileFiles();

// Test names and messages show the case's name.
inline void PrintTo(const HostileFile& h, std::ostream* os) {
  *os << h.name;
}

}  // namespace trelvix::subtitles::test
