#include "runtime/http_client.h"

#include <curl/curl.h>

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "runtime/url_opener.h"

namespace trelvix::runtime {
namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using ListPtr = std::unique_ptr<curl_slist, ListDeleter>;

// libcurl's global set-up is not thread-safe against other libcurl calls; it runs once, before
// the first transfer, on the client's thread. Its resources last until the process ends.
void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The body received so far; worker thread only.
struct BodySink {
  std::string data;
  std::size_t limit = 0;
  bool too_large = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  const size_t bytes = size * count;
  if (bytes > sink->limit - sink->data.size()) {
    sink->too_large = true;
    return 0;  // anything but `bytes` stops the transfer
  }
  sink->data.append(data, bytes);
  return bytes;
}

bool AddHeader(ListPtr& list, const std::string& line) {
  curl_slist* longer = curl_slist_append(list.get(), line.c_str());
  if (longer == nullptr) return false;
  (void)list.release();  // `longer` now owns the old list
  list.reset(longer);
  return true;
}

// Sets every option of the request on easy; false when libcurl refuses one.
bool Configure(CURL* easy, const THttpRequest& request, BodySink& sink, curl_slist* headers,
               char* error_text) {
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
  };
  set(CURLOPT_ERRORBUFFER, error_text);
  set(CURLOPT_NOSIGNAL, 1L);  // no SIGALRM for name look-ups: this is not the main thread
  // An abort during a name look-up leaves the resolver thread to finish on its own instead of
  // waiting for it, so that quitting is never held up by a slow name server.
  set(CURLOPT_QUICK_EXIT, 1L);
  set(CURLOPT_URL, request.Url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  set(CURLOPT_POST, 1L);
  set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.Body.size()));
  set(CURLOPT_COPYPOSTFIELDS, request.Body.c_str());
  set(CURLOPT_USERAGENT, request.UserAgent.c_str());
  set(CURLOPT_HTTPHEADER, headers);
  set(CURLOPT_FOLLOWLOCATION, request.MaxRedirects > 0 ? 1L : 0L);
  set(CURLOPT_MAXREDIRS, static_cast<long>(request.MaxRedirects));
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.ConnectTimeoutMs));
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(request.TotalTimeoutMs));
  // An announced length over the bound stops the transfer before any of the body is read.
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.MaxBodyBytes));
  set(CURLOPT_WRITEFUNCTION, &WriteBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
  return ok;
}

// Runs the request to its end, or until abort is set and the multi handle woken. Worker thread.
THttpResponse Perform(CURLM* multi, const THttpRequest& request, const std::atomic<bool>& abort) {
  THttpResponse response;
  ListPtr headers;
  if (!AddHeader(headers, "Content-Type: " + request.ContentType) ||
      !AddHeader(headers, "Accept: " + request.Accept)) {
    response.Error = "out of memory";
    return response;
  }
  BodySink sink;
  sink.limit = request.MaxBodyBytes;
  char error_text[CURL_ERROR_SIZE] = {};
  EasyPtr easy(curl_easy_init());
  if (!easy || !Configure(easy.get(), request, sink, headers.get(), error_text) ||
      curl_multi_add_handle(multi, easy.get()) != CURLM_OK) {
    response.Error = error_text[0] ? error_text : "cannot set up the request";
    return response;
  }

  CURLcode result = CURLE_OK;
  bool done = false;
  while (!done && !abort.load()) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE) {
        result = message->data.result;
        done = true;
      }
    }
    // libcurl shortens the wait to its own time-outs; Abort() ends it with curl_multi_wakeup.
    if (!done && curl_multi_poll(multi, nullptr, 0, kHttpTotalTimeoutMs, nullptr) != CURLM_OK)
      break;
  }
  curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &response.Status);
  curl_multi_remove_handle(multi, easy.get());

  if (!done) {
    response.Error = abort.load() ? "aborted" : "the transfer loop failed";
  } else if (result == CURLE_OK) {
    response.Outcome = THttpOutcome::hoReceived;
    response.Body = std::move(sink.data);
  } else if (result == CURLE_FILESIZE_EXCEEDED || (result == CURLE_WRITE_ERROR && sink.too_large)) {
    response.Outcome = THttpOutcome::hoTooLarge;
    response.Error = "the answer is longer than " + std::to_string(request.MaxBodyBytes) + " bytes";
  } else {
    response.Error = error_text[0] ? error_text : curl_easy_strerror(result);
  }
  return response;
}

}  // namespace

struct THttpClient::Impl {
  QObject context;  // on the client's thread; response events queued to it die with it
  std::thread worker;
  MultiPtr multi;  // set before the worker starts, freed after it has ended
  std::atomic<bool> abort{false};
  bool busy = false;        // client's thread only
  unsigned generation = 0;  // client's thread only; a response of an older request is dropped

  // Ends the worker (at once when abort is set) and frees what the request used.
  void Finish() {
    if (worker.joinable()) worker.join();
    multi.reset();
    busy = false;
  }
};

THttpClient::THttpClient() : impl_(std::make_unique<Impl>()) {}

THttpClient::~THttpClient() {
  Abort();
}

bool THttpClient::Post(const THttpRequest& request, TResponseEvent on_response) {
  Impl& d = *impl_;
  if (d.busy || !IsWebAddress(request.Url)) return false;
  InitCurlOnce();
  d.multi.reset(curl_multi_init());
  if (!d.multi) return false;
  d.abort = false;
  d.busy = true;
  const unsigned generation = ++d.generation;
  d.worker = std::thread([&d, request, generation, on_response = std::move(on_response)] {
    THttpResponse response = Perform(d.multi.get(), request, d.abort);
    if (d.abort.load()) return;
    QMetaObject::invokeMethod(
        &d.context,
        [&d, generation, response = std::move(response), on_response] {
          if (!d.busy || d.generation != generation) return;
          d.Finish();
          if (on_response) on_response(response);
        },
        Qt::QueuedConnection);
  });
  return true;
}

bool THttpClient::Busy() const {
  return impl_->busy;
}

void THttpClient::Abort() {
  Impl& d = *impl_;
  if (!d.busy) return;
  d.abort = true;
  curl_multi_wakeup(d.multi.get());
  d.Finish();
  ++d.generation;
}

}  // namespace trelvix::runtime
