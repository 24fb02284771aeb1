// The finish notification on a real session bus: a private dbus-daemon started by the test, with
// a small notification service of the test's own registered on it (or not, for the absent case).
#include "app/finish_notifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTest>
#include <QVariantMap>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "app/desktop_id.h"
#include "support/temp_dir.h"

namespace trelvix::app {
namespace {

// Records what the desktop's notification service would show.
class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Shown {
    QString app_name, app_icon, summary, body;
    QVariantMap hints;
  };
  QStringList capabilities{QStringLiteral("body")};
  std::vector<Shown> shown;

 public slots:
  QStringList GetCapabilities() { return capabilities; }
  uint Notify(const QString& app_name, uint /*replaces_id*/, const QString& app_icon,
              const QString& summary, const QString& body, const QStringList& /*actions*/,
              const QVariantMap& hints, int /*expire_timeout*/) {
    shown.push_back({app_name, app_icon, summary, body, hints});
    return static_cast<uint>(shown.size());
  }
};

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

// A session bus of the test's own: dbus-daemon with a minimal configuration, no activatable
// services (so no real notification daemon of the machine can answer).
class PrivateBus {
 public:
  explicit PrivateBus(const test::TempDir& dir) {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
      throw std::runtime_error("dbus-daemon is not installed (package dbus-daemon)");
    const QString config = QString::fromStdString(dir.File("bus.conf"));
    test::WriteFile(config.toStdString(),
                    QString::fromLatin1(kBusConfig).arg(dir.path().c_str()).toStdString());
    daemon_.setStandardErrorFile(QProcess::nullDevice());
    daemon_.start(daemon, {QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                           QStringLiteral("--config-file=") + config});
    daemon_.waitForStarted(5000);
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
    }
    if (!daemon_.canReadLine()) throw std::runtime_error("dbus-daemon did not start");
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }
  ~PrivateBus() {
    daemon_.terminate();
    daemon_.waitForFinished(5000);
  }
  QDBusConnection Connect(const QString& name) const {
    return QDBusConnection::connectToBus(address_, name);
  }

 private:
  QProcess daemon_;
  QString address_;
};

class FinishNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<PrivateBus>(dir_);
    client_ = bus_->Connect(QStringLiteral("client"));
    ASSERT_TRUE(client_.isConnected()) << client_.lastError().message().toStdString();
  }
  void TearDown() override {
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
  }

  // Registers the fake service on the bus under the well-known name.
  void StartService() {
    QDBusConnection service = bus_->Connect(QStringLiteral("service"));
    ASSERT_TRUE(service.isConnected());
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake_,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
  }

  // Waits for the notifier's verdict on one notification.
  static bool Delivered(TFinishNotifier& notifier, const std::function<void()>& send) {
    std::optional<bool> verdict;
    notifier.SetOnDelivered([&](bool shown) { verdict = shown; });
    send();
    if (!QTest::qWaitFor([&] { return verdict.has_value(); }, 10000))
      ADD_FAILURE() << "no answer from the notifier";
    notifier.SetOnDelivered(nullptr);
    return verdict.value_or(false);
  }

  test::TempDir dir_;
  std::unique_ptr<PrivateBus> bus_;
  QDBusConnection client_{QString()};
  FakeNotifications fake_;
};

TEST_F(FinishNotifierTest, FinishedShowsTheOutputFileName) {
  StartService();
  TFinishNotifier notifier(client_);
  EXPECT_TRUE(
      Delivered(notifier, [&] { notifier.Finished("/videos/holiday_(Trelvix)_iphone.mp4"); }));
  ASSERT_EQ(fake_.shown.size(), 1u);
  const auto& n = fake_.shown[0];
  EXPECT_EQ(n.summary, "Conversion finished");
  EXPECT_EQ(n.body, "holiday_(Trelvix)_iphone.mp4");
  EXPECT_EQ(n.app_name, "Trelvix to iPhone");
  EXPECT_EQ(n.app_icon, kDesktopId);
  EXPECT_EQ(n.hints.value("desktop-entry").toString(), kDesktopId);
  EXPECT_EQ(n.hints.value("category").toString(), "transfer.complete");
}

TEST_F(FinishNotifierTest, BodyIsEscapedOnlyForServersThatReadMarkup) {
  struct Case {
    QStringList capabilities;
    QString expected_body;
  };
  const Case cases[] = {
      {{"body"}, "Cannot open <in> & out"},
      {{"body", "body-markup"}, "Cannot open &lt;in&gt; &amp; out"},
  };
  StartService();
  TFinishNotifier notifier(client_);
  for (const Case& c : cases) {
    fake_.capabilities = c.capabilities;
    fake_.shown.clear();
    EXPECT_TRUE(Delivered(notifier, [&] { notifier.Failed("Cannot open <in> & out"); }));
    ASSERT_EQ(fake_.shown.size(), 1u);
    EXPECT_EQ(fake_.shown[0].summary, "Conversion failed");
    EXPECT_EQ(fake_.shown[0].body, c.expected_body) << c.capabilities.join(',').toStdString();
    EXPECT_EQ(fake_.shown[0].hints.value("category").toString(), "transfer.error");
  }
}

// Only a task that ends while the window is minimised is told, and a stop is not.
TEST_F(FinishNotifierTest, ConversionEndedTellsOnlyWhileMinimised) {
  struct Case {
    const char* name;
    bool minimised;
    encoder::TTerminateInfo info;
    const char* summary;  // nullptr: nothing shown
    const char* body;
  };
  const Case cases[] = {
      {"finished, minimised", true, {0, true, false, ""}, "Conversion finished", "v.mp4"},
      {"failed, minimised", true, {0, false, true, "Disk full"}, "Conversion failed", "Disk full"},
      {"stopped, minimised", true, {0, false, false, ""}, nullptr, nullptr},
      {"end of the run, minimised", true, {-1, true, false, ""}, nullptr, nullptr},
      {"finished, in view", false, {0, true, false, ""}, nullptr, nullptr},
      {"failed, in view", false, {0, false, true, "Disk full"}, nullptr, nullptr},
  };
  StartService();
  TFinishNotifier notifier(client_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget window;
    c.minimised ? window.showMinimized() : window.show();
    fake_.shown.clear();
    bool answered = false;
    notifier.SetOnDelivered([&](bool) { answered = true; });
    notifier.ConversionEnded(window, c.info, "/out/v.mp4");
    if (!c.summary) {
      // Calls on one connection arrive in order: a marker sent now comes after anything sent.
      EXPECT_TRUE(Delivered(notifier, [&] { notifier.Failed("marker"); }));
      ASSERT_EQ(fake_.shown.size(), 1u);
      EXPECT_EQ(fake_.shown[0].body, "marker");
      continue;
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered; }, 10000));
    ASSERT_EQ(fake_.shown.size(), 1u);
    EXPECT_EQ(fake_.shown[0].summary, c.summary);
    EXPECT_EQ(fake_.shown[0].body, c.body);
  }
}

TEST_F(FinishNotifierTest, NothingWithoutAService) {
  TFinishNotifier notifier(client_);
  EXPECT_FALSE(Delivered(notifier, [&] { notifier.Finished("/videos/a_(Trelvix)_iphone.mp4"); }));
}

TEST_F(FinishNotifierTest, NothingWithoutABus) {
  TFinishNotifier notifier(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                         QStringLiteral("none")));
  EXPECT_FALSE(Delivered(notifier, [&] { notifier.Finished("/videos/a_(Trelvix)_iphone.mp4"); }));
  QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

}  // namespace
}  // namespace trelvix::app

#include "finish_notifier_test.moc"
