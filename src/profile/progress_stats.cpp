#include "profile/progress_stats.h"

#include <QDateTime>
#include <cmath>
#include <optional>

#include "profile/duration_text.h"

namespace trelvix::profile {

void TProgressStatistics::Tick(double now, int64_t position, int64_t total) {
  if (count_ < kStatSamples) ++count_;
  for (int i = kStatSamples - 1; i > 0; --i) samples_[i] = samples_[i - 1];
  samples_[0] = {now, position};
  if (count_ == 1) return;
  const Sample& oldest = samples_[count_ - 1];
  const double elapsed = std::round((now - oldest.time) * 86400.0 * 1000.0) / 1000.0;
  const int64_t moved = samples_[0].position - oldest.position;
  if (moved < 1 || elapsed <= 0) {
    remaining_ = kUnknownRemaining;
    return;
  }
  const double rate = static_cast<double>(moved) / elapsed / 1024.0;
  const double left = static_cast<double>(total - samples_[0].position) / 1024.0;
  const double ms = std::trunc(left / rate * 1000.0);
  if (!std::isfinite(ms) || ms < 0 || ms >= 24.0 * 3600000.0) {
    remaining_ = kUnknownRemaining;
    return;
  }
  remaining_ = RemainingTimeText(static_cast<int64_t>(ms));
}

std::string RemainingTimeText(int64_t remaining_ms) {
  if (remaining_ms < 0 || remaining_ms >= int64_t{24} * 3600000) return kUnknownRemaining;
  // Whole seconds: the milliseconds are dropped, as the estimate shows no fraction.
  const std::optional<std::string> formatted = LocaleDurationText(remaining_ms / 1000 * 1000);
  if (!formatted) return kUnknownRemaining;
  std::string text = *formatted;
  if (text.compare(0, 2, "00") == 0) text = text.substr(3, 10);
  return "(-" + text + ")";
}

int64_t ProgressPercent(int64_t current, int64_t total) {
  if (total <= 0) return -1;
  return current * 100 / total;
}

std::string ProgressLine(const std::string& prefix, int64_t percent, const std::string& remaining) {
  return prefix + std::to_string(percent) + "% " + remaining;
}

double LocalNow() {
  const QDateTime now = QDateTime::currentDateTime();
  const qint64 local_ms = now.toMSecsSinceEpoch() + qint64{now.offsetFromUtc()} * 1000;
  return static_cast<double>(local_ms) / 86400000.0 + 25569.0;
}

}  // namespace trelvix::profile
