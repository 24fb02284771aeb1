// The widget tests need a QApplication on the main thread (offscreen, set by the test support).
#include <gtest/gtest.h>

#include <QApplication>

#include "runtime/main_thread.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  trelvix::runtime::SetMainThread();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
