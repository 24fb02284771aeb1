// The daily update check and the information page.
//
// Once per run, three seconds after start, the window calls TimerCheckVersionTimer: it records
// the date-time of this attempt under the program's settings key and, when the previous attempt
// was on another day of the month, asks the update server (a form POST) whether it has a page to
// show; an answer holding "OpenWWW=" followed by a web address opens that address in the
// browser, a failed request opens the information page "&info=9" (from July 2012 on). The
// information pictures open the information page "&info=1".
//
// Addresses from the server's answer are opened only when they are plain http or https addresses
// (see OfferedAddress); nothing from the answer reaches a shell or a program.
//
// The request runs on a worker thread; its answer is handled on the thread that created the
// object (the GUI thread), from that thread's event loop. Destroying the object stops a request
// in flight at once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/http_client.h"
#include "runtime/settings_store.h"
#include "runtime/url_opener.h"

namespace trelvix::app {

inline constexpr char kLastCheckValue[] = "LastLU";
inline constexpr char kUpdateProgram[] = "TrelvixToiPhone";
inline constexpr char kCheckPath[] = "/LiveUpdate/check.php";
inline constexpr char kInfoPath[] = "/LiveUpdate/info.php";
inline constexpr char kOpenMarker[] = "OpenWWW=";
inline constexpr char kUpdateHostVariable[] = "TRELVIX_UPDATE_HOST";
inline constexpr char kCheckContentType[] = "application/x-www-form-urlencoded";
inline constexpr char kCheckUserAgent[] = "Mozilla/4.0 (compatible; ICS)";
inline constexpr char kCheckAccept[] = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
// The longest address taken from an answer; a longer one is ignored, never opened cut short.
inline constexpr std::size_t kMaxOfferedAddress = 1000;

// The update server's host: TRELVIX_UPDATE_HOST ("host" or "host:port") when it is set and
// names nothing but a host and port, else the program's own web site.
std::string UpdateHost();

// The address after the first "OpenWWW=" of an answer, cut at the first white space or control
// character; std::nullopt when there is none, when it is longer than kMaxOfferedAddress, or when
// it is not an absolute http:// or https:// address with a host.
std::optional<std::string> OfferedAddress(std::string_view answer);

class TUpdateCheck {
 public:
  // The local date-time in days since 1899-12-30.
  using TClock = std::function<double()>;

  // The host is read from UpdateHost() here. Main (GUI) thread.
  TUpdateCheck(runtime::TSettingsStore& store, TClock clock, runtime::TURLOpener opener);
  TUpdateCheck(const TUpdateCheck&) = delete;
  TUpdateCheck& operator=(const TUpdateCheck&) = delete;

  // The update check; only the first call of an object does anything.
  void TimerCheckVersionTimer();
  // Opens the information page.
  void ImageInfoEnClick();

  // True while the check's request is in flight.
  bool Busy() const { return FCheckVersion.Busy(); }
  // Stops a request in flight at once; nothing is opened for it.
  void Abort() { FCheckVersion.Abort(); }
  // The total time-out of the request (tests shorten it).
  void SetTotalTimeoutMs(int ms) { FTotalTimeoutMs = ms; }

  const std::string& Host() const { return FHost; }
  // "http://" + host + "/LiveUpdate/info.php?prg=TrelvixToiPhone&ver=1.3&info=" + number.
  std::string InfoPageAddress(int number) const;

 private:
  void CheckVersionAnswered(const runtime::THttpResponse& response);

  runtime::TSettingsStore& FStore;
  TClock FClock;
  runtime::TURLOpener FOpener;
  std::string FHost;
  int FTotalTimeoutMs = runtime::kHttpTotalTimeoutMs;
  bool FChecked = false;
  // Last, so that it is destroyed first: no answer is handled once the rest is gone.
  runtime::THttpClient FCheckVersion;
};

}  // namespace trelvix::app
