#include "support/log_capture.h"

#include <gtest/gtest.h>

namespace trelvix::test {

LogCapture::LogCapture(media::TLogLevel level) {
  media::TFFLogger& logger = media::TFFLogger::Current();
  old_level_ = logger.LogLevel();
  old_trigger_ = logger.TriggerEventInMainThread();
  logger.SetTriggerEventInMainThread(false);
  logger.SetLogLevel(level);
  logger.SetOnLog([this](runtime::TObject*, uint32_t, media::TLogLevel l, const std::string& m) {
    std::lock_guard g(lock_);
    messages_.push_back({l, m});
  });
}

LogCapture::~LogCapture() {
  media::TFFLogger& logger = media::TFFLogger::Current();
  logger.SetOnLog(nullptr);
  logger.SetLogLevel(old_level_);
  logger.SetTriggerEventInMainThread(old_trigger_);
  std::lock_guard g(lock_);
  for (const CapturedLog& m : messages_) {
    if (m.level > media::llError) continue;
    bool ok = false;
    for (const std::regex& r : allowed_) ok = ok || std::regex_search(m.text, r);
    if (!ok) ADD_FAILURE() << "unexpected error-level log message: " << m.text;
  }
}

void LogCapture::Allow(const std::string& pattern) {
  std::lock_guard g(lock_);
  allowed_.emplace_back(pattern);
}

std::vector<CapturedLog> LogCapture::Messages() const {
  std::lock_guard g(lock_);
  return messages_;
}

bool LogCapture::Contains(const std::string& text) const {
  std::lock_guard g(lock_);
  for (const CapturedLog& m : messages_)
    if (m.text.find(text) != std::string::npos) return true;
  return false;
}

void LogCapture::Clear() {
  std::lock_guard g(lock_);
  messages_.clear();
}

}  // namespace trelvix::test
