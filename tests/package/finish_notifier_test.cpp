// The finish notification on a real session bus: a private dbus-daemon started by the test, with
// a small notification service of the test's own registered on it (or not, for the absent case).
#include "app/finish_notifier.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <memory>
#include <optional>

#include "app/desktop_id.h"
#include "package/notification_bus.h"
#include "support/temp_dir.h"

namespace trelvix::app {
namespace {

class FinishNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<test::PrivateBus>(dir_);
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
    ASSERT_TRUE(fake_.Register(service));
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
  std::unique_ptr<test::PrivateBus> bus_;
  QDBusConnection client_{QString()};
  test::FakeNotifications fake_;
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
