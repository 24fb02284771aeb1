// printf-style formatting into a std::string (the messages of the suite use C format texts).
#pragma once

#include <cstdarg>
#include <string>

namespace trelvix::runtime {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

}  // namespace trelvix::runtime
