// The HTTP client against a real server on 127.0.0.1: the request as sent, the outcomes of
// answers, redirects and failures, the bound on the body, and stopping a request in flight.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

#include "runtime/application.h"
#include "runtime/http_client.h"
#include "runtime/local_http_server.h"

namespace trelvix::runtime {
namespace {

using test::TLocalHttpServer;
using test::TServerAnswer;
using Clock = std::chrono::steady_clock;

THttpRequest FormPost(const std::string& url) {
  THttpRequest request;
  request.Url = url;
  request.Body = "prg=TrelvixToiPhone&ver=1.3";
  request.ContentType = "application/x-www-form-urlencoded";
  request.UserAgent = "Mozilla/4.0 (compatible; ICS)";
  request.Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  return request;
}

class HttpClient : public ::testing::Test {
 protected:
  void SetUp() override {
    // A proxy of the test machine's environment must not carry requests to 127.0.0.1.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    ASSERT_TRUE(EnsureGuiApplication());
  }

  // Posts and runs the event loop until the response event has run.
  std::optional<THttpResponse> Run(THttpClient& client, const THttpRequest& request) {
    std::optional<THttpResponse> response;
    bool on_main_thread = false;
    EXPECT_TRUE(client.Post(request, [&](const THttpResponse& r) {
      on_main_thread = QThread::currentThread() == QCoreApplication::instance()->thread();
      response = r;
    }));
    EXPECT_TRUE(client.Busy());
    EXPECT_FALSE(response) << "the event comes later, from the event loop";
    EXPECT_TRUE(QTest::qWaitFor([&] { return response.has_value(); }, 20000));
    EXPECT_TRUE(on_main_thread);
    EXPECT_FALSE(client.Busy());
    return response;
  }
};

TEST_F(HttpClient, SendsOneHttp10FormPostWithItsHeaders) {
  TLocalHttpServer server([](const test::THttpRecord&) { return TServerAnswer::Text("OK"); });
  THttpClient client;
  const auto response = Run(client, FormPost(server.Url("/LiveUpdate/check.php")));
  ASSERT_TRUE(response);
  EXPECT_EQ(response->Outcome, THttpOutcome::hoReceived);
  EXPECT_EQ(response->Status, 200);
  EXPECT_EQ(response->Body, "OK");

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const test::THttpRecord& sent = requests[0];
  EXPECT_EQ(sent.RequestLine, "POST /LiveUpdate/check.php HTTP/1.0");
  EXPECT_EQ(sent.Header("Host"), server.HostPort());
  EXPECT_EQ(sent.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(sent.Header("User-Agent"), "Mozilla/4.0 (compatible; ICS)");
  EXPECT_EQ(sent.Header("Accept"), "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
  EXPECT_EQ(sent.Header("Content-Length"), "27");
  EXPECT_EQ(sent.Body, "prg=TrelvixToiPhone&ver=1.3");
  for (const std::string& line : sent.Headers)
    EXPECT_EQ(line.find("Proxy"), std::string::npos) << line;
}

// Serves /r<n> as a redirect to /r<n+1> up to /r<hops>, which answers "end"; "/file" redirects to
// a local file, "/huge" and "/huge-unannounced" send 10 MB, "/bound" exactly the bound.
TServerAnswer Scripted(const test::THttpRecord& request) {
  const std::string path = request.Path();
  if (path.starts_with("/chain")) {  // /chain<hops>/<n>
    const std::size_t slash = path.find('/', 1);
    const int hops = std::stoi(path.substr(6, slash - 6));
    const int n = std::stoi(path.substr(slash + 1));
    if (n < hops) return TServerAnswer::Redirect(path.substr(0, slash + 1) + std::to_string(n + 1));
    return TServerAnswer::Text("end");
  }
  if (path == "/file") return TServerAnswer::Redirect("file:///etc/passwd");
  if (path == "/ftp") return TServerAnswer::Redirect("ftp://127.0.0.1/x");
  if (path == "/missing") return TServerAnswer::Text("no such page", "HTTP/1.0 404 Not Found");
  if (path == "/auth") return TServerAnswer::Text("OpenWWW=x", "HTTP/1.0 401 Unauthorized");
  if (path == "/bound") return TServerAnswer::Text(std::string(kHttpMaxBodyBytes, 'a'));
  if (path == "/over") return TServerAnswer::Text(std::string(kHttpMaxBodyBytes + 1, 'a'));
  if (path.starts_with("/huge")) {
    TServerAnswer answer = TServerAnswer::Text(std::string(10 * 1024 * 1024, 'x'));
    answer.AnnounceLength = path == "/huge";
    return answer;
  }
  if (path == "/hang") {
    TServerAnswer answer;
    answer.Hang = true;
    return answer;
  }
  return TServerAnswer::Text("", "HTTP/1.0 500 Internal Server Error");
}

TEST_F(HttpClient, OutcomeOfEachKindOfAnswer) {
  TLocalHttpServer server(&Scripted);
  struct Case {
    std::string path;
    THttpOutcome outcome;
    long status;
    std::size_t body_size;
    std::size_t requests;  // that reached the server
  };
  const Case cases[] = {
      {"/chain0/0", THttpOutcome::hoReceived, 200, 3, 1},
      {"/chain5/0", THttpOutcome::hoReceived, 200, 3, 6},  // five redirects are followed
      {"/chain6/0", THttpOutcome::hoFailed, 302, 0, 6},    // the sixth is not
      {"/file", THttpOutcome::hoFailed, 302, 0, 1},
      {"/ftp", THttpOutcome::hoFailed, 302, 0, 1},
      {"/missing", THttpOutcome::hoReceived, 404, 12, 1},
      {"/auth", THttpOutcome::hoReceived, 401, 9, 1},
      {"/bound", THttpOutcome::hoReceived, 200, kHttpMaxBodyBytes, 1},
      {"/over", THttpOutcome::hoTooLarge, 200, 0, 1},
      {"/huge", THttpOutcome::hoTooLarge, 200, 0, 1},
      {"/huge-unannounced", THttpOutcome::hoTooLarge, 200, 0, 1},
  };
  std::size_t total = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    THttpClient client;
    const auto response = Run(client, FormPost(server.Url(c.path)));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->Outcome, c.outcome) << response->Error;
    EXPECT_EQ(response->Status, c.status);
    EXPECT_EQ(response->Body.size(), c.body_size);
    EXPECT_EQ(response->Error.empty(), c.outcome == THttpOutcome::hoReceived) << response->Error;
    total += c.requests;
    EXPECT_EQ(server.Requests().size(), total);
  }
}

TEST_F(HttpClient, NoConnectionAndNoAnswerAreFailures) {
  TLocalHttpServer server(&Scripted);
  THttpClient client;
  auto request = FormPost("http://127.0.0.1:" + std::to_string(test::UnusedLocalPort()) + "/");
  auto response = Run(client, request);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->Outcome, THttpOutcome::hoFailed);
  EXPECT_EQ(response->Status, 0);

  request = FormPost(server.Url("/hang"));
  request.TotalTimeoutMs = 300;
  response = Run(client, request);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->Outcome, THttpOutcome::hoFailed);
  EXPECT_EQ(response->Status, 0);
  EXPECT_FALSE(response->Error.empty());
}

TEST_F(HttpClient, RefusesASecondRequestAndAddressesThatAreNotWebAddresses) {
  TLocalHttpServer server(&Scripted);
  THttpClient client;
  bool called = false;
  for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/", "127.0.0.1/x", ""}) {
    EXPECT_FALSE(client.Post(FormPost(url), [&](const THttpResponse&) { called = true; })) << url;
    EXPECT_FALSE(client.Busy());
  }
  ASSERT_TRUE(client.Post(FormPost(server.Url("/hang")), [&](const THttpResponse&) {}));
  EXPECT_FALSE(client.Post(FormPost(server.Url("/chain0/0")), [&](const THttpResponse&) {
    called = true;
  })) << "one request at a time";
  client.Abort();
  QTest::qWait(50);
  EXPECT_FALSE(called);
}

// A request waiting for a server that never answers stops at once on Abort() and on destruction,
// far sooner than its time-outs, and its response event never runs.
TEST_F(HttpClient, AbortAndDestructionStopARequestInFlightAtOnce) {
  TLocalHttpServer server(&Scripted);
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destruction" : "Abort()");
    bool called = false;
    auto client = std::make_unique<THttpClient>();
    const std::size_t before = server.Requests().size();
    ASSERT_TRUE(
        client->Post(FormPost(server.Url("/hang")), [&](const THttpResponse&) { called = true; }));
    ASSERT_TRUE(server.WaitForRequests(before + 1, 5000)) << "the request is in flight";
    const auto start = Clock::now();
    if (destroy)
      client.reset();
    else
      client->Abort();
    const auto took = Clock::now() - start;
    // It takes well under a millisecond; libcurl's own timers alone would end the wait after
    // about 200 ms, its time-outs after seconds.
    EXPECT_LT(took, std::chrono::milliseconds(150));
    QTest::qWait(100);
    EXPECT_FALSE(called);
    if (!destroy) {
      EXPECT_FALSE(client->Busy());
      // The client serves a new request after an abort.
      const auto response = Run(*client, FormPost(server.Url("/chain0/0")));
      ASSERT_TRUE(response);
      EXPECT_EQ(response->Body, "end");
    }
  }
}

}  // namespace
}  // namespace trelvix::runtime
