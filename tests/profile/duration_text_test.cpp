#include "profile/duration_text.h"

#include <gtest/gtest.h>

#include <QLocale>

#include "profile/progress_stats.h"

namespace trelvix::profile {
namespace {

constexpr int64_t kMin = 60 * 1000, kHour = 60 * kMin;

// Durations in a 12-hour locale and in a 24-hour one with leading zeros: hours on a 24-hour
// clock in the locale's style, never a day-half marker.
TEST(DurationText, LocalesAsATable) {
  struct Case {
    QLocale locale;
    const char* format;
    int64_t ms;
    const char* duration;   // nullptr: not shown
    const char* remaining;  // RemainingTimeText
  };
  const QLocale us(QLocale::English, QLocale::UnitedStates), pl(QLocale::Polish, QLocale::Poland);
  const Case cases[] = {
      {us, "H:mm:ss", 3 * kMin + 15000, "0:03:15", "(-0:03:15)"},
      {us, "H:mm:ss", kHour + 3 * kMin + 15000, "1:03:15", "(-1:03:15)"},
      {us, "H:mm:ss", 13 * kHour, "13:00:00", "(-13:00:00)"},
      {us, "H:mm:ss", 25 * kHour, nullptr, "(---:--:--)"},
      {pl, "HH:mm:ss", 3 * kMin + 15000, "00:03:15", "(-03:15)"},
      {pl, "HH:mm:ss", kHour + 3 * kMin + 15999, "01:03:15", "(-01:03:15)"},
      {pl, "HH:mm:ss", 24 * kHour, nullptr, "(---:--:--)"},
      {pl, "HH:mm:ss", -1, nullptr, "(---:--:--)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale.name().toStdString() + " " + std::to_string(c.ms));
    QLocale::setDefault(c.locale);
    EXPECT_EQ(LocaleDurationFormat(), c.format);
    const auto text = LocaleDurationText(c.ms);
    EXPECT_EQ(text.has_value(), c.duration != nullptr);
    if (text && c.duration) {
      EXPECT_EQ(*text, c.duration);
    }
    EXPECT_EQ(RemainingTimeText(c.ms), c.remaining);
  }
  QLocale::setDefault(QLocale::c());
}

}  // namespace
}  // namespace trelvix::profile
