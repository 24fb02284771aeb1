// Hostile subtitle files: each loads with the rows expected, counted, every text within the
// bound, and 20 s of a 480x320 film at 25 frames per second go through the burn-in with that
// timetable, drawing no more than the bounded text. The work is checked, not the time.
#include <gtest/gtest.h>

#include <algorithm>

#include "hostile_files.h"
#include "runtime/application.h"
#include "runtime/bitmap.h"
#include "subtitles/subtitle_hook.h"
#include "subtitles/subtitle_loader.h"
#include "support/temp_dir.h"

namespace trelvix::subtitles::test {
namespace {

class HostileSubtitleFiles : public ::testing::TestWithParam<HostileFile> {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(runtime::EnsureGuiApplication()); }
};

TEST_P(HostileSubtitleFiles, LoadTheRowsExpectedAndBurnInBoundedText) {
  const HostileFile& h = GetParam();
  trelvix::test::TempDir dir;
  const std::string path = dir.File(h.file);
  trelvix::test::WriteFile(path, h.make());
  TSubtitleTimetable t;
  t.Append("5", "previous");
  const TLoadTXTResult r = LoadTXTFile(QString::fromStdString(path), h.fps, t);
  switch (h.outcome) {
    case HostileOutcome::kRefused:
      EXPECT_TRUE(r.Rejected);
      EXPECT_FALSE(r.Loaded);
      EXPECT_FALSE(r.Error.isEmpty());
      ASSERT_EQ(t.Count(), 1);
      EXPECT_EQ(t.Row(0).Text, "previous");
      return;
    case HostileOutcome::kNothing:
      EXPECT_FALSE(r.Loaded);
      EXPECT_FALSE(r.Rejected);
      ASSERT_EQ(t.Count(), 1);
      EXPECT_EQ(t.Row(0).Text, BannerText());
      return;
    case HostileOutcome::kRows:
      break;
  }
  EXPECT_TRUE(r.Loaded);
  EXPECT_FALSE(r.Rejected);
  ASSERT_EQ(t.Count(), h.rows + 1) << "rows after the banner";
  EXPECT_EQ(t.Row(0).Text, BannerText());
  if (*h.first_key && h.rows > 0) {
    EXPECT_EQ(t.Row(1).Key, h.first_key);
  }
  if (*h.last_key && h.rows > 0) {
    EXPECT_EQ(t.Row(h.rows).Key, h.last_key);
  }
  int longest = 0;
  for (const TTimetableRow& row : t.Rows()) longest = std::max(longest, int(row.Text.size()));
  EXPECT_LE(longest, kMaxSubtitleText);

  TSubtitleHook hook;
  hook.StartConversion(t, TSubtitleSettings{}, 25.0);
  hook.SetSubtitlesOn(true);
  runtime::TBitmap frame(480, 320, runtime::TPixelFormat::pf24bit);
  int drawn = 0, longest_drawn = 0;
  for (int n = 0; n < 20 * 25; ++n) {
    bool stop = false;
    if (!hook.Process(frame, int64_t(n) * 40000, n, stop)) continue;
    ++drawn;
    longest_drawn = std::max(longest_drawn, int(hook.CurrentText().size()));
  }
  EXPECT_GT(drawn, 0) << "not even the banner was drawn";
  EXPECT_LE(longest_drawn, kMaxSubtitleText);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileSubtitleFiles, ::testing::ValuesIn(HostileFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace trelvix::subtitles::test
