#include "cli/cli_progress.h"

#include <chrono>

#include "media/ff_utils.h"
#include "runtime/format.h"

namespace trelvix::cli {
namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

TProgressDisplay::TProgressDisplay(std::FILE* out, bool terminal, int plain_interval_ms)
    : out_(out), terminal_(terminal), plain_interval_ms_(plain_interval_ms) {}

std::string TProgressDisplay::Compose() const {
  const int64_t percent = profile::ProgressPercent(snap_.current, snap_.total);
  std::string line =
      profile::ProgressLine("Progress: ", percent < 0 ? 0 : percent, stats_.RemainingText());
  line += runtime::Format("  %d fps  %s  %s", snap_.fps, media::SizeText(snap_.size).c_str(),
                          media::TimeText(snap_.current).c_str());
  return line;
}

void TProgressDisplay::Show() {
  last_line_ = Compose();
  if (terminal_) {
    std::fprintf(out_, "\r%s\033[K", last_line_.c_str());
    line_open_ = true;
  } else {
    const int64_t now = NowMs();
    if (last_plain_ms_ >= 0 && now - last_plain_ms_ < plain_interval_ms_) return;
    last_plain_ms_ = now;
    std::fprintf(out_, "%s\n", last_line_.c_str());
  }
  std::fflush(out_);
}

void TProgressDisplay::Update(const TProgressSnapshot& s) {
  std::lock_guard g(lock_);
  snap_ = s;
  Show();
}

void TProgressDisplay::Tick() {
  std::lock_guard g(lock_);
  stats_.Tick(profile::LocalNow(), snap_.current, snap_.total);
}

void TProgressDisplay::Finish() {
  std::lock_guard g(lock_);
  if (line_open_) std::fprintf(out_, "\n");
  line_open_ = false;
  std::fflush(out_);
}

void TProgressDisplay::Message(const std::string& line) {
  std::lock_guard g(lock_);
  if (line_open_) std::fprintf(out_, "\r\033[K");
  std::fprintf(out_, "%s\n", line.c_str());
  if (line_open_) std::fprintf(out_, "%s", last_line_.c_str());
  std::fflush(out_);
}

}  // namespace trelvix::cli
