// One HTTP POST on a worker thread, its answer handed back to the thread that asked for it.
//
// The request goes out with libcurl: HTTP/1.0, the given form body, content type, user agent and
// accept header; redirects followed up to a limit and only to http or https addresses; no proxy
// configured here (libcurl honours the user's http_proxy, https_proxy and no_proxy variables, as
// the desktop's other programs do) and no local address of its own (any, 0.0.0.0); a connect and
// a total time-out; the answer's body read up to a bound, beyond which the transfer stops and the
// answer is reported as too large.
//
// THttpClient is used on one thread, the one that created it, which must run a Qt event loop:
// the response event is queued to that loop and runs there after the worker has finished. No
// nested event loop runs meanwhile, so the caller's handler returns at once. Abort() (and the
// destructor) stop a request in flight at once, whatever it is waiting for, and no response
// event follows.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace trelvix::runtime {

// Giving up on a connection after 10 s lets a slow name lookup and a retransmitted TCP handshake
// succeed, while an unreachable server is dropped soon. 30 s in all bounds a server that accepts
// and never answers; a body at the bound needs about 6 s even at 10 kB/s.
inline constexpr int kHttpConnectTimeoutMs = 10000;
inline constexpr int kHttpTotalTimeoutMs = 30000;
inline constexpr std::size_t kHttpMaxBodyBytes = 64 * 1024;
inline constexpr int kHttpMaxRedirects = 5;

struct THttpRequest {
  std::string Url;  // http:// or https:// only
  std::string Body;
  std::string ContentType;
  std::string UserAgent;
  std::string Accept;
  int MaxRedirects = kHttpMaxRedirects;
  int ConnectTimeoutMs = kHttpConnectTimeoutMs;
  int TotalTimeoutMs = kHttpTotalTimeoutMs;
  std::size_t MaxBodyBytes = kHttpMaxBodyBytes;
};

enum class THttpOutcome {
  hoReceived,  // a whole answer arrived (whatever its status)
  hoTooLarge,  // an answer arrived but its body was longer than MaxBodyBytes; Body is empty
  hoFailed,    // no answer: no connection, time-out, too many redirects, a refused address...
};

struct THttpResponse {
  THttpOutcome Outcome = THttpOutcome::hoFailed;
  long Status = 0;    // status code of the last answer received; 0 when none
  std::string Body;   // hoReceived only
  std::string Error;  // what went wrong, for hoTooLarge and hoFailed
};

class THttpClient {
 public:
  using TResponseEvent = std::function<void(const THttpResponse&)>;

  THttpClient();
  ~THttpClient();  // Aborts a request in flight.
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // Starts the POST and returns at once; on_response runs later on this thread with the answer.
  // False (and no event) when a request is in flight already or the address is not an http or
  // https address.
  bool Post(const THttpRequest& request, TResponseEvent on_response);
  // True from Post until the response event has run or the request was aborted.
  bool Busy() const;
  // Stops a request in flight at once; its response event never runs. Nothing when idle.
  void Abort();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace trelvix::runtime
