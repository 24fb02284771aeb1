// A session bus of the test's own with a desktop notification service of the test's own on it:
// for testing what the program tells the desktop, without the machine's bus or daemons.
#pragma once

#include <sys/types.h>

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <vector>

#include "support/temp_dir.h"

namespace trelvix::test {

// Records what the desktop's notification service (org.freedesktop.Notifications) would show.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Shown {
    QString app_name, app_icon, summary, body;
    QVariantMap hints;
  };
  QStringList capabilities{QStringLiteral("body")};  // what GetCapabilities answers
  std::vector<Shown> shown;

  // Registers this object as the service on `bus`; false when the bus refuses it.
  bool Register(QDBusConnection bus);

 public slots:
  QStringList GetCapabilities() { return capabilities; }
  uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
              const QString& summary, const QString& body, const QStringList& actions,
              const QVariantMap& hints, int expire_timeout);
};

// dbus-daemon with a minimal configuration listening in `dir`, and no activatable services (so
// no notification daemon of the machine can answer). Throws std::runtime_error when it cannot
// start. Stopped when destroyed.
class PrivateBus {
 public:
  explicit PrivateBus(const TempDir& dir);
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const QString& Address() const { return address_; }
  // A connection of the given name (QDBusConnection::disconnectFromBus(name) ends it).
  QDBusConnection Connect(const QString& name) const;

 private:
  void Stop();

  pid_t pid_ = -1;
  QString address_;
};

}  // namespace trelvix::test
