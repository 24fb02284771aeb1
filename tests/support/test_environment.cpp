// The environment every test runs in, set before main() unless the caller chose otherwise:
// Qt's offscreen platform (no display needed), SDL's dummy audio driver (no sound card) and
// the build folder (where tests leave pictures worth looking at).
#include <cstdlib>

namespace {

const bool kEnvironmentSet = [] {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("TRELVIX_TEST_BINARY_DIR", TRELVIX_TEST_BINARY_DIR_DEFAULT, 0);
  return true;
}();

}  // namespace

// Under ThreadSanitizer: the media libraries are not instrumented, so the hand-over of buffers
// between their own codec threads (C11 atomics inside libavcodec) looks like a race to it. Only
// reports that run through those libraries are suppressed; the project's own state is checked.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "race:libavcodec.so\nrace:libavutil.so\nrace:libswscale.so\nrace:libswresample.so\n"
         "race:libx264.so\nrace:libavformat.so\n";
}
#endif

// Under AddressSanitizer: libx264 keeps copies of its option strings when the library refuses
// to open an encoder and nothing frees them (a test opens one with a picture it refuses). Leaks
// that the project's own code makes still show: an encoder left open leaks the codec context
// that libavcodec allocated as well.
#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its configuration and font caches for the life of the process (the widget
// tests' text layout loads it).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libx264.so\nleak:libfontconfig.so\n";
}
// The leak check at exit walks each thread's dynamic TLS blocks as it records them from
// __tls_get_addr; with this glibc's layout it reads a bogus block and crashes after a frame-hook
// library was loaded. Not recording them leaves the check working: the project's own
// thread-local objects live in the test binary's static TLS, which is still scanned.
extern "C" const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}
#endif
