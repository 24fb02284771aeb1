// File helpers. File names are byte strings in the system's local 8-bit form (UTF-8 here),
// passed to the system unchanged. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace trelvix::runtime {

// What ReadWholeFile reports when the file cannot be opened or read, and when memory runs out.
constexpr std::int64_t kReadWholeFileFailed = -1;
constexpr std::int64_t kReadWholeFileNoMemory = -12;

// Reads the whole file into contents (which, as every std::string, keeps a zero byte after the
// data: contents.c_str() is the zero-terminated text). Returns the size counting that zero byte,
// contents.size() + 1, or one of the codes above (contents is then empty). Reads to the end of
// the data, so files whose size the system does not know (pipes, /proc) work too.
std::int64_t ReadWholeFile(const std::string& name, std::string& contents);

// Size in bytes of a regular file (symbolic links followed); -1 when it does not exist or is not
// a regular file.
std::int64_t FileSizeOf(const std::string& name);

// True when name exists and is not a folder.
bool FileExists(const std::string& name);

// The folder of the running program file, with a trailing '/'.
std::string ProgramDir();

// Returns the text before the first separator in s (all of s when there is none, or when the
// separator is empty). With remove, s keeps only the text after that separator (empty when there
// was none).
std::string SplitAt(std::string& s, std::string_view separator, bool remove);

}  // namespace trelvix::runtime
