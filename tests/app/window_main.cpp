// The window tests' main: the widgets application with the main-thread queue on its event loop,
// settings in a temporary folder and the update host on a closed local port, so that no test
// reads the user's settings or reaches a network.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "runtime/application.h"
#include "runtime/main_thread.h"
#include "support/temp_dir.h"

#if defined(__SANITIZE_THREAD__)
// Qt's own memory calls are left unchecked (see qt.tsan.supp); the suppressions compiled into
// every test binary still apply.
extern "C" const char* __tsan_default_options() {
  return "suppressions=" TRELVIX_QT_TSAN_SUPPRESSIONS;
}
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  trelvix::test::TempDir config;
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  setenv("TRELVIX_UPDATE_HOST", "127.0.0.1:9", 1);  // discard port: nothing listens
  QApplication app(argc, argv);
  trelvix::runtime::SetMainThread();
  trelvix::runtime::ConnectMainThreadQueueToEventLoop();
  return RUN_ALL_TESTS();
}
