// A small HTTP server on 127.0.0.1 for tests: it listens on a free port, serves one connection at a
// time on its own thread with answers the test chooses per request, and records every request as
// it arrived (head and body).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace trelvix::test {

struct THttpRecord {
  std::string RequestLine;           // "POST /path HTTP/1.0"
  std::vector<std::string> Headers;  // "Name: value", in the order sent
  std::string Body;
  std::string Path() const;  // the target of the request line
  // The value of the first header of that name (any letter case); empty when none.
  std::string Header(const std::string& name) const;
};

struct TServerAnswer {
  std::string StatusLine = "HTTP/1.0 200 OK";
  std::vector<std::string> Headers;
  std::string Body;
  bool AnnounceLength = true;  // send Content-Length; else the body ends when the server closes
  bool Hang = false;           // read the request, then never answer until the server stops

  static TServerAnswer Text(std::string body, std::string status_line = "HTTP/1.0 200 OK");
  static TServerAnswer Redirect(std::string location);  // 302 Found
};

class TLocalHttpServer {
 public:
  using THandler = std::function<TServerAnswer(const THttpRecord&)>;

  // Answers every request with handler (called on the server's thread).
  explicit TLocalHttpServer(THandler handler);
  // Stops at once, also while a connection hangs.
  ~TLocalHttpServer();
  TLocalHttpServer(const TLocalHttpServer&) = delete;
  TLocalHttpServer& operator=(const TLocalHttpServer&) = delete;

  int Port() const { return port_; }
  std::string HostPort() const;                    // "127.0.0.1:<port>"
  std::string Url(const std::string& path) const;  // "http://127.0.0.1:<port>" + path

  std::vector<THttpRecord> Requests() const;
  // Waits up to timeout_ms until at least count requests have arrived.
  bool WaitForRequests(std::size_t count, int timeout_ms) const;

 private:
  void Serve();
  void ServeConnection(int fd);
  bool Stopping() const { return stop_.load(); }

  THandler handler_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};  // a pipe written at stop, so that every wait ends
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  mutable std::condition_variable arrived_;
  std::vector<THttpRecord> requests_;  // Guarded by lock_.
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int UnusedLocalPort();

}  // namespace trelvix::test
