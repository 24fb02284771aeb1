// The real window tells the desktop when a conversion ends while it is minimised: the window's
// session bus is a private one with a notification service of the test's own on it.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QLabel>
#include <cstdlib>

#include "app/window_harness.h"
#include "package/notification_bus.h"

namespace trelvix::app::testing {
namespace {

TEST(FinishWindowTest, AConversionEndingWhileMinimisedIsAnnounced) {
  test::TempDir dir;
  test::PrivateBus bus(dir);
  // Before anything in the process reaches the session bus: the window's notifier connects to
  // it on its first notification.
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toLocal8Bit().constData(), 1);
  test::FakeNotifications fake;
  ASSERT_TRUE(fake.Register(bus.Connect(QStringLiteral("service"))));

  const std::string clip = dir.File("walk.mkv");
  MakeClip(clip, SmallClip(2.0));
  {
    WindowPair w;
    TfrmMain& m = w.main();
    m.AddFile(QString::fromStdString(clip));
    ASSERT_TRUE(m.btnStartConvert->isEnabled());
    Click(m.btnMinimize);  // before the start, so that the end surely comes while minimised
    ASSERT_TRUE(m.isMinimized());
    Click(m.btnStartConvert);
    ASSERT_TRUE(WaitFor([&] { return !fake.shown.empty(); }));
    EXPECT_EQ(m.LProgress->text(), m.ProgressPrefix() + "100%");
  }
  ASSERT_EQ(fake.shown.size(), 1u);
  EXPECT_EQ(fake.shown[0].summary, "Conversion finished");
  EXPECT_EQ(fake.shown[0].body, "walk_(Trelvix)_iphone.mp4");
  QDBusConnection::disconnectFromBus(QStringLiteral("service"));
}

}  // namespace
}  // namespace trelvix::app::testing
