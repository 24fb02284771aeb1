#include "runtime/local_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <stdexcept>

namespace trelvix::test {
namespace {

constexpr int kIoTimeoutMs = 10000;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Waits until fd is ready for events or the wake pipe is written; true when fd is ready.
bool WaitReady(int fd, short events, int wake_fd, int timeout_ms) {
  pollfd fds[2] = {{fd, events, 0}, {wake_fd, POLLIN, 0}};
  if (poll(fds, 2, timeout_ms) <= 0) return false;
  if (fds[1].revents != 0) return false;
  return fds[0].revents != 0;
}

bool SendAll(int fd, const std::string& data, int wake_fd) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    if (!WaitReady(fd, POLLOUT, wake_fd, kIoTimeoutMs)) return false;
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;  // the client went away (a transfer it stopped)
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// The request line and headers of a request whose head ends at head_end.
THttpRecord ParseHead(const std::string& data, std::size_t head_end) {
  THttpRecord record;
  std::size_t start = data.find("\r\n");
  record.RequestLine = data.substr(0, start);
  start += 2;
  while (start < head_end) {
    const std::size_t end = data.find("\r\n", start);
    record.Headers.push_back(data.substr(start, end - start));
    start = end + 2;
  }
  return record;
}

int ListeningSocket() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, 16) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  return fd;
}

}  // namespace

std::string THttpRecord::Path() const {
  const std::size_t first = RequestLine.find(' ');
  const std::size_t second = RequestLine.find(' ', first + 1);
  if (first == std::string::npos) return {};
  return RequestLine.substr(first + 1, second - first - 1);
}

std::string THttpRecord::Header(const std::string& name) const {
  const std::string wanted = Lower(name) + ":";
  for (const std::string& line : Headers) {
    if (Lower(line.substr(0, wanted.size())) != wanted) continue;
    const std::size_t start = line.find_first_not_of(' ', wanted.size());
    return start == std::string::npos ? std::string() : line.substr(start);
  }
  return {};
}

TServerAnswer TServerAnswer::Text(std::string body, std::string status_line) {
  TServerAnswer answer;
  answer.StatusLine = std::move(status_line);
  answer.Headers = {"Content-Type: text/plain"};
  answer.Body = std::move(body);
  return answer;
}

TServerAnswer TServerAnswer::Redirect(std::string location) {
  TServerAnswer answer;
  answer.StatusLine = "HTTP/1.0 302 Found";
  answer.Headers = {"Location: " + location};
  return answer;
}

TLocalHttpServer::TLocalHttpServer(THandler handler) : handler_(std::move(handler)) {
  listen_fd_ = ListeningSocket();
  port_ = BoundPort(listen_fd_);
  if (pipe2(wake_, O_CLOEXEC) != 0) {
    close(listen_fd_);
    throw std::runtime_error("cannot create a pipe");
  }
  thread_ = std::thread([this] { Serve(); });
}

TLocalHttpServer::~TLocalHttpServer() {
  stop_ = true;
  const char byte = 0;
  (void)!write(wake_[1], &byte, 1);
  thread_.join();
  close(listen_fd_);
  close(wake_[0]);
  close(wake_[1]);
}

std::string TLocalHttpServer::HostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string TLocalHttpServer::Url(const std::string& path) const {
  return "http://" + HostPort() + path;
}

std::vector<THttpRecord> TLocalHttpServer::Requests() const {
  std::lock_guard g(lock_);
  return requests_;
}

bool TLocalHttpServer::WaitForRequests(std::size_t count, int timeout_ms) const {
  std::unique_lock g(lock_);
  return arrived_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                           [&] { return requests_.size() >= count; });
}

void TLocalHttpServer::Serve() {
  while (!Stopping()) {
    if (!WaitReady(listen_fd_, POLLIN, wake_[0], -1)) continue;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ServeConnection(fd);
    close(fd);
  }
}

void TLocalHttpServer::ServeConnection(int fd) {
  std::string data;
  char buffer[4096];
  std::size_t head_end = std::string::npos;
  std::size_t body_length = 0;
  while (head_end == std::string::npos || data.size() < head_end + 4 + body_length) {
    if (!WaitReady(fd, POLLIN, wake_[0], kIoTimeoutMs)) return;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    data.append(buffer, static_cast<std::size_t>(n));
    if (head_end == std::string::npos && (head_end = data.find("\r\n\r\n")) != std::string::npos) {
      const std::string length = ParseHead(data, head_end).Header("Content-Length");
      body_length = length.empty() ? 0 : std::stoul(length);
    }
  }

  THttpRecord record = ParseHead(data, head_end);
  record.Body = data.substr(head_end + 4);
  {
    std::lock_guard g(lock_);
    requests_.push_back(record);
  }
  arrived_.notify_all();

  const TServerAnswer answer = handler_(record);
  if (answer.Hang) {
    // Until the server stops or the client gives up (the socket then reads as ended).
    while (WaitReady(fd, POLLIN, wake_[0], -1) && recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    return;
  }
  std::string head = answer.StatusLine + "\r\n";
  for (const std::string& line : answer.Headers) head += line + "\r\n";
  if (answer.AnnounceLength)
    head += "Content-Length: " + std::to_string(answer.Body.size()) + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (SendAll(fd, head, wake_[0])) SendAll(fd, answer.Body, wake_[0]);
  shutdown(fd, SHUT_WR);
}

int UnusedLocalPort() {
  const int fd = ListeningSocket();
  const int port = BoundPort(fd);
  close(fd);
  return port;
}

}  // namespace trelvix::test
