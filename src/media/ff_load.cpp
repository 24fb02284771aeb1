#include "media/ff_load.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "media/bind/bindings.h"
#include "media/elf_needed.h"
#include "media/ff_log.h"
#include "media/ffapi.h"
#include "runtime/format.h"
#include "runtime/main_thread.h"

namespace trelvix::media {
namespace {

struct TLibraryItem {
  TLibrary Lib;
  const char* Name;  // base name; empty for the process itself
  int Version;       // major version appended to the file name; -1 for none
};

constexpr TLibraryItem kLibraryItems[kLibraryCount] = {
    {avCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR},
    {avDevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR},
    {avFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR},
    {avFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR},
    {avUtil, "avutil", LIBAVUTIL_VERSION_MAJOR},
    {swScale, "swscale", LIBSWSCALE_VERSION_MAJOR},
    {swResample, "swresample", LIBSWRESAMPLE_VERSION_MAJOR},
    {myUtil, "", -1},
    {lbSDL, "SDL2-2.0", 0},
};

struct DlClose {
  void operator()(void* h) const {
    if (h) dlclose(h);
  }
};
using DlHandle = std::unique_ptr<void, DlClose>;

struct TLibraryStatus {
  std::string Name;  // when not empty, the file name used instead of the composed one
  DlHandle Handle;
  bool Fixuped = false;
  std::vector<DlHandle> Dependencies;  // loaded from the library's folder before it
};

// Raised by a fix-up when a required entry point is missing.
struct FixupError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct LoaderState {
  std::recursive_mutex lock;
  TLibraryStatus status[kLibraryCount];  // Guarded by lock.
  std::string last_err_msg;              // Guarded by lock.
  std::string library_path;              // Guarded by lock.
};

LoaderState& State() {
  static LoaderState s;
  return s;
}

std::string DlErrorText() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Loads the dependencies of `path` that lie in `dir` (depth first), so that the library's own
// DT_NEEDED entries resolve to that folder's copies rather than the system's.
void LoadFolderDependencies(const std::string& dir, const std::string& path,
                            std::vector<DlHandle>& out, int depth = 0) {
  if (depth > 16) return;
  for (const std::string& needed : ElfNeeded(path)) {
    const std::string candidate = dir + needed;
    if (!FileExists(candidate)) continue;
    LoadFolderDependencies(dir, candidate, out, depth + 1);
    if (void* h = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) out.emplace_back(h);
  }
}

void Fixup(TLibrary lib, const std::string& file_name, void* handle) {
  for (const SlotEntry& e : BindingTable(lib)) {
    dlerror();
    void* p = dlsym(handle, e.name);
    if (!p && !e.optional) {
      throw FixupError(runtime::Format(
          e.is_variable ? "Load variable %s@%s error: %s" : "Load function %s@%s error: %s", e.name,
          file_name.c_str(), DlErrorText().c_str()));
    }
    *e.address = p;
  }
}

// A bound library stays mapped until the process ends, even after Unload: the media libraries
// and their dependencies leave thread-local destructors, exit handlers and allocations held by
// their globals that must not outlive their code. Unload unbinds it; a later Load binds the same
// module again. A library that fails to bind is freed at once.
void KeepResident(void* handle) {
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name) return;
  if (void* again = dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(again);
}

void Unfix(TLibrary lib) {
  for (const SlotEntry& e : BindingTable(lib)) *e.address = nullptr;
}

// Created at static initialisation so that it outlives every object created later.
[[maybe_unused]] TFFLoader& kLoaderCreated = FFLoader();

}  // namespace

TFFLoader::TFFLoader() {
  // Both are created before the loader, so they are still there when it unloads at exit.
  CodecLock();
  State();
}

TFFLoader::~TFFLoader() {
  { std::lock_guard g(CodecLock()); }  // wait for a holder to finish
  Unload(kAllLibraries);
}

std::string TFFLoader::FileName(TLibrary lib) const {
  LoaderState& s = State();
  {
    std::lock_guard g(s.lock);
    if (!s.status[lib].Name.empty()) return s.status[lib].Name;
  }
  const TLibraryItem& item = kLibraryItems[lib];
  if (item.Name[0] == '\0') return {};
  std::string name = std::string("lib") + item.Name + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

void TFFLoader::SetLibraryFileName(TLibrary lib, const std::string& name) {
  LoaderState& s = State();
  std::lock_guard g(s.lock);
  s.status[lib].Name = name;
}

bool TFFLoader::Load(TLibrary lib) {
  LoaderState& s = State();
  std::lock_guard g(s.lock);
  TLibraryStatus& st = s.status[lib];
  const std::string file = FileName(lib);
  if (!st.Handle) {
    std::string dir, base = file;
    if (const size_t slash = file.rfind('/'); slash != std::string::npos) {
      dir = file.substr(0, slash + 1);
      base = file.substr(slash + 1);
    } else if (!s.library_path.empty()) {
      dir = s.library_path;
      if (dir.back() != '/') dir += '/';
    }
    void* h = nullptr;
    if (file.empty()) {
      h = dlopen(nullptr, RTLD_NOW);  // the process's own C runtime
    } else if (!dir.empty() && FileExists(dir + base)) {
      LoadFolderDependencies(dir, dir + base, st.Dependencies);
      h = dlopen((dir + base).c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
      h = dlopen(base.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!h) {
      s.last_err_msg =
          runtime::Format("Load library %s error: %s", (dir + base).c_str(), DlErrorText().c_str());
      st.Dependencies.clear();
      return false;
    }
    st.Handle.reset(h);
  }
  if (!st.Fixuped) {
    try {
      Fixup(lib, file, st.Handle.get());
      st.Fixuped = true;
      KeepResident(st.Handle.get());
    } catch (const FixupError& e) {
      // The slots filled before the missing entry point would point into the library about to
      // be freed, and a set slot reads as "bound".
      Unfix(lib);
      s.last_err_msg = e.what();
    }
  }
  if (!st.Fixuped) Unload(lib);
  if (st.Fixuped && lib == avUtil && install_logger_) TFFLogger::Current().InstallAVLogCallback();
  return st.Fixuped;
}

bool TFFLoader::Load(TLibraries libs) {
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (libs.Contains(lib) && !Load(lib)) {
      Unload(libs);
      return false;
    }
  }
  return true;
}

bool TFFLoader::Loaded(TLibrary lib) const {
  LoaderState& s = State();
  std::lock_guard g(s.lock);
  return s.status[lib].Handle && s.status[lib].Fixuped;
}

bool TFFLoader::Loaded(TLibraries libs) const {
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (libs.Contains(lib) && !Loaded(lib)) return false;
  }
  return true;
}

void TFFLoader::Unload(TLibrary lib) {
  LoaderState& s = State();
  std::lock_guard g(s.lock);
  TLibraryStatus& st = s.status[lib];
  if (st.Fixuped) {
    if (lib == avUtil && ff::av_log_set_callback) ff::av_log_set_callback(nullptr);
    Unfix(lib);
    st.Fixuped = false;
  }
  st.Handle.reset();
  // Dependencies go after the library that needs them, newest first.
  while (!st.Dependencies.empty()) st.Dependencies.pop_back();
}

void TFFLoader::Unload(TLibraries libs) {
  for (int i = 0; i < kLibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (libs.Contains(lib)) Unload(lib);
  }
}

std::string TFFLoader::LastErrMsg() const {
  LoaderState& s = State();
  std::lock_guard g(s.lock);
  return s.last_err_msg;
}

std::string TFFLoader::LibraryPath() const {
  LoaderState& s = State();
  std::lock_guard g(s.lock);
  return s.library_path;
}

void TFFLoader::SetLibraryPath(const std::string& path) {
  LoaderState& s = State();
  std::lock_guard g(s.lock);
  s.library_path = path;
}

TFFLoader& FFLoader() {
  static TFFLoader loader;
  return loader;
}

void TCodecLock::lock() {
  if (!runtime::IsMainThread()) {
    FMutex.lock();
    return;
  }
  while (!FMutex.try_lock()) runtime::CheckSynchronize(1);
}

TCodecLock& CodecLock() {
  static TCodecLock lock;
  return lock;
}

}  // namespace trelvix::media
