#include "app/update_check.h"

#include <QDate>
#include <QString>
#include <QUrl>
#include <QUtf8StringView>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "profile/iphone_profile.h"
#include "subtitles/subtitle_constants.h"

namespace trelvix::app {
namespace {

// The date-times a date can be taken from: 0001-01-01 to 9999-12-31.
constexpr double kFirstDateTime = -693593.0;
constexpr double kLastDateTime = 2958466.0;

// The calendar date of a date-time (days since 1899-12-30; the fraction is the time of day);
// std::nullopt for values that name no date, such as a damaged stored value.
std::optional<QDate> DateOf(double date_time) {
  if (!std::isfinite(date_time) || date_time < kFirstDateTime || date_time >= kLastDateTime)
    return std::nullopt;
  return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::trunc(date_time)));
}

bool IsFailure(const runtime::THttpResponse& response) {
  if (response.Outcome == runtime::THttpOutcome::hoFailed) return true;
  return response.Status >= 400 && response.Status != 401 && response.Status != 407;
}

// Text is UTF-8 without NUL bytes; anything else is not an answer of the update server.
bool IsText(std::string_view body) {
  return body.find('\0') == std::string_view::npos && QUtf8StringView(body).isValidUtf8();
}

bool IsPlainHost(std::string_view host) {
  if (host.empty() || host.find_first_of("/?#@\\ \t\r\n") != std::string_view::npos) return false;
  const QUrl url(QStringLiteral("http://") + QString::fromUtf8(host.data(), host.size()) + '/',
                 QUrl::StrictMode);
  return url.isValid() && !url.host().isEmpty() && url.userInfo().isEmpty();
}

}  // namespace

std::string UpdateHost() {
  const char* host = std::getenv(kUpdateHostVariable);
  if (host != nullptr && IsPlainHost(host)) return host;
  return profile::kMakerSite;
}

std::optional<std::string> OfferedAddress(std::string_view answer) {
  const std::size_t marker = answer.find(kOpenMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  std::string_view address = answer.substr(marker + std::string_view(kOpenMarker).size());
  const auto end = std::find_if(address.begin(), address.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
  });
  address = address.substr(0, static_cast<std::size_t>(end - address.begin()));
  if (address.empty() || address.size() > kMaxOfferedAddress) return std::nullopt;

  const QUrl url(QString::fromUtf8(address.data(), address.size()), QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || url.isRelative() || (scheme != "http" && scheme != "https") ||
      url.host().isEmpty())
    return std::nullopt;
  std::string result(address);
  if (!runtime::IsWebAddress(result)) return std::nullopt;
  return result;
}

TUpdateCheck::TUpdateCheck(runtime::TSettingsStore& store, TClock clock, runtime::TURLOpener opener)
    : FStore(store), FClock(std::move(clock)), FOpener(std::move(opener)), FHost(UpdateHost()) {}

std::string TUpdateCheck::InfoPageAddress(int number) const {
  return "http://" + FHost + kInfoPath + "?prg=" + kUpdateProgram +
         "&ver=" + profile::kProgramVersion + "&info=" + std::to_string(number);
}

void TUpdateCheck::TimerCheckVersionTimer() {
  if (FChecked) return;
  FChecked = true;

  // The previous attempt's date-time, then this one's, written whether or not a request follows.
  const double now = FClock();
  double previous = 0;
  if (auto key = FStore.OpenKey(subtitles::kProgramKey, true)) {
    previous = key->ReadDouble(kLastCheckValue).value_or(0.0);
    key->WriteDouble(kLastCheckValue, now);  // a failure only means the next run checks again
  }
  const std::optional<QDate> previous_date = DateOf(previous);
  const std::optional<QDate> today = DateOf(now);
  if (previous == 0 || !previous_date || !today || previous_date->day() == today->day()) return;

  runtime::THttpRequest request;
  request.Url = "http://" + FHost + kCheckPath;
  request.Body = std::string("prg=") + kUpdateProgram + "&ver=" + profile::kProgramVersion;
  request.ContentType = kCheckContentType;
  request.UserAgent = kCheckUserAgent;
  request.Accept = kCheckAccept;
  request.TotalTimeoutMs = FTotalTimeoutMs;
  FCheckVersion.Post(request, [this](const runtime::THttpResponse& r) { CheckVersionAnswered(r); });
}

void TUpdateCheck::CheckVersionAnswered(const runtime::THttpResponse& response) {
  if (IsFailure(response)) {
    const std::optional<QDate> today = DateOf(FClock());
    if (today && today->month() > 6 && today->year() > 2011) FOpener(InfoPageAddress(9));
    return;
  }
  // An answer over the bound, or one that is not text, is not the server's: ignored.
  if (response.Outcome != runtime::THttpOutcome::hoReceived || !IsText(response.Body)) return;
  if (const std::optional<std::string> address = OfferedAddress(response.Body)) FOpener(*address);
}

void TUpdateCheck::ImageInfoEnClick() {
  FOpener(InfoPageAddress(1));
}

}  // namespace trelvix::app
