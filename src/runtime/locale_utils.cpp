#include "runtime/locale_utils.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QTimeZone>

namespace trelvix::runtime {
namespace {

// Removes the time-zone fields ('t' runs outside quotes) and the blanks before them.
QString WithoutTimeZone(const QString& pattern) {
  QString out;
  bool quoted = false;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') {
      while (!out.isEmpty() && out.back().isSpace()) out.chop(1);
      while (i + 1 < pattern.size() && pattern[i + 1] == u't') ++i;
      continue;
    }
    out += c;
  }
  return out.trimmed();
}

int BiasOf(const QTimeZone& zone) {
  if (!zone.isValid()) return 0;
  return -zone.standardTimeOffset(QDateTime::currentDateTimeUtc()) / 60;
}

}  // namespace

QLocale::Language UserLanguage() {
  return QLocale().language();
}

bool IsPolishLocale() {
  return UserLanguage() == QLocale::Polish;
}

std::string LongTimeFormat() {
  return WithoutTimeZone(QLocale().timeFormat(QLocale::LongFormat)).toStdString();
}

std::optional<std::string> FormatLongTime(int hours, int minutes, int seconds, int msec) {
  const QTime t(hours, minutes, seconds, msec);
  if (!t.isValid()) return std::nullopt;
  const QLocale locale;
  return locale.toString(t, WithoutTimeZone(locale.timeFormat(QLocale::LongFormat))).toStdString();
}

std::optional<std::string> FormatLongTimeOfDay(std::int64_t msec_since_midnight) {
  if (msec_since_midnight < 0 || msec_since_midnight >= 24LL * 3600 * 1000) return std::nullopt;
  const int ms = static_cast<int>(msec_since_midnight);
  return FormatLongTime(ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

std::string DecimalSeparator() {
  return QLocale().decimalPoint().toStdString();
}

int StandardTimeZoneBias() {
  return BiasOf(QTimeZone::systemTimeZone());
}

int StandardTimeZoneBias(std::string_view zone_id) {
  return BiasOf(QTimeZone(QByteArray(zone_id.data(), static_cast<qsizetype>(zone_id.size()))));
}

}  // namespace trelvix::runtime
