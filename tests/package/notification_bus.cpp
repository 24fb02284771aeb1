#include "package/notification_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QStandardPaths>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

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
  // Started with posix_spawn rather than QProcess: Qt's process launcher forks in a way that
  // ThreadSanitizer follows only half of, after which it misses every later lock of the test.
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for dbus-daemon");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args{daemon.toStdString(), "--nofork", "--print-address=1",
                                "--config-file=" + config};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string line;
  if (spawned == 0) {
    pollfd p{out[0], POLLIN, 0};
    char c = 0;
    while (line.find('\n') == std::string::npos && poll(&p, 1, 5000) > 0 &&
           read(out[0], &c, 1) == 1)
      line += c;
  } else {
    pid_ = -1;
  }
  close(out[0]);
  if (line.find('\n') == std::string::npos) {
    Stop();
    throw std::runtime_error("dbus-daemon did not start");
  }
  address_ = QString::fromStdString(line).trimmed();
}

PrivateBus::~PrivateBus() {
  Stop();
}

void PrivateBus::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

QDBusConnection PrivateBus::Connect(const QString& name) const {
  return QDBusConnection::connectToBus(address_, name);
}

}  // namespace trelvix::test
