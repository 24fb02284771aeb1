// Durations shown to the user (the remaining time, the played and whole time of a file) in the
// locale's time style: its hour style (with or without a leading zero) and separators, always on
// a 24-hour clock and without a day-half marker, since a duration is not a time of day (a
// 12-hour locale would otherwise turn 3 minutes 15 seconds into "12:03:15 AM").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace trelvix::profile {

// The locale's long time pattern made into a duration pattern: "H:mm:ss" for English (United
// States), "HH:mm:ss" for Polish.
std::string LocaleDurationFormat();
// A duration of whole milliseconds as hours, minutes and seconds in LocaleDurationFormat();
// std::nullopt when it is negative or 24 hours or more.
std::optional<std::string> LocaleDurationText(int64_t msec);

}  // namespace trelvix::profile
