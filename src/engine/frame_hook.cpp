// Frame-hook libraries ("vhook"): external shared libraries with Configure, Process and Release
// entry points, chained in the order added. Libraries stay loaded for the life of the process.
#include <dlfcn.h>

#include <map>
#include <mutex>

#include "engine/ffmpeg.h"
#include "engine/ffmpeg_messages.h"
#include "media/ffapi.h"

namespace trelvix::engine {
namespace {

constexpr int kMaxHookArgs = 63;

struct LoadedHooks {
  std::mutex lock;
  std::map<std::string, void*> modules;  // file name as given -> handle; Guarded by lock.
};

LoadedHooks& Loaded() {
  static LoadedHooks* hooks = new LoadedHooks;  // never unloaded: entries may still be in use
  return *hooks;
}

std::vector<std::string> SplitHookArgs(const std::string& value) {
  const char sep = value.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= value.size() && static_cast<int>(out.size()) < kMaxHookArgs) {
    const size_t j = std::min(value.find(sep, i), value.size());
    if (j > i) out.push_back(value.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

}  // namespace

void TCustomFFmpeg::AddFrameHook(const std::string& value) {
  const std::vector<std::string> args = SplitHookArgs(value);
  const auto add = [&]() -> int {
    if (args.empty()) return -2;
    const std::string& lib = args[0];
    void* handle = nullptr;
    {
      LoadedHooks& loaded = Loaded();
      std::lock_guard g(loaded.lock);
      auto it = loaded.modules.find(lib);
      if (it == loaded.modules.end()) {
        handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
          const char* e = dlerror();
          ff::av_log(nullptr, AV_LOG_ERROR, "%s\n", e ? e : lib.c_str());
          return -1;
        }
        loaded.modules.emplace(lib, handle);
      } else {
        handle = it->second;
      }
    }
    TFrameHookEntry entry;
    entry.Configure = reinterpret_cast<TFrameHookEntry::ConfigureFn>(dlsym(handle, "Configure"));
    entry.Process = reinterpret_cast<TFrameHookEntry::ProcessFn>(dlsym(handle, "Process"));
    entry.Release = reinterpret_cast<TFrameHookEntry::ReleaseFn>(dlsym(handle, "Release"));
    if (!entry.Process) {
      ff::av_log(nullptr, AV_LOG_ERROR, msg::kNoProcess, lib.c_str());
      return -2;
    }
    if (!entry.Configure && args.size() > 1) {
      ff::av_log(nullptr, AV_LOG_ERROR, msg::kNoConfigure, lib.c_str());
      return -2;
    }
    if (entry.Configure) {
      std::vector<std::string> copies = args;
      std::vector<char*> argv;
      for (std::string& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (entry.Configure(&entry.ctx, static_cast<int>(args.size()), argv.data()) != 0) {
        ff::av_log(nullptr, AV_LOG_ERROR, msg::kConfigureFailed, lib.c_str());
        return -22;
      }
    }
    FFrameHooks.push_back(entry);
    return 0;
  };
  if (add() != 0) throw FFmpegException(msg::kAddHookFailed + value);
  Fusing_vhook = true;
}

void TCustomFFmpeg::ReleaseFrameHooks() {
  for (TFrameHookEntry& e : FFrameHooks)
    if (e.Release) e.Release(e.ctx);
  FFrameHooks.clear();
}

}  // namespace trelvix::engine
