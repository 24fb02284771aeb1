// The daily update check and the information page against a real server on 127.0.0.1, with the
// clock, the settings file and the browser replaced by the test.
#include <gtest/gtest.h>

#include <QDate>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/update_check.h"
#include "profile/iphone_profile.h"
#include "runtime/application.h"
#include "runtime/local_http_server.h"
#include "support/temp_dir.h"

namespace trelvix::app {
namespace {

using test::TServerAnswer;
using Opened = std::vector<std::string>;

constexpr char kKey[] = "\\Software\\Trelvix\\iPhone";
constexpr char kOffered[] = "http://updates.example.org/TrelvixToiPhone/1.4.html";

// A local date-time in days since 1899-12-30.
double DateTime(int year, int month, int day, int hour = 12) {
  return static_cast<double>(QDate(1899, 12, 30).daysTo(QDate(year, month, day))) + hour / 24.0;
}

class UpdateCheck : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::mutex answer_lock_;
  TServerAnswer answer_ = TServerAnswer::Text("OK");  // Guarded by answer_lock_.
  // check.php answers answer_; /hop/<n> redirects to /hop/<n-1>, and /hop/0 offers kOffered.
  test::TLocalHttpServer server_{[this](const test::THttpRecord& request) {
    const std::string path = request.Path();
    if (path.starts_with("/hop/")) {
      const int n = std::stoi(path.substr(5));
      if (n == 0) return TServerAnswer::Text(std::string("OpenWWW=") + kOffered);
      return TServerAnswer::Redirect("/hop/" + std::to_string(n - 1));
    }
    if (path != kCheckPath) return TServerAnswer::Text("", "HTTP/1.0 404 Not Found");
    std::lock_guard g(answer_lock_);
    return answer_;
  }};
  double now_ = DateTime(2012, 7, 5);
  Opened opened_;

  void SetUp() override {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv(kUpdateHostVariable, server_.HostPort().c_str(), 1);
    ASSERT_TRUE(runtime::EnsureGuiApplication());
  }
  void TearDown() override { unsetenv(kUpdateHostVariable); }

  void Answer(TServerAnswer answer) {
    std::lock_guard g(answer_lock_);
    answer_ = std::move(answer);
  }

  // One run of the program on the settings file `file`: the check at now_, waited for to its
  // end. Returns the number of requests that reached the server.
  std::size_t Run(const std::string& file, int total_timeout_ms = 20000) {
    runtime::TSettingsStore store(file);
    TUpdateCheck check(
        store, [this] { return now_; },
        [this](const std::string& url) {
          opened_.push_back(url);
          return true;
        });
    check.SetTotalTimeoutMs(total_timeout_ms);
    const std::size_t before = server_.Requests().size();
    check.TimerCheckVersionTimer();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !check.Busy(); }, 30000));
    return server_.Requests().size() - before;
  }

  std::optional<double> LastLU(const std::string& file) {
    runtime::TSettingsStore store(file);  // a second store object on the same file
    auto key = store.OpenKey(kKey, false);
    return key ? key->ReadDouble(kLastCheckValue) : std::nullopt;
  }

  void SetLastLU(const std::string& file, double value) {
    runtime::TSettingsStore store(file);
    ASSERT_TRUE(store.OpenKey(kKey, true)->WriteDouble(kLastCheckValue, value));
  }

  std::string InfoPage(int number) const {
    return server_.Url("/LiveUpdate/info.php?prg=TrelvixToiPhone&ver=1.3&info=") +
           std::to_string(number);
  }
};

TEST_F(UpdateCheck, PostsTheProgramAndVersionAsAnHttp10Form) {
  const std::string file = dir_.File("registry.ini");
  SetLastLU(file, DateTime(2012, 7, 4, 9));
  ASSERT_EQ(Run(file), 1u);
  const test::THttpRecord sent = server_.Requests().at(0);
  EXPECT_EQ(sent.RequestLine, "POST /LiveUpdate/check.php HTTP/1.0");
  EXPECT_EQ(sent.Header("Host"), server_.HostPort());
  EXPECT_EQ(sent.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent.Header("User-Agent"), "Mozilla/4.0 (compatible; ICS)");
  EXPECT_EQ(sent.Header("Accept"), "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
  EXPECT_EQ(sent.Body, "prg=TrelvixToiPhone&ver=1.3");
  EXPECT_EQ(opened_, Opened{}) << "\"OK\" opens nothing";
}

// Whether a run asks the server, by the stored date of the previous attempt, and what a failed
// request opens, by today's date. Every run stores its own date-time.
TEST_F(UpdateCheck, DateRules) {
  struct Case {
    const char* name;
    std::optional<double> previous;  // nullopt: no "LastLU" at all
    double now;
    bool fails;  // the server answers 500
    std::size_t requests;
    bool info_page;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"first run", std::nullopt, DateTime(2012, 7, 5), true, 0, false},
      {"stored 0", 0.0, DateTime(2012, 7, 5), true, 0, false},
      {"damaged value", nan, DateTime(2012, 7, 5), true, 0, false},
      {"same day", DateTime(2012, 7, 5, 8), DateTime(2012, 7, 5, 20), true, 0, false},
      {"5th of another month", DateTime(2012, 3, 5), DateTime(2012, 7, 5), true, 0, false},
      {"4th then 5th", DateTime(2012, 7, 4), DateTime(2012, 7, 5), false, 1, false},
      {"failure in June 2012", DateTime(2012, 6, 4), DateTime(2012, 6, 5), true, 1, false},
      {"failure in July 2012", DateTime(2012, 7, 4), DateTime(2012, 7, 5), true, 1, true},
      {"failure in December 2011", DateTime(2011, 12, 4), DateTime(2011, 12, 5), true, 1, false},
      {"failure in December 2026", DateTime(2026, 12, 10), DateTime(2026, 12, 11), true, 1, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir_.File("registry" + std::to_string(n++) + ".ini");
    if (c.previous) SetLastLU(file, *c.previous);
    Answer(c.fails ? TServerAnswer::Text("", "HTTP/1.0 500 Internal Server Error")
                   : TServerAnswer::Text("OK"));
    now_ = c.now;
    opened_.clear();
    EXPECT_EQ(Run(file), c.requests);
    EXPECT_EQ(opened_, c.info_page ? Opened{InfoPage(9)} : Opened{});
    EXPECT_EQ(LastLU(file), c.now);
  }
}

TEST_F(UpdateCheck, ALastLUOfAnotherTypeCountsAsNone) {
  const std::string file = dir_.File("registry.ini");
  {
    runtime::TSettingsStore store(file);
    ASSERT_TRUE(store.OpenKey(kKey, true)->WriteString(kLastCheckValue, "41094.5"));
  }
  EXPECT_EQ(Run(file), 0u);
  EXPECT_EQ(LastLU(file), now_) << "replaced by the date-time";
}

// Three runs of the program: the date each one writes is what the next one reads.
TEST_F(UpdateCheck, OneCheckPerDayAcrossRuns) {
  const std::string file = dir_.File("registry.ini");
  now_ = DateTime(2012, 7, 4, 10);
  EXPECT_EQ(Run(file), 0u) << "first run";
  now_ = DateTime(2012, 7, 5, 10);
  EXPECT_EQ(Run(file), 1u) << "next day";
  now_ = DateTime(2012, 7, 5, 18);
  EXPECT_EQ(Run(file), 0u) << "same day after a request";
  EXPECT_EQ(LastLU(file), now_);
}

TEST_F(UpdateCheck, OnlyTheFirstTimerTickOfARunChecks) {
  const std::string file = dir_.File("registry.ini");
  SetLastLU(file, DateTime(2012, 7, 4));
  runtime::TSettingsStore store(file);
  TUpdateCheck check(
      store, [this] { return now_; }, [](const std::string&) { return true; });
  check.TimerCheckVersionTimer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !check.Busy(); }, 30000));
  SetLastLU(file, DateTime(2012, 7, 4));
  check.TimerCheckVersionTimer();
  EXPECT_FALSE(check.Busy());
  EXPECT_EQ(LastLU(file), DateTime(2012, 7, 4)) << "the second tick did nothing";
  EXPECT_EQ(server_.Requests().size(), 1u);
}

// What each answer opens, on a day when a request goes out and a failure opens the "&info=9"
// page (July 2012).
TEST_F(UpdateCheck, AnswersAndWhatTheyOpen) {
  auto text = [](std::string body) { return TServerAnswer::Text(std::move(body)); };
  auto status = [](const char* line, std::string body = "") {
    return TServerAnswer::Text(std::move(body), line);
  };
  const std::string long_path(1000 - std::string("http://example.org/").size(), 'a');
  const std::string at_bound = "http://example.org/" + long_path;  // 1000 characters
  const std::string huge_padding(10 * 1024 * 1024, ' ');
  TServerAnswer unannounced = text(std::string("OpenWWW=") + kOffered + huge_padding);
  unannounced.AnnounceLength = false;
  TServerAnswer hang;
  hang.Hang = true;
  const std::string info9 = "info9";  // stands for the "&info=9" page

  struct Case {
    const char* name;
    TServerAnswer answer;
    std::string opened;  // "" nothing, info9 the "&info=9" page
    std::size_t requests = 1;
  };
  const Case cases[] = {
      {"OK", text("OK"), ""},
      {"empty", text(""), ""},
      {"offered address", text(std::string("OpenWWW=") + kOffered), kOffered},
      {"after other lines, CRLF after it",
       text("Version=1.4\r\nOpenWWW=https://example.org/new?v=1.4&x=1\r\nEnd\r\n"),
       "https://example.org/new?v=1.4&x=1"},
      {"first occurrence", text("OpenWWW=http://a.example/\nOpenWWW=http://b.example/"),
       "http://a.example/"},
      {"cut at a space", text("OpenWWW=http://example.org/a b;xterm -e sh"),
       "http://example.org/a"},
      {"cut at a control character", text("OpenWWW=http://example.org/a\x1b]2;x\x07"),
       "http://example.org/a"},
      {"1000 characters", text("OpenWWW=" + at_bound), at_bound},
      {"1001 characters", text("OpenWWW=" + at_bound + "a"), ""},
      {"2000 characters", text("OpenWWW=" + at_bound + long_path + "aaaaaaaaaaaaaaaaaaa"), ""},
      {"file:", text("OpenWWW=file:///etc/passwd"), ""},
      {"javascript:", text("OpenWWW=javascript:alert(1)"), ""},
      {"data:", text("OpenWWW=data:text/html,<script>alert(1)</script>"), ""},
      {"local program", text("OpenWWW=/usr/bin/xterm"), ""},
      {"relative", text("OpenWWW=xterm -e sh"), ""},
      {"scheme-relative", text("OpenWWW=//evil.example/x"), ""},
      {"no host", text("OpenWWW=http:///etc/passwd"), ""},
      {"space first", text("OpenWWW= http://example.org/"), ""},
      {"control character first", text("OpenWWW=\x01http://example.org/"), ""},
      {"file: with a space", text("OpenWWW=file:///tmp/a b.html"), ""},
      {"NUL in the body", text(std::string("OpenWWW=") + kOffered + std::string(1, '\0')), ""},
      {"not UTF-8", text(std::string("\xff\xfe") + "OpenWWW=" + kOffered), ""},
      {"10 MB announced", text(std::string("OpenWWW=") + kOffered + huge_padding), ""},
      {"10 MB unannounced", unannounced, ""},
      {"401 is an answer", status("HTTP/1.0 401 Unauthorized", "OpenWWW=http://a.example/"),
       "http://a.example/"},
      {"407 is an answer", status("HTTP/1.0 407 Proxy Authentication Required"), ""},
      {"404", status("HTTP/1.0 404 Not Found", std::string("OpenWWW=") + kOffered), info9},
      {"400", status("HTTP/1.0 400 Bad Request"), info9},
      {"503", status("HTTP/1.0 503 Service Unavailable"), info9},
      {"5 redirects", TServerAnswer::Redirect("/hop/4"), kOffered, 6},
      {"6 redirects", TServerAnswer::Redirect("/hop/5"), info9, 6},
      {"redirect to file:", TServerAnswer::Redirect("file:///etc/passwd"), info9},
      {"redirect to javascript:", TServerAnswer::Redirect("javascript:alert(1)"), info9},
      {"never answers", hang, info9},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir_.File("registry" + std::to_string(n++) + ".ini");
    SetLastLU(file, DateTime(2012, 7, 4));
    Answer(c.answer);
    opened_.clear();
    EXPECT_EQ(Run(file, 500), c.requests);
    const Opened expected = c.opened.empty()    ? Opened{}
                            : c.opened == info9 ? Opened{InfoPage(9)}
                                                : Opened{c.opened};
    EXPECT_EQ(opened_, expected);
  }
}

TEST_F(UpdateCheck, NoConnectionOpensTheInfoPageUnderTheDateRule) {
  const std::string host = "127.0.0.1:" + std::to_string(test::UnusedLocalPort());
  setenv(kUpdateHostVariable, host.c_str(), 1);
  for (const auto& [now, expected] :
       {std::pair{DateTime(2012, 6, 5), Opened{}},
        std::pair{DateTime(2012, 7, 5),
                  Opened{"http://" + host +
                         "/LiveUpdate/info.php?prg=TrelvixToiPhone&ver=1.3&info=9"}}}) {
    const std::string file = dir_.File("registry" + std::to_string(opened_.size()) + ".ini");
    SetLastLU(file, now - 1);
    now_ = now;
    opened_.clear();
    EXPECT_EQ(Run(file), 0u);
    EXPECT_EQ(opened_, expected);
  }
}

TEST_F(UpdateCheck, InformationPictureOpensTheInfoPage) {
  runtime::TSettingsStore store(dir_.File("registry.ini"));
  TUpdateCheck check(
      store, [this] { return now_; },
      [this](const std::string& url) {
        opened_.push_back(url);
        return true;
      });
  check.ImageInfoEnClick();
  check.ImageInfoEnClick();
  EXPECT_EQ(opened_, (Opened{InfoPage(1), InfoPage(1)}));
  EXPECT_FALSE(check.Busy());
  EXPECT_TRUE(server_.Requests().empty()) << "the page is the browser's to load";
  EXPECT_FALSE(store.KeyExists(kKey)) << "the click stores nothing";
}

TEST_F(UpdateCheck, HostFromTheEnvironmentOrTheProgramsOwn) {
  struct Case {
    const char* value;  // nullptr: unset
    std::string host;
  };
  const std::string own = profile::kMakerSite;
  const Case cases[] = {
      {nullptr, own},
      {"", own},
      {"127.0.0.1:8080", "127.0.0.1:8080"},
      {"updates.example.org", "updates.example.org"},
      {"[::1]:8080", "[::1]:8080"},
      {"evil.example/path", own},
      {"user@evil.example", own},
      {"evil.example?x", own},
      {"evil.example#x", own},
      {"two words", own},
      {"host:port", own},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    if (c.value)
      setenv(kUpdateHostVariable, c.value, 1);
    else
      unsetenv(kUpdateHostVariable);
    EXPECT_EQ(UpdateHost(), c.host);
  }
}

}  // namespace
}  // namespace trelvix::app
