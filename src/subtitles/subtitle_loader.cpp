#include "subtitles/subtitle_loader.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "subtitles/subtitle_constants.h"
#include "subtitles/text_decode.h"

namespace trelvix::subtitles {
namespace {

// Line-timing files are parsed for at most this many lines, and the other layouts (but SubRip)
// filtered for at most this many.
constexpr int kLineTimingMaxLines = 3001;
constexpr int kFilterMaxLines = 5001;
// Text taken from one line (SubStation events, line timing, the per-line pass).
constexpr int kMaxLineText = kMaxSubtitleText;
// A start later than this (about 31 years) is not a subtitle time.
constexpr int64_t kMaxStartSeconds = 1000000000;

// A non-negative decimal integer of at most 32 bits, blanks around it allowed. Plain digits
// only: a sign, hexadecimal or anything else makes the line fail.
std::optional<int64_t> ParseCount(QStringView s) {
  s = s.trimmed();
  if (s.isEmpty() || s.size() > 10) return std::nullopt;
  int64_t v = 0;
  for (QChar c : s) {
    if (c < u'0' || c > u'9') return std::nullopt;
    v = v * 10 + (c.unicode() - u'0');
  }
  if (v > INT32_MAX) return std::nullopt;
  return v;
}

// "hh:mm:ss" at the start of s, a time of day.
std::optional<int64_t> ParseTimeOfDay(const QString& s) {
  if (s.size() < 8 || s[2] != u':' || s[5] != u':') return std::nullopt;
  int v[3];
  for (int k = 0; k < 3; ++k) {
    const QChar a = s[3 * k], b = s[3 * k + 1];
    if (a < u'0' || a > u'9' || b < u'0' || b > u'9') return std::nullopt;
    v[k] = (a.unicode() - u'0') * 10 + (b.unicode() - u'0');
  }
  if (v[0] > 23 || v[1] > 59 || v[2] > 59) return std::nullopt;
  return int64_t(v[0]) * 3600 + v[1] * 60 + v[2];
}

// The character at a 1-based position, or a NUL when the line is shorter.
QChar CharAt(const QString& s, int pos1) {
  return pos1 <= s.size() ? s[pos1 - 1] : QChar();
}

// SubStation reduction. False when the file has no events section.
bool ReduceSubStation(QStringList& lines) {
  qsizetype events = -1;
  for (qsizetype i = 0; i < lines.size(); ++i)
    if (lines[i].toUpper().contains(QLatin1String("[EVENTS]"))) {
      events = i;
      break;
    }
  if (events < 0) return false;
  lines.erase(lines.begin(), lines.begin() + events + 1);
  if (lines.isEmpty()) return true;

  int start_field = -1, text_field = -1;
  {
    const QStringList fields = lines.front().toUpper().split(u',');
    for (qsizetype k = 0; k < fields.size(); ++k) {
      const QString f = fields[k].trimmed();
      if (f == QLatin1String("START") && start_field < 0) start_field = int(k);
      if (f == QLatin1String("TEXT") && text_field < 0) text_field = int(k);
    }
    if (start_field < 0 || text_field < 0) start_field = text_field = 0;
  }
  lines.removeFirst();

  for (QString& line : lines) {
    const QStringList fields = line.split(u',');
    if (fields.size() <= std::max(start_field, text_field)) continue;
    const QString time = fields[start_field].trimmed().left(8);
    // The text field runs from the text field's start to the end of the line: texts may hold
    // commas. It is found by counting commas, not by searching its content, so that a text
    // equal to an earlier field ("0", a style name) is not taken from the wrong place.
    qsizetype at = 0;
    for (int k = 0; k < text_field; ++k) at = line.indexOf(u',', at) + 1;
    while (at < line.size() && (line[at] == u' ' || line[at] == u'\t')) ++at;
    QString result = time + u' ' + line.mid(at, kMaxLineText);
    const qsizetype open = result.indexOf(u'{');
    const qsizetype close = result.indexOf(u'}');
    if (open >= 0 && close > open) result.remove(open, close - open + 1);
    line = result;
  }
  return true;
}

void FilterLines(QStringList& lines, bool subrip) {
  if (subrip) {
    lines.removeIf([](const QString& s) { return s.isEmpty(); });
    return;
  }
  QStringList kept;
  kept.reserve(lines.size());
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString& s = lines[i];
    if (i < kFilterMaxLines && (s.size() <= 2 || s.toUpper().contains(QLatin1String("SUBEDIT"))))
      continue;
    kept.append(s);
  }
  lines.swap(kept);
}

// Kind 0: every line carries its own time of day; rows are appended as they come.
void LoadLineTiming(QStringList& lines, TSubtitleTimetable& timetable) {
  if (!lines.isEmpty() && lines.back().startsWith(QLatin1String("00:00"))) lines.removeLast();
  const qsizetype n = std::min<qsizetype>(lines.size(), kLineTimingMaxLines);
  for (qsizetype i = 0; i < n; ++i) {
    QString s = lines[i];
    if (s.size() >= 2 && s[1] == u':') s.prepend(u'0');
    const auto seconds = ParseTimeOfDay(s);
    if (!seconds) continue;
    timetable.Append(*seconds * 1000, s.mid(9, kMaxLineText));
  }
}

struct TParsedLine {
  int64_t Seconds = 0;
  QString Text;
};

std::optional<TParsedLine> ParseMicroDVD(const QString& r, double frame_rate) {
  const qsizetype p1 = r.indexOf(u'}');
  if (p1 < 0) return std::nullopt;
  const auto frame = ParseCount(QStringView(r).left(p1));
  const qsizetype p2 = r.indexOf(u'}', p1 + 1);
  if (!frame || p2 < 0) return std::nullopt;
  const double seconds = std::trunc(double(*frame) / frame_rate);
  if (!(seconds >= 0 && seconds <= double(kMaxStartSeconds))) return std::nullopt;
  return TParsedLine{int64_t(seconds), r.mid(p2 + 1)};
}

std::optional<TParsedLine> ParseMPL2(const QString& r) {
  const qsizetype p1 = r.indexOf(u']');
  if (p1 < 0) return std::nullopt;
  const auto tenths = ParseCount(QStringView(r).left(p1));
  const qsizetype p2 = r.indexOf(u']', p1 + 1);
  if (!tenths || p2 < 0) return std::nullopt;
  return TParsedLine{*tenths / 10, r.mid(p2 + 1)};
}

std::optional<TParsedLine> ParseMinutes(const QString& r) {
  const auto minutes = ParseCount(QStringView(r).mid(0, 2));
  const auto seconds = ParseCount(QStringView(r).mid(3, 2));
  const qsizetype p1 = r.indexOf(u']');
  if (!minutes || !seconds || p1 < 0) return std::nullopt;
  QString rest = r.mid(p1 + 1);
  const qsizetype p2 = rest.indexOf(u']');
  if (p2 >= 0) rest = rest.mid(p2 + 1);
  return TParsedLine{*minutes * 60 + *seconds, rest};
}

std::optional<TParsedLine> ParseSAMI(const QString& r) {
  const QString upper = r.toUpper();
  if (!upper.startsWith(QLatin1String("SYNC ")) || !upper.contains(QLatin1String("CLASS")))
    return std::nullopt;
  QStringView tail = QStringView(r);
  while (!tail.isEmpty() && tail.back().isSpace()) tail.chop(1);
  if (tail.endsWith(u';')) return std::nullopt;
  const qsizetype eq = r.indexOf(u'=');
  if (eq < 0) return std::nullopt;
  QString rest = r.mid(eq + 1);
  const qsizetype gt = rest.indexOf(u'>');
  if (gt < 0) return std::nullopt;
  QString number = rest.left(gt).trimmed();
  if (number.size() >= 2 && (number.front() == u'"' || number.front() == u'\'') &&
      number.back() == number.front())
    number = number.mid(1, number.size() - 2);
  const auto ms = ParseCount(number);
  if (!ms) return std::nullopt;
  rest = rest.mid(gt + 1);
  const qsizetype br = rest.indexOf(QLatin1String("<BR>"), 0, Qt::CaseInsensitive);
  if (br >= 0) rest.replace(br, 4, u'|');
  const qsizetype gt2 = rest.indexOf(u'>');
  if (gt2 < 0) return std::nullopt;
  return TParsedLine{*ms / 1000, rest.mid(gt2 + 1)};
}

// A SubRip index line: digits only, whatever their count.
bool IsIndexLine(const QString& s) {
  const QStringView t = QStringView(s).trimmed();
  return !t.isEmpty() && std::all_of(t.begin(), t.end(), [](QChar c) { return c.isDigit(); });
}

// A SubRip timing line: "hh:mm:ss" and an arrow to the end time.
bool IsTimingLine(const QString& s) {
  return s.size() >= 8 && s[2] == u':' && s[5] == u':' && s.contains(QLatin1String("-->"));
}

// SubRip: the timing line at index i, its text on the following lines. Following lines longer
// than 4 characters join the text, up to an index line or the next timing line; the text keeps
// at most kMaxSubtitleText characters. i is left on the last line taken.
std::optional<TParsedLine> ParseSubRip(const QStringList& lines, qsizetype& i) {
  const QString& s = lines[i];
  const auto h = ParseCount(QStringView(s).mid(0, 2));
  const auto m = ParseCount(QStringView(s).mid(3, 2));
  const auto sec = ParseCount(QStringView(s).mid(6, 2));
  if (!h || !m || !sec || s.size() < 8 || i + 1 >= lines.size()) return std::nullopt;
  QString text = lines[i + 1].left(kMaxSubtitleText + 1);
  qsizetype j = i + 2;
  while (j < lines.size() && lines[j].size() > 4 && !IsIndexLine(lines[j]) &&
         !IsTimingLine(lines[j])) {
    if (text.size() <= kMaxSubtitleText) {
      text += u'|';
      text += QStringView(lines[j]).left(kMaxSubtitleText + 1 - text.size());
    }
    ++j;
  }
  i = j - 1;
  return TParsedLine{*h * 3600 + *m * 60 + *sec, BoundedSubtitleText(text)};
}

// The key choice: from the start second, the first second whose key does not already hold a row
// with text. Each chosen second points to the next one to try, and every search shortens the
// paths it walked, so many rows with one start cost linear time instead of quadratic.
class TFreeSecondChooser {
 public:
  TFreeSecondChooser() { Take(0, true); }  // the banner holds second 0

  int64_t Choose(int64_t second) {
    int64_t free = second;
    for (auto it = next_.find(free); it != next_.end(); it = next_.find(free)) free = it->second;
    while (second != free) {  // path compression
      auto it = next_.find(second);
      second = std::exchange(it->second, free);
    }
    return free;
  }

  // A row was appended at the second. Only the first row of a key decides what a lookup by key
  // reads: a key whose first row has no text stays free for later rows.
  void Take(int64_t second, bool has_text) {
    if (!seen_.insert(second).second || !has_text) return;
    next_.emplace(second, second + 1);
  }

 private:
  std::unordered_map<int64_t, int64_t> next_;  // second with text → next second to try
  std::unordered_set<int64_t> seen_;           // seconds that hold a row
};

void SeparateEqualNeighbours(TSubtitleTimetable& timetable) {
  for (int i = 0; i + 1 < timetable.Count(); ++i) {
    if (timetable.Row(i).Key != timetable.Row(i + 1).Key) continue;
    const auto key = TSubtitleTimetable::ParseKey(timetable.Row(i).Key);
    if (!key) continue;
    timetable.SetKey(i + 1, QString::number(*key + 500));
  }
}

}  // namespace

QString BannerText() {
  return QString::fromLatin1(kBannerPrefix) + QString::fromLatin1(kWebAddress) +
         QString::fromLatin1(kBannerSuffix);
}

QString SubtitleExtension(const QString& file_name) {
  const QString suffix = QFileInfo(file_name).suffix();
  return suffix.isEmpty() ? QString() : u'.' + suffix.toUpper();
}

bool IsSubtitleFileName(const QString& file_name) {
  static const char* const kExt[] = {".TXT", ".SUB", ".SRT", ".SSA", ".SMI", ".ASS"};
  const QString ext = SubtitleExtension(file_name);
  for (const char* e : kExt)
    if (ext == QLatin1String(e)) return true;
  return false;
}

TLoadTXTResult LoadTXTLines(QStringList& napisy, const QString& extension, double frame_rate,
                            TSubtitleTimetable& timetable) {
  TLoadTXTResult result;
  if (!(frame_rate > 0) || !std::isfinite(frame_rate)) frame_rate = 1.0;
  const bool substation = extension == QLatin1String(".SSA") || extension == QLatin1String(".ASS");
  const bool subrip = extension == QLatin1String(".SRT");
  const bool sami = extension == QLatin1String(".SMI");

  if (substation && !ReduceSubStation(napisy)) {
    napisy.clear();
    result.Rejected = true;
    result.Error = QString::fromUtf8(kMsgNoEventsSection);
    return result;
  }

  FilterLines(napisy, subrip);
  if (subrip) result.Kind = skSubRip;

  timetable.Clear();
  timetable.Append(QStringLiteral("0"), BannerText());

  // Nothing to recognise: the load ends here, the subtitle switch is left as it is.
  if (napisy.isEmpty()) return result;

  if (sami) {
    result.Kind = skSAMI;
  } else {
    const QString& first = napisy.front();
    if (CharAt(first, 1) == u'{') {
      result.Kind = skMicroDVD;
    } else if (CharAt(first, 1) == u'[') {
      if (CharAt(first, 7) != u']' || CharAt(first, 4) == u'[')
        result.Kind = skMPL2;
      else
        result.Kind = skMinutes;
    } else if (!subrip) {
      result.Kind = skLineTiming;
      LoadLineTiming(napisy, timetable);
    }
  }

  if (result.Kind != skLineTiming) {
    TFreeSecondChooser seconds;
    for (qsizetype i = 0; i < napisy.size(); ++i) {
      const QString& line = napisy[i];
      const QString r = line.mid(1, kMaxLineText);
      std::optional<TParsedLine> parsed;
      switch (result.Kind) {
        case skMicroDVD:
          parsed = ParseMicroDVD(r, frame_rate);
          break;
        case skMPL2:
          parsed = ParseMPL2(r);
          break;
        case skMinutes:
          parsed = ParseMinutes(r);
          break;
        case skSAMI:
          parsed = ParseSAMI(r);
          break;
        case skSubRip:
          parsed = ParseSubRip(napisy, i);
          break;
        default:
          break;
      }
      if (!parsed || parsed->Seconds > kMaxStartSeconds) continue;
      const int64_t s = seconds.Choose(parsed->Seconds);
      timetable.Append(s * 1000, parsed->Text);
      seconds.Take(s, !parsed->Text.isEmpty());
    }
  }

  SeparateEqualNeighbours(timetable);
  napisy.clear();
  result.Loaded = true;
  return result;
}

TLoadTXTResult LoadTXTFile(const QString& file_name, double frame_rate,
                           TSubtitleTimetable& timetable) {
  QStringList napisy;
  const bool read = ReadSubtitleLines(file_name, napisy);
  TLoadTXTResult result = LoadTXTLines(napisy, SubtitleExtension(file_name), frame_rate, timetable);
  if (!read && !result.Rejected)
    result.Error = QString::fromUtf8(kMsgCannotReadFile).arg(file_name);
  return result;
}

}  // namespace trelvix::subtitles
