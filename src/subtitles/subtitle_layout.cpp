#include "subtitles/subtitle_layout.h"

#include <algorithm>
#include <cmath>

namespace trelvix::subtitles {
namespace {

constexpr int kMaxRestText = 255;
// The reading time never exceeds the reading-speed slider's maximum, and a lengthened one this.
constexpr int64_t kReadingTimeMax = 5500;
constexpr int64_t kLengthenedMax = 8000;
constexpr int64_t kReadingTimeMin = 800;

// The first separator ("|" or "\N") at or after from: its index and length; index -1 if none.
std::pair<qsizetype, int> FindSeparator(const QString& s, qsizetype from = 0) {
  const qsizetype bar = s.indexOf(u'|', from);
  const qsizetype ssa = s.indexOf(QLatin1String("\\N"), from);
  if (bar < 0 && ssa < 0) return {-1, 0};
  if (ssa < 0 || (bar >= 0 && bar < ssa)) return {bar, 1};
  return {ssa, 2};
}

// Parses exactly `digits` hexadecimal digits.
bool ParseHex(QStringView s, int digits, uint32_t& value) {
  if (s.size() < digits) return false;
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const char16_t c = s[i].unicode();
    uint32_t d;
    if (c >= u'0' && c <= u'9')
      d = c - u'0';
    else if (c >= u'a' && c <= u'f')
      d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      d = c - u'A' + 10;
    else
      return false;
    value = value * 16 + d;
  }
  return true;
}

void ReplaceAllCI(QString& s, const char* what, QStringView with) {
  s.replace(QLatin1String(what), with.toString(), Qt::CaseInsensitive);
}

}  // namespace

TSubtitleLines SplitSubtitleLines(const QString& text) {
  TSubtitleLines lines;
  lines.Line[0] = text;
  const auto [p1, n1] = FindSeparator(text);
  if (p1 < 0) return lines;
  lines.Count = 2;
  lines.Line[0] = text.left(p1);
  const QString rest = text.mid(p1 + n1, kMaxRestText);
  lines.Line[1] = rest;
  const auto [p2, n2] = FindSeparator(rest);
  if (p2 < 0) return lines;
  lines.Count = 3;
  lines.Line[1] = rest.left(p2);
  lines.Line[2] = rest.mid(p2 + n2);
  return lines;
}

int SplitPosition(const QString& s) {
  const int n = int(s.size());
  // The first 9 and the last 6 characters are never split points.
  constexpr int kHead = 9, kTail = 6;
  if (n - kHead - kTail > 0) {
    const QStringView middle = QStringView(s).mid(kHead, n - kHead - kTail);
    qsizetype p = middle.indexOf(QLatin1String("..."));
    if (p >= 0) return int(kHead + p + 3);
    p = middle.indexOf(u',');
    if (p >= 0) return int(kHead + p + 1);
    p = middle.indexOf(u'.');
    if (p >= 0) return int(kHead + p + 1);
  }
  const int third = n / 3;
  if (third <= 0) return 0;
  const QStringView tail = QStringView(s).mid(third);
  if (tail.contains(u'{') || tail.contains(u'}')) return 0;
  const qsizetype blank = tail.indexOf(u' ');
  const int pos = blank >= 0 ? int(third + blank + 1) : third;
  return pos < n ? pos : 0;
}

int FitToWidth(TSubtitleLines& lines, int max_width, bool split, bool reduce,
               const TFitMeasure& measure) {
  QString* l = lines.Line;
  for (int pass = 0; pass < 2; ++pass) {
    const int w1 = measure.Width(l[0]);
    const int w2 = measure.Width(l[1]);
    if (split && lines.Count < 3 && (w1 > max_width || w2 > max_width)) {
      if (w1 < w2) {
        const int p = SplitPosition(l[1]);
        if (p > 0) {
          l[2] = l[1].mid(p);
          l[1] = l[1].left(p);
          ++lines.Count;
        }
      } else {
        const int p = SplitPosition(l[0]);
        if (p > 0) {
          l[2] = l[1];
          l[1] = l[0].mid(p);
          l[0] = l[0].left(p);
          ++lines.Count;
        }
      }
    }
  }
  if (reduce) {
    for (int i = 0; i < lines.Count && i < 3; ++i)
      while (measure.Width(l[i]) > max_width && measure.Reduce()) {
      }
  }
  int width = 0;
  for (int i = 0; i < lines.Count && i < 3; ++i) width = std::max(width, measure.Width(l[i]));
  return width + kTextWidthMargin;
}

QString ApplyMarkup(const QString& line, int mode, TFontState& state,
                    const runtime::TFont& configured) {
  QString s = line;
  const bool first = mode == 1;

  // Font name: {F:name}.
  const qsizetype f = s.indexOf(QLatin1String("{F:"), 0, Qt::CaseInsensitive);
  if (f >= 0) {
    const qsizetype close = s.indexOf(u'}', f + 3);
    if (close >= 0) {
      state.Name = s.mid(f + 3, close - f - 3);
      s.remove(f, close - f + 1);
    }
  } else if (first) {
    state.Name = QString::fromStdString(configured.Name());
  }

  // Colour in blue-green-red order: {C:$BBGGRR}.
  const qsizetype c = s.indexOf(QLatin1String("{C:$"), 0, Qt::CaseInsensitive);
  if (c >= 0) {
    uint32_t v;
    if (ParseHex(QStringView(s).mid(c + 4), 6, v)) {
      state.Color = v;
      s.remove(c, 11);
    }
  }

  // HTML colour in red-green-blue order: <font color="#RRGGBB">.
  static const QLatin1String kHtmlFont("<FONT COLOR=\"#");
  const qsizetype h = s.indexOf(kHtmlFont, 0, Qt::CaseInsensitive);
  if (h >= 0) {
    uint32_t v;
    if (ParseHex(QStringView(s).mid(h + kHtmlFont.size()), 6, v)) {
      state.Color = runtime::RGBColor(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
      s.remove(h, 22);
    }
  }

  // A closing font tag ends the line.
  const qsizetype end = s.indexOf(QLatin1String("</FONT"), 0, Qt::CaseInsensitive);
  if (end >= 0) s.truncate(end);

  // Italic tags become the "/" marker.
  s.replace(QLatin1String("<i>"), QStringLiteral("/"));
  s.remove(QLatin1String("</i>"));
  ReplaceAllCI(s, "{Y:I}", u"/");
  ReplaceAllCI(s, "{Y I}", u"/");
  ReplaceAllCI(s, "{Y: I}", u"/");

  bool styled = false;
  const qsizetype slash = s.left(4).indexOf(u'/');
  if (slash >= 0) {
    s.remove(slash, 1);
    state.Style = runtime::fsItalic;
    styled = true;
  } else if (first && !styled) {
    state.Style = configured.Style();
  }

  ReplaceAllCI(s, "{Y:B}", u"/");
  ReplaceAllCI(s, "{Y: B}", u"/");
  if (s.startsWith(u'/')) {
    s.remove(0, 1);
    state.Style = runtime::fsBold;
    styled = true;
  } else if (first && !styled) {
    state.Style = configured.Style();
  }

  ReplaceAllCI(s, "{Y:U}", u"/");
  if (s.startsWith(u'/')) {
    s.remove(0, 1);
    state.Style = runtime::fsUnderline;
    styled = true;
  } else if (first && !styled) {
    state.Style = configured.Style();
  }
  return s;
}

int64_t ReadingTime(const QString& text, int waiting, int64_t gap_ms,
                    const TSubtitleSettings& settings) {
  if (!settings.IQNapisow) return settings.NapisyCzasTag;
  const int64_t length = text.size();
  int64_t t = int64_t(settings.IQTime) * (length + length / 2) / 100;
  if (text.contains(QLatin1String("www."))) t /= 4;
  if (waiting >= 2) t = int64_t(std::trunc(double(t) * 0.75));
  if (t < kReadingTimeMin) t = kReadingTimeMin;
  if (waiting < 2 && t < gap_ms - 500)
    t = std::min({t * 2, gap_ms - 400, kLengthenedMax});
  else if (t > kReadingTimeMax)
    t = kReadingTimeMax;
  return t;
}

int MaxTextWidth(int frame_width, double fwidth) {
  return int(int64_t(frame_width) * int64_t(std::trunc(fwidth + 1)) / 100);
}

}  // namespace trelvix::subtitles
