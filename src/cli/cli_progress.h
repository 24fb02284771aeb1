// The CLI's progress display: one updating line on a terminal, plain periodic lines otherwise.
// Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "profile/progress_stats.h"

namespace trelvix::cli {

struct TProgressSnapshot {
  int64_t current = 0;  // microseconds of output written
  int64_t total = -1;   // microseconds expected; -1 unknown
  int fps = 0;
  int64_t size = 0;  // bytes written
};

class TProgressDisplay {
 public:
  TProgressDisplay(std::FILE* out, bool terminal, int plain_interval_ms = 5000);
  // A progress report arrived.
  void Update(const TProgressSnapshot& s);
  // The 3-second statistics tick (same sliding window as the window's timer).
  void Tick();
  // Ends the updating line before other output.
  void Finish();
  // Prints a line without tearing the progress line (any thread).
  void Message(const std::string& line);
  const std::string& LastLine() const { return last_line_; }

 private:
  std::string Compose() const;
  void Show();

  std::FILE* out_;
  bool terminal_;
  int plain_interval_ms_;
  int64_t last_plain_ms_ = -1;
  TProgressSnapshot snap_;
  profile::TProgressStatistics stats_;
  std::string last_line_;
  bool line_open_ = false;
  std::mutex lock_;  // output from the logger's threads and the main thread
};

}  // namespace trelvix::cli
