#include "subtitles/timetable.h"

namespace trelvix::subtitles {

QString BoundedSubtitleText(const QString& text) {
  if (text.size() <= kMaxSubtitleText) return text;
  qsizetype n = kMaxSubtitleText;
  if (text[n - 1].isHighSurrogate()) --n;
  return text.left(n);
}

void TSubtitleTimetable::Insert(int index, const QString& key, const QString& text) {
  if (index < 0 || index > Count()) index = Count();
  rows_.insert(rows_.begin() + index, TTimetableRow{key, text});
}

void TSubtitleTimetable::Delete(int index) {
  if (index >= 0 && index < Count()) rows_.erase(rows_.begin() + index);
}

QString TSubtitleTimetable::Value(const QString& key) const {
  for (const TTimetableRow& r : rows_)
    if (r.Key == key) return r.Text;
  return {};
}

std::optional<int64_t> TSubtitleTimetable::KeyMs(int index) const {
  if (index < 0 || index >= Count()) return std::nullopt;
  return ParseKey(rows_[size_t(index)].Key);
}

std::optional<int64_t> TSubtitleTimetable::ParseKey(const QString& key) {
  bool ok = false;
  const qlonglong v = key.trimmed().toLongLong(&ok, 10);
  // Keys are compared with times in microseconds, so keep key × 1000 within 64 bits.
  if (!ok || v > INT64_MAX / 1000 || v < INT64_MIN / 1000) return std::nullopt;
  return int64_t(v);
}

}  // namespace trelvix::subtitles
