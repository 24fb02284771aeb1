// Reads the load-time dependencies (DT_NEEDED names) of an ELF shared object.
#pragma once

#include <string>
#include <vector>

namespace trelvix::media {

// The DT_NEEDED entries of the file, in order; empty when it is no 64-bit ELF or has none.
std::vector<std::string> ElfNeeded(const std::string& path);

}  // namespace trelvix::media
