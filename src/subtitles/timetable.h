// The subtitle timetable: rows of start time (whole milliseconds as decimal text) and text
// (lines joined by "|"), kept in insertion order and never sorted. It is the model of the
// options window's editor (columns "Czas" and "Tekst"), so rows can be edited, added and deleted.
// Main thread; a conversion works on its own copy (see TSubtitleHook).
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace trelvix::subtitles {

// A subtitle's text holds at most this many characters, in every layout: the loader keeps no more
// of any row, and the burn-in queue takes no more of a row edited by hand.
inline constexpr int kMaxSubtitleText = 255;

// The text cut to kMaxSubtitleText characters; a surrogate pair is never split.
QString BoundedSubtitleText(const QString& text);

struct TTimetableRow {
  QString Key;   // start time in milliseconds, decimal text
  QString Text;  // the subtitle, lines separated by "|"
};

class TSubtitleTimetable {
 public:
  // Data rows, index 0 first. The editor shows a title row in front of them, so the editor's row
  // count is Count() + 1 and its row i is data row i - 1.
  int Count() const { return int(rows_.size()); }
  int RowCount() const { return Count() + 1; }
  const TTimetableRow& Row(int index) const { return rows_.at(size_t(index)); }
  const std::vector<TTimetableRow>& Rows() const { return rows_; }

  void Clear() { rows_.clear(); }
  void Append(const QString& key, const QString& text) { rows_.push_back({key, text}); }
  void Append(int64_t key_ms, const QString& text) { Append(QString::number(key_ms), text); }
  void Insert(int index, const QString& key, const QString& text);
  void Delete(int index);
  void SetKey(int index, const QString& key) { rows_.at(size_t(index)).Key = key; }
  void SetText(int index, const QString& text) { rows_.at(size_t(index)).Text = text; }

  // The text of the first row with this key; empty text when there is none.
  QString Value(const QString& key) const;
  // The key of a data row in milliseconds; nothing when it is not a whole decimal number.
  std::optional<int64_t> KeyMs(int index) const;
  static std::optional<int64_t> ParseKey(const QString& key);

 private:
  std::vector<TTimetableRow> rows_;
};

}  // namespace trelvix::subtitles
