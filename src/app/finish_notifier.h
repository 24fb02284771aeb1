// TFinishNotifier: tells the desktop that a conversion has ended, through the freedesktop
// notification service (org.freedesktop.Notifications) on the session bus.
//
// Without a session bus, or with no notification service on it, nothing is shown and nothing
// waits: the service is asked asynchronously, first for its capabilities (whether the body may
// carry markup, in which case the file name or error text is escaped), then to show the
// notification. Main thread only; the object must outlive its pending calls, which it owns.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace trelvix::app {

class TFinishNotifier : public QObject {
  Q_OBJECT

 public:
  explicit TFinishNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                           QObject* parent = nullptr);

  // "Conversion finished" with the name of the output file (without its folder).
  void Finished(const QString& output_file);
  // "Conversion failed" with the error text.
  void Failed(const QString& error);

 signals:
  // One per Finished/Failed: whether the service accepted the notification.
  void Delivered(bool shown);

 private:
  void Send(const QString& summary, const QString& body, const QString& category);
  void Notify(const QString& summary, const QString& body, const QString& category);

  QDBusConnection bus_;
};

}  // namespace trelvix::app
