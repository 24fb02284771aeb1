#include "runtime/format.h"

#include <cstdio>

namespace trelvix::runtime {

std::string FormatV(const char* fmt, va_list args) {
  char small[256];
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = FormatV(fmt, args);
  va_end(args);
  return s;
}

}  // namespace trelvix::runtime
