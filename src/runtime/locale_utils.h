// The user's locale and time zone. The user's locale is QLocale(): the system locale (from
// LC_ALL, LC_* and LANG) unless the program named another default with QLocale::setDefault.
// Any thread.
#pragma once

#include <QLocale>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelvix::runtime {

QLocale::Language UserLanguage();
bool IsPolishLocale();

// The locale's long time format without a time-zone part, as a Qt time pattern: "h:mm:ss AP" in
// English (United States), "HH:mm:ss" in Polish.
std::string LongTimeFormat();
// A time of day in LongTimeFormat(), UTF-8; std::nullopt when the values are not a time of day
// (negative, or 24 hours or more).
std::optional<std::string> FormatLongTime(int hours, int minutes, int seconds, int msec = 0);
std::optional<std::string> FormatLongTimeOfDay(std::int64_t msec_since_midnight);

// The locale's decimal separator, UTF-8 ("." or ",", for example).
std::string DecimalSeparator();

// The standard (non-daylight) bias of the system time zone in minutes: the negated offset from
// UTC, so -60 in Warsaw and 300 in New York, whatever the season. 0 when the zone is unknown.
int StandardTimeZoneBias();
// The same for the zone with the given IANA name ("Europe/Warsaw").
int StandardTimeZoneBias(std::string_view zone_id);

}  // namespace trelvix::runtime
