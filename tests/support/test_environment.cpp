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
