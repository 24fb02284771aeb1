// Small text helpers shared by the option table, the presets and the option records.
#pragma once

#include <string>

namespace trelvix::engine {

// Removes blanks and control characters (every byte up to ' ') from both ends.
std::string TrimControls(const std::string& s);
// CR LF and lone CR become LF.
std::string NormaliseLineBreaks(const std::string& s);
// Equal ignoring ASCII case.
bool SameText(const std::string& a, const char* b);

}  // namespace trelvix::engine
