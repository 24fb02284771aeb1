// Captures the current logger's messages for the lifetime of the object. At the end it fails the
// running test for every message at llError or worse that no Allow() pattern matches, so an
// integration test notices errors that the code under test only logged.
//
// Delivery is switched to the logging thread (TriggerEventInMainThread false) while capturing,
// so tests need not drain the main-thread queue; the previous handler and setting are restored.
#pragma once

#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "media/ff_log.h"

namespace trelvix::test {

struct CapturedLog {
  media::TLogLevel level;
  std::string text;
};

class LogCapture {
 public:
  explicit LogCapture(media::TLogLevel level = media::llVerbose);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Error messages matching this regular expression (searched anywhere in the text) are expected.
  void Allow(const std::string& pattern);
  std::vector<CapturedLog> Messages() const;
  bool Contains(const std::string& text) const;
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<CapturedLog> messages_;  // Guarded by lock_.
  std::vector<std::regex> allowed_;    // Guarded by lock_.
  media::TLogLevel old_level_;
  bool old_trigger_;
};

}  // namespace trelvix::test
