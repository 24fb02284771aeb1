#include "package/notification_bus.h"

#include <QStandardPaths>
#include <stdexcept>

namespace trelvix::test {

namespace {

// Anyone may own a name, send and receive; the address is a socket in the test's folder.
constexpr char kBusConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

bool FakeNotifications::Register(QDBusConnection bus) {
  return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                            QDBusConnection::ExportAllSlots) &&
         bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

uint FakeNotifications::Notify(const QString& app_name, uint /*replaces_id*/,
                               const QString& app_icon, const QString& summary, const QString& body,
                               const QStringList& /*actions*/, const QVariantMap& hints,
                               int /*expire_timeout*/) {
  shown.push_back({app_name, app_icon, summary, body, hints});
  return static_cast<uint>(shown.size());
}

PrivateBus::PrivateBus(const TempDir& dir) {
  const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
  if (daemon.isEmpty())
    throw std::runtime_error("dbus-daemon is not installed (package dbus-daemon)");
  const std::string config = dir.File("bus.conf");
  WriteFile(config, QString::fromLatin1(kBusConfig).arg(dir.path().c_str()).toStdString());
  daemon_.setStandardErrorFile(QProcess::nullDevice());
  daemon_.start(daemon, {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                         QStringLiteral("--config-file=") + QString::fromStdString(config)});
  daemon_.waitForStarted(5000);
  while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
  }
  if (!daemon_.canReadLine()) throw std::runtime_error("dbus-daemon did not start");
  address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
  daemon_.terminate();
  daemon_.waitForFinished(5000);
}

QDBusConnection PrivateBus::Connect(const QString& name) const {
  return QDBusConnection::connectToBus(address_, name);
}

}  // namespace trelvix::test
