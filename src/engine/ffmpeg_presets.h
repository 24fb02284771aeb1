// The built-in option presets: 36 rows of H.264 encoder settings, looked up by name without
// regard to letter case. Each text is option lines "key=value", each ending with a line feed.
#pragma once

#include <span>
#include <string>

namespace trelvix::engine {

struct TOptionsPreset {
  const char* Name;
  const char* Value;
};

std::span<const TOptionsPreset> BuiltinPresets();
// The row of that name (any letter case), or null.
const TOptionsPreset* FindBuiltinPreset(const std::string& name);

}  // namespace trelvix::engine
