// Locale and time-zone helpers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/locale_utils.h"

namespace trelvix::runtime {
namespace {

class Locale : public ::testing::Test {
 protected:
  void TearDown() override { QLocale::setDefault(QLocale::system()); }
};

TEST_F(Locale, LanguageTimeFormatAndDecimalSeparator) {
  struct Case {
    QLocale locale;
    bool polish;
    const char* pattern;
    const char* three_min_15;  // 0:03:15
    const char* one_h;         // 1:03:15
    const char* evening;       // 23:59:59
    const char* separator;
  } cases[] = {
      {QLocale(QLocale::Polish, QLocale::Poland), true, "HH:mm:ss", "00:03:15", "01:03:15",
       "23:59:59", ","},
      {QLocale::c(), false, "HH:mm:ss", "00:03:15", "01:03:15", "23:59:59", "."},
      {QLocale(QLocale::English, QLocale::UnitedStates), false, "h:mm:ss AP", "12:03:15 AM",
       "1:03:15 AM", "11:59:59 PM", "."},
      {QLocale(QLocale::German, QLocale::Germany), false, "HH:mm:ss", "00:03:15", "01:03:15",
       "23:59:59", ","},
  };
  for (const Case& c : cases) {
    QLocale::setDefault(c.locale);
    SCOPED_TRACE(c.locale.name().toStdString());
    EXPECT_EQ(IsPolishLocale(), c.polish);
    EXPECT_EQ(UserLanguage(), c.locale.language());
    EXPECT_EQ(LongTimeFormat(), c.pattern);
    EXPECT_EQ(FormatLongTime(0, 3, 15), c.three_min_15);
    EXPECT_EQ(FormatLongTime(1, 3, 15), c.one_h);
    EXPECT_EQ(FormatLongTimeOfDay(((23 * 60 + 59) * 60 + 59) * 1000LL + 999), c.evening);
    EXPECT_EQ(DecimalSeparator(), c.separator);
  }
}

TEST_F(Locale, OnlyTimesOfDayFormat) {
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(FormatLongTime(24, 0, 0), std::nullopt);
  EXPECT_EQ(FormatLongTime(-1, 0, 0), std::nullopt);
  EXPECT_EQ(FormatLongTime(0, 60, 0), std::nullopt);
  EXPECT_EQ(FormatLongTimeOfDay(24LL * 3600 * 1000), std::nullopt);
  EXPECT_EQ(FormatLongTimeOfDay(-1), std::nullopt);
  EXPECT_EQ(FormatLongTimeOfDay(3723004), "01:02:03");
}

// The system locale and zone come from the environment; each case runs in a fresh process
// (GoogleTest's thread-safe death tests re-run the binary) so that Qt reads them afresh.
TEST(LocaleEnvironment, SystemLocaleAndZoneFollowTheEnvironment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* lc_all;
    bool polish;
  } cases[] = {{"pl_PL.UTF-8", true}, {"C", false}, {"en_US.UTF-8", false}};
  for (const Case& c : cases) {
    ::setenv("LC_ALL", c.lc_all, 1);
    EXPECT_EXIT(std::exit(IsPolishLocale() == c.polish ? 0 : 1), ::testing::ExitedWithCode(0), "")
        << c.lc_all;
  }
  ::setenv("TZ", "Europe/Warsaw", 1);
  EXPECT_EXIT(std::exit(StandardTimeZoneBias() == -60 ? 0 : 1), ::testing::ExitedWithCode(0), "");
  ::setenv("TZ", "America/New_York", 1);
  EXPECT_EXIT(std::exit(StandardTimeZoneBias() == 300 ? 0 : 1), ::testing::ExitedWithCode(0), "");
  ::unsetenv("TZ");
  ::unsetenv("LC_ALL");
}

TEST(TimeZone, StandardBiasIgnoresDaylightSaving) {
  const std::pair<const char*, int> cases[] = {
      {"Europe/Warsaw", -60}, {"America/New_York", 300},  {"UTC", 0},
      {"Asia/Kolkata", -330}, {"Australia/Sydney", -600}, {"America/Sao_Paulo", 180},
      {"Not/A_Zone", 0},
  };
  for (const auto& [zone, bias] : cases) EXPECT_EQ(StandardTimeZoneBias(zone), bias) << zone;
}

}  // namespace
}  // namespace trelvix::runtime
