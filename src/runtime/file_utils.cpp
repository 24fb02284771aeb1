#include "runtime/file_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <new>
#include <stdexcept>

namespace trelvix::runtime {

std::int64_t ReadWholeFile(const std::string& name, std::string& contents) {
  contents.clear();
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kReadWholeFileFailed;
  std::int64_t result = kReadWholeFileFailed;
  try {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      contents.reserve(static_cast<size_t>(st.st_size));
    }
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (n == 0) {
        result = static_cast<std::int64_t>(contents.size()) + 1;
        break;
      }
      contents.append(buf, static_cast<size_t>(n));
    }
  } catch (const std::bad_alloc&) {
    result = kReadWholeFileNoMemory;
  } catch (const std::length_error&) {
    result = kReadWholeFileNoMemory;
  }
  ::close(fd);
  if (result < 0) std::string().swap(contents);
  return result;
}

std::int64_t FileSizeOf(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool FileExists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ProgramDir() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  const std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return "./";
  return exe.substr(0, slash + 1);
}

std::string SplitAt(std::string& s, std::string_view separator, bool remove) {
  const size_t at = separator.empty() ? std::string::npos : s.find(separator);
  if (at == std::string::npos) {
    std::string head = s;
    if (remove) s.clear();
    return head;
  }
  std::string head = s.substr(0, at);
  if (remove) s.erase(0, at + separator.size());
  return head;
}

}  // namespace trelvix::runtime
