// The conversion progress shown to the user: percentage and an estimate of the remaining time.
//
// TProgressStatistics keeps up to 10 samples (position against local time) taken by a timer every
// 3 seconds and estimates the remaining time from the newest and the oldest, so the estimate
// follows a sliding window of up to 27 seconds. Used by the window and the CLI alike. Not
// thread-safe: one thread (the main thread) uses it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace trelvix::profile {

inline constexpr int kStatSamples = 10;
inline constexpr int kStatIntervalMs = 3000;
inline constexpr char kUnknownRemaining[] = "(---:--:--)";

class TProgressStatistics {
 public:
  // Forgets every sample (the remaining-time text stays, as the window keeps it between runs).
  void Clear() { count_ = 0; }
  // One timer tick: `now` is the local date-time in days (as UnixToLocalTime gives), `position`
  // the current duration and `total` the total duration, both in microseconds.
  void Tick(double now, int64_t position, int64_t total);
  int SampleCount() const { return count_; }
  // "(-03:15)", "(-01:03:15)", "(---:--:--)", or empty before the first estimate.
  const std::string& RemainingText() const { return remaining_; }

 private:
  struct Sample {
    double time = 0;
    int64_t position = 0;
  };
  std::array<Sample, kStatSamples> samples_{};
  int count_ = 0;
  std::string remaining_;
};

// "(-" + the remaining time + ")" for a count of milliseconds, in the locale's duration style
// (LocaleDurationText) with a leading "00" hour dropped; kUnknownRemaining when it cannot be
// shown (negative, 24 hours or more).
std::string RemainingTimeText(int64_t remaining_ms);
// (current x 100) div total, truncated; -1 when the total is unknown (0 or less).
int64_t ProgressPercent(int64_t current, int64_t total);
// prefix + percent + "% " + remaining text, for example "Progress: 42% (-03:15)".
std::string ProgressLine(const std::string& prefix, int64_t percent, const std::string& remaining);

// The current local date-time in days since 1899-12-30.
double LocalNow();

}  // namespace trelvix::profile
