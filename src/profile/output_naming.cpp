#include "profile/output_naming.h"

#include <filesystem>

namespace trelvix::profile {

std::string OutputFileName(const std::string& input, const std::string& file_ext,
                           const std::function<bool(const std::string&)>& exists) {
  const auto file_exists = [&](const std::string& name) {
    if (exists) return exists(name);
    std::error_code ec;
    return std::filesystem::exists(name, ec);
  };
  std::string base = input;
  const size_t slash = base.rfind('/');
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) base.erase(dot);
  std::string name = base + "_(Trelvix)" + file_ext;
  for (int n = 1; file_exists(name); ++n)
    name = base + "_(Trelvix_" + std::to_string(n) + ")" + file_ext;
  return name;
}

}  // namespace trelvix::profile
