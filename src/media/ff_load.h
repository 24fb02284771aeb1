// TFFLoader: opens the media libraries with dlopen and binds their entry points into the slots
// of ffapi.h / sdlapi.h.
//
// One process-wide loader (FFLoader()). Loading and unloading happen on the main thread while no
// conversion or playback thread runs; the slots are read from any thread afterwards.
// Search order for a library: LibraryPath() first (the program folder + "LibAV" in the
// application), where the library's own dependencies found in the same folder are loaded before
// it; otherwise the bare file name through the system's search.
#pragma once

#include <mutex>
#include <string>

#include "media/ff_library.h"

namespace trelvix::media {

class TFFLoader {
 public:
  TFFLoader();
  ~TFFLoader();  // unloads every library
  TFFLoader(const TFFLoader&) = delete;
  TFFLoader& operator=(const TFFLoader&) = delete;

  bool Load(TLibrary lib);
  // Loads each member in enumeration order; at the first failure the whole set is unloaded.
  bool Load(TLibraries libs);
  bool Loaded(TLibrary lib) const;
  bool Loaded(TLibraries libs) const;  // true for the empty set
  void Unload(TLibrary lib);
  void Unload(TLibraries libs);

  // The text of the last failure; a later success does not clear it.
  std::string LastErrMsg() const;
  std::string LibraryPath() const;
  void SetLibraryPath(const std::string& path);
  bool InstallLogger() const { return install_logger_; }
  void SetInstallLogger(bool v) { install_logger_ = v; }

  // The file name a library is loaded by: the one set with SetLibraryFileName, else the composed
  // "lib" + name + ".so." + major version, for example "libavcodec.so.59".
  std::string FileName(TLibrary lib) const;
  // Replaces the composed file name (it may carry a directory); empty restores it.
  void SetLibraryFileName(TLibrary lib, const std::string& name);

 private:
  bool install_logger_ = true;
};

// The process-wide loader, created on first use (at static initialisation of this module).
TFFLoader& FFLoader();

// The process-wide codec lock: held around every codec open and close and around stream
// probing, so that no two threads do these at the same time. Recursive; used with
// std::lock_guard. A worker that holds it may log, and a log line may wait for the main thread
// to run its handler; so on the main thread lock() runs the calls queued for the main thread
// while it waits, and the two threads never wait for each other.
class TCodecLock {
 public:
  void lock();
  bool try_lock() { return FMutex.try_lock(); }
  void unlock() { FMutex.unlock(); }

 private:
  std::recursive_mutex FMutex;
};
TCodecLock& CodecLock();

}  // namespace trelvix::media
