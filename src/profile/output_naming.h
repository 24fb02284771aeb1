// Where a converted file goes: next to its input, named after it.
#pragma once

#include <functional>
#include <string>

namespace trelvix::profile {

// base + "_(Trelvix)" + ext, or base + "_(Trelvix_n)" + ext with the first n = 1, 2, ... whose
// file does not exist; base is the input's full name without its last extension. `exists`
// defaults to a file-system check (replaceable for tests).
std::string OutputFileName(const std::string& input, const std::string& file_ext,
                           const std::function<bool(const std::string&)>& exists = {});

}  // namespace trelvix::profile
