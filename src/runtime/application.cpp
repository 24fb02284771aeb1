#include "runtime/application.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QThread>
#include <memory>

#include "runtime/main_thread.h"

namespace trelvix::runtime {
namespace {

std::unique_ptr<QGuiApplication> MakeGuiApplication() {
  // Without a display to talk to, draw off screen instead of failing to start.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  static int argc = 1;
  static char arg0[] = "trelvix";
  static char* argv[] = {arg0, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

bool EnsureGuiApplication() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    return qobject_cast<QGuiApplication*>(app) != nullptr;
  }
  if (!IsMainThread()) return false;
  // Initialised by the construction itself, so that this object is destroyed before the Qt
  // globals that the application object sets up.
  static const std::unique_ptr<QGuiApplication> app = MakeGuiApplication();
  return QCoreApplication::instance() != nullptr;
}

void ProcessPendingMessages() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || app->thread() != QThread::currentThread()) return;
  QCoreApplication::processEvents();
}

void ConnectMainThreadQueueToEventLoop() {
  SetWakeMainThread([] {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(
          app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
    }
  });
}

}  // namespace trelvix::runtime
