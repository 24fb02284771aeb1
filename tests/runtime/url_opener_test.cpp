// The seam that opens web addresses.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "runtime/url_opener.h"

namespace trelvix::runtime {
namespace {

class UrlOpener : public ::testing::Test {
 protected:
  std::vector<std::string> opened_;
  bool answer_ = true;
  void SetUp() override {
    SetURLOpener([this](const std::string& url) {
      opened_.push_back(url);
      return answer_;
    });
  }
  void TearDown() override { SetURLOpener(nullptr); }
};

TEST_F(UrlOpener, WebAddressesReachTheOpenerTrimmed) {
  EXPECT_TRUE(OpenURL("http://updates.example/LiveUpdate/info.php?prg=TrelvixToiPhone&ver=1.3"));
  EXPECT_TRUE(OpenURL("  HTTPS://example.org/new version.html\r\n"));
  answer_ = false;
  EXPECT_FALSE(OpenURL("http://example.org/")) << "the opener's failure is reported";
  EXPECT_EQ(opened_, (std::vector<std::string>{
                         "http://updates.example/LiveUpdate/info.php?prg=TrelvixToiPhone&ver=1.3",
                         "HTTPS://example.org/new version.html", "http://example.org/"}));
}

TEST_F(UrlOpener, AnythingButAWebAddressIsRefused) {
  for (const char* text :
       {"", "   ", "file:///etc/passwd", "/usr/bin/xterm", "xterm -e sh", "javascript:alert(1)",
        "mailto:a@example.org", "http://", "ftp://example.org/file", "OK"}) {
    EXPECT_FALSE(IsWebAddress(text)) << text;
    EXPECT_FALSE(OpenURL(text)) << text;
  }
  EXPECT_TRUE(opened_.empty());
}

TEST_F(UrlOpener, NullRestoresTheDefaultOpener) {
  SetURLOpener(nullptr);
  // The default opener works only on the application's thread; from a worker it refuses at
  // once, so no browser starts here.
  bool result = true;
  std::thread([&] { result = OpenURL("http://example.org/"); }).join();
  EXPECT_FALSE(result);
  EXPECT_TRUE(opened_.empty());
}

}  // namespace
}  // namespace trelvix::runtime
