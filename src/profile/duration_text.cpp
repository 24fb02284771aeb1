#include "profile/duration_text.h"

#include <QLocale>
#include <QString>
#include <QTime>

#include "runtime/locale_utils.h"

namespace trelvix::profile {
namespace {

constexpr int64_t kDayMs = int64_t{24} * 3600 * 1000;

// Drops the day-half marker (A, AP, a, ap outside quotes) with the blanks next to it and makes
// the hours those of a 24-hour clock ("h" -> "H", keeping the leading-zero style).
QString DurationPattern(const QString& time_pattern) {
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < time_pattern.size(); ++i) {
    const QChar c = time_pattern[i];
    if (c == u'\'') quoted = !quoted;
    if (!quoted && (c == u'A' || c == u'a')) {
      while (!out.isEmpty() && out.back().isSpace()) out.chop(1);
      if (i + 1 < time_pattern.size() &&
          (time_pattern[i + 1] == u'P' || time_pattern[i + 1] == u'p'))
        ++i;
      while (i + 1 < time_pattern.size() && time_pattern[i + 1].isSpace()) ++i;
      continue;
    }
    out += (!quoted && c == u'h') ? QChar(u'H') : c;
  }
  return out.trimmed();
}

}  // namespace

std::string LocaleDurationFormat() {
  return DurationPattern(QString::fromStdString(runtime::LongTimeFormat())).toStdString();
}

std::optional<std::string> LocaleDurationText(int64_t msec) {
  if (msec < 0 || msec >= kDayMs) return std::nullopt;
  const int ms = static_cast<int>(msec);
  const QTime t(ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
  return QLocale().toString(t, QString::fromStdString(LocaleDurationFormat())).toStdString();
}

}  // namespace trelvix::profile
