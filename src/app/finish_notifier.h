// TFinishNotifier: tells the desktop that a conversion has ended while the window is minimised,
// through the freedesktop notification service (org.freedesktop.Notifications) on the session
// bus.
//
// Without a session bus, or with no notification service on it, nothing is shown and nothing
// waits: the service is asked asynchronously, first for its capabilities (whether the body may
// carry markup, in which case the file name or error text is escaped), then to show the
// notification. Main thread only; pending calls are owned by the notifier and end with it.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "encoder/encoder_events.h"

class QWidget;

namespace trelvix::app {

class TFinishNotifier : public QObject {
 public:
  // Without a connection, the session bus is used, connected on the first notification.
  explicit TFinishNotifier(std::optional<QDBusConnection> bus = std::nullopt,
                           QObject* parent = nullptr);

  // The end of a task while `window` is minimised: "Conversion finished" with the name of
  // `output_file` (without its folder) when it finished, "Conversion failed" with the error
  // text when it failed. A stop, the final event of a run, or a window in view show nothing.
  void ConversionEnded(const QWidget& window, const encoder::TTerminateInfo& info,
                       const QString& output_file);

  void Finished(const QString& output_file);
  void Failed(const QString& error);

  // Called once per Finished/Failed, on the main thread: whether the service accepted it.
  void SetOnDelivered(std::function<void(bool shown)> e) { FOnDelivered = std::move(e); }

 private:
  void Delivered(bool shown) {
    if (FOnDelivered) FOnDelivered(shown);
  }
  void Send(const QString& summary, const QString& body, const QString& category);
  void Notify(const QString& summary, const QString& body, const QString& category);

  std::optional<QDBusConnection> FBus;
  std::function<void(bool)> FOnDelivered;
};

}  // namespace trelvix::app
