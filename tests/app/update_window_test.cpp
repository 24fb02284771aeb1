// The update check in the real main window: its timer, the information pictures' clicks, and a
// request that hangs while the window is used and then closed.
#include <gtest/gtest.h>

#include <QLocale>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/image_control.h"
#include "app/update_check.h"
#include "profile/progress_stats.h"
#include "runtime/local_http_server.h"
#include "runtime/url_opener.h"
#include "window_harness.h"

namespace trelvix::app {
namespace {

using testing::Click;
using testing::Pump;
using testing::WaitFor;
using testing::WindowPair;
using Opened = std::vector<std::string>;

constexpr char kKey[] = "\\Software\\Trelvix\\iPhone";

// The update server that accepts the check and never answers; addresses the window opens are
// recorded instead of reaching a browser.
class UpdateWindow : public ::testing::Test {
 protected:
  test::TLocalHttpServer server_{[](const test::THttpRecord&) {
    test::TServerAnswer answer;
    answer.Hang = true;
    return answer;
  }};
  std::mutex opened_lock_;
  Opened opened_;  // Guarded by opened_lock_.
  std::string previous_host_ =
      std::getenv(kUpdateHostVariable) ? std::getenv(kUpdateHostVariable) : "";

  void SetUp() override {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv(kUpdateHostVariable, server_.HostPort().c_str(), 1);
    runtime::SetURLOpener([this](const std::string& url) {
      std::lock_guard g(opened_lock_);
      opened_.push_back(url);
      return true;
    });
  }
  void TearDown() override {
    runtime::SetURLOpener(nullptr);
    setenv(kUpdateHostVariable, previous_host_.c_str(), 1);
    if (auto key = runtime::UserSettings().OpenKey(kKey, false)) key->DeleteValue(kLastCheckValue);
  }

  Opened OpenedSoFar() {
    std::lock_guard g(opened_lock_);
    return opened_;
  }
  std::string InfoPage(int number) const {
    return server_.Url("/LiveUpdate/info.php?prg=TrelvixToiPhone&ver=1.3&info=") +
           std::to_string(number);
  }
};

TEST_F(UpdateWindow, ChecksOnceAfterThreeSecondsStaysUsableWhileWaitingAndQuitsAtOnce) {
  // The previous check was yesterday, so this run asks the server.
  ASSERT_TRUE(runtime::UserSettings()
                  .OpenKey(kKey, true)
                  ->WriteDouble(kLastCheckValue, profile::LocalNow() - 1));
  WindowPair w;
  TfrmMain& m = w.main();
  EXPECT_TRUE(m.TimerCheckVersion.isActive());
  EXPECT_TRUE(m.TimerCheckVersion.isSingleShot());
  EXPECT_EQ(m.TimerCheckVersion.interval(), 3000);
  EXPECT_TRUE(server_.Requests().empty());

  ASSERT_TRUE(WaitFor([&] { return !server_.Requests().empty(); }, 15000));
  EXPECT_EQ(server_.Requests().at(0).RequestLine, "POST /LiveUpdate/check.php HTTP/1.0");
  EXPECT_FALSE(m.TimerCheckVersion.isActive());
  EXPECT_TRUE(m.CheckVersion().Busy());

  // While the server keeps the request waiting, the window handles clicks.
  Click(m.btnInfo);
  ASSERT_TRUE(m.btnInfo->Down());
  TImageControl* picture = m.ImageInfoEn->isHidden() ? m.ImageInfoPL : m.ImageInfoEn;
  ASSERT_FALSE(picture->isHidden());
  Click(picture);
  EXPECT_EQ(OpenedSoFar(), Opened{InfoPage(1)});
  m.TimerCheckVersionTimer();  // a second tick sends nothing
  Pump(200);
  EXPECT_EQ(server_.Requests().size(), 1u);
  EXPECT_TRUE(m.CheckVersion().Busy());

  // Closing stops the request before close() returns; nothing is opened for it afterwards.
  Click(m.btnClose);
  EXPECT_FALSE(m.isVisible());
  EXPECT_FALSE(m.CheckVersion().Busy());
  Pump(300);
  EXPECT_EQ(OpenedSoFar(), Opened{InfoPage(1)});
}

TEST_F(UpdateWindow, BothInformationPicturesOpenTheInformationPage) {
  WindowPair w;
  TfrmMain& m = w.main();
  for (TImageControl* picture : {m.ImageInfoEn, m.ImageInfoPL}) {
    SCOPED_TRACE(picture->objectName().toStdString());
    m.ImageInfoEn->hide();
    m.ImageInfoPL->hide();
    picture->show();
    picture->raise();
    Click(picture);
  }
  EXPECT_EQ(OpenedSoFar(), (Opened{InfoPage(1), InfoPage(1)}));
  EXPECT_TRUE(server_.Requests().empty());
}

}  // namespace
}  // namespace trelvix::app
