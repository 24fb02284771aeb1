#include "subtitles/text_decode.h"

#include <iconv.h>
#include <uchardet.h>

#include <QFile>
#include <array>
#include <cerrno>
#include <memory>
#include <string_view>

namespace trelvix::subtitles {
namespace {

// Files larger than this are not subtitle files; reading them would only waste memory.
constexpr qint64 kMaxSubtitleFileSize = 64 * 1024 * 1024;

// Bytes 0x80..0xFF of Windows-1250 (0xFFFD: unassigned).
constexpr std::array<char16_t, 128> kWindows1250 = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021, 0xFFFD, 0x2030, 0x0160, 0x2039,
    0x015A, 0x0164, 0x017D, 0x0179, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141,
    0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB,
    0x013D, 0x02DD, 0x013E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
    0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// Bytes 0x80..0xFF of ISO-8859-2 (0x80..0x9F are the C1 control characters).
constexpr std::array<char16_t, 128> kIso8859_2 = {
    0x0080, 0x0081, 0x0082, 0x0083, 0x0084, 0x0085, 0x0086, 0x0087, 0x0088, 0x0089, 0x008A, 0x008B,
    0x008C, 0x008D, 0x008E, 0x008F, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x0095, 0x0096, 0x0097,
    0x0098, 0x0099, 0x009A, 0x009B, 0x009C, 0x009D, 0x009E, 0x009F, 0x00A0, 0x0104, 0x02D8, 0x0141,
    0x00A4, 0x013D, 0x015A, 0x00A7, 0x00A8, 0x0160, 0x015E, 0x0164, 0x0179, 0x00AD, 0x017D, 0x017B,
    0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7, 0x00B8, 0x0161, 0x015F, 0x0165,
    0x017A, 0x02DD, 0x017E, 0x017C, 0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3,
    0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB,
    0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

using TCodeTable = std::array<char16_t, 128>;

QString DecodeWithTable(const QByteArray& bytes, const TCodeTable& table) {
  QString out;
  out.resize(bytes.size());
  QChar* dst = out.data();
  for (qsizetype i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    dst[i] = b < 0x80 ? QChar(char16_t(b)) : QChar(table[b - 0x80]);
  }
  return out;
}

bool IsPolishLetter(char16_t c) {
  return std::u16string_view(u"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ").find(c) != std::u16string_view::npos;
}

// Punctuation and symbols that Polish texts use beside the letters; they count neither way.
bool IsNeutralSymbol(char16_t c) {
  return std::u16string_view(u"\u00A0§¨©«\u00AD®°´·»×–—‘’‚“”„•…‹›€™").find(c) !=
         std::u16string_view::npos;
}

// Polish letters whose bytes are also common in Western text: ó and Ó are the same letters in
// Windows-1252, and ñ, Ñ and ¿ there read as ń, Ń and ż.
bool IsSharedWithWestern(char16_t c) {
  return c == u'ó' || c == u'Ó' || c == u'ń' || c == u'Ń' || c == u'ż';
}

struct TPolishScore {
  int Letters = 0;      // high bytes that are Polish letters in this reading
  int Distinctive = 0;  // of these, the ones a Western text does not produce
  int Other = 0;        // high bytes that are other letters, control characters or unassigned
  // A Polish text has Polish letters and almost nothing else among its high bytes. A few other
  // letters (a foreign name) are allowed beside letters that only Polish gives; a Western text
  // read this way (Spanish ñ, ó, ¿ beside á, é, í) or another script fails.
  bool Plausible() const {
    return Letters > 0 && (Other == 0 || (Letters >= 4 * Other && Distinctive > 0));
  }
};

TPolishScore ScorePolish(const QByteArray& bytes, const TCodeTable& table) {
  TPolishScore score;
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) continue;
    const char16_t c = table[b - 0x80];
    if (IsPolishLetter(c)) {
      ++score.Letters;
      if (!IsSharedWithWestern(c)) ++score.Distinctive;
    } else if (!IsNeutralSymbol(c))
      ++score.Other;
  }
  return score;
}

// Detector answers for scripts other than Latin: these are trusted as they stand.
bool IsNonLatinCharset(const QString& name) {
  static const char* const kNonLatin[] = {
      "1251",  "KOI8", "8859-5",    "IBM855", "IBM866", "CYRILLIC", "1253",     "8859-7",
      "GREEK", "1255", "8859-8",    "HEBREW", "1256",   "8859-6",   "ARABIC",   "TIS-620",
      "874",   "UTF",  "SHIFT_JIS", "EUC",    "GB",     "BIG5",     "ISO-2022", "HZ"};
  for (const char* n : kNonLatin)
    if (name.contains(QLatin1String(n))) return true;
  return false;
}

QString DetectCharset(const QByteArray& bytes) {
  std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> det(
      uchardet_new(), &uchardet_delete);
  if (!det) return {};
  if (uchardet_handle_data(det.get(), bytes.constData(), size_t(bytes.size())) != 0) return {};
  uchardet_data_end(det.get());
  const char* name = uchardet_get_charset(det.get());
  return name ? QString::fromLatin1(name).toUpper() : QString();
}

// Decodes with the C library's converter; false when it does not know the character set.
// Bytes it cannot convert become U+FFFD.
bool DecodeWithIconv(const QByteArray& bytes, const QString& charset, QString& out) {
  const QByteArray from = charset.toLatin1();
  iconv_t cd = iconv_open("UTF-8", from.constData());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::unique_ptr<void, int (*)(iconv_t)> guard(cd, &iconv_close);
  QByteArray utf8;
  std::array<char, 4096> buf;
  char* in = const_cast<char*>(bytes.constData());
  size_t in_left = size_t(bytes.size());
  while (in_left > 0) {
    char* dst = buf.data();
    size_t dst_left = buf.size();
    const size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    utf8.append(buf.data(), qsizetype(buf.size() - dst_left));
    if (r == size_t(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or an incomplete sequence: mark it and step over one byte.
      utf8.append("\xEF\xBF\xBD");
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  out = QString::fromUtf8(utf8);
  return true;
}

}  // namespace

bool IsValidUtf8(const QByteArray& bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  qsizetype i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char cc = p[i + k];
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

QString DecodeWindows1250(const QByteArray& bytes) {
  return DecodeWithTable(bytes, kWindows1250);
}
QString DecodeIso8859_2(const QByteArray& bytes) {
  return DecodeWithTable(bytes, kIso8859_2);
}

QString DecodeSubtitleText(const QByteArray& bytes, TTextEncoding* used) {
  TTextEncoding enc;
  QString text;
  const auto b = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 3 && b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
    enc = {"UTF-8", true};
    text = QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
  } else if (bytes.size() >= 2 &&
             ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF))) {
    const bool le = b(0) == 0xFF;
    enc = {le ? "UTF-16LE" : "UTF-16BE", true};
    const qsizetype units = (bytes.size() - 2) / 2;
    text.resize(units);
    for (qsizetype i = 0; i < units; ++i) {
      const unsigned lo = b(2 + 2 * i + (le ? 0 : 1)), hi = b(2 + 2 * i + (le ? 1 : 0));
      text[i] = QChar(char16_t(lo | (hi << 8)));
    }
  } else if (IsValidUtf8(bytes)) {
    enc = {"UTF-8", false};
    text = QString::fromUtf8(bytes);
  } else {
    const QString detected = DetectCharset(bytes);
    bool done = false;
    if (!IsNonLatinCharset(detected)) {
      // Short files fool the detector (a two-line Windows-1250 file may come back as
      // ISO-8859-15, MAC-CENTRALEUROPE or WINDOWS-1258, and a Windows-1250 file as ISO-8859-2),
      // so the two Central European readings are weighed on their own.
      const TPolishScore w = ScorePolish(bytes, kWindows1250);
      const TPolishScore i = ScorePolish(bytes, kIso8859_2);
      const bool use_iso =
          i.Plausible() && (i.Letters > w.Letters || (i.Letters == w.Letters && i.Other < w.Other));
      if (use_iso) {
        enc = {"ISO-8859-2", false};
        text = DecodeWithTable(bytes, kIso8859_2);
        done = true;
      } else if (w.Plausible()) {
        enc = {"WINDOWS-1250", false};
        text = DecodeWithTable(bytes, kWindows1250);
        done = true;
      }
    }
    if (!done && !detected.isEmpty() && DecodeWithIconv(bytes, detected, text)) {
      enc = {detected, false};
      done = true;
    }
    if (!done && DecodeWithIconv(bytes, "WINDOWS-1252", text)) {
      enc = {"WINDOWS-1252", false};
      done = true;
    }
    if (!done) {
      enc = {"ISO-8859-1", false};
      text = QString::fromLatin1(bytes);
    }
  }
  if (used) *used = enc;
  return text;
}

QStringList SplitTextLines(const QString& text) {
  QStringList lines;
  const qsizetype n = text.size();
  qsizetype start = 0;
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (c == u'\r' || c == u'\n') {
      lines.append(text.mid(start, i - start));
      if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
      start = i + 1;
    }
  }
  if (start < n) lines.append(text.mid(start));
  return lines;
}

bool ReadSubtitleLines(const QString& file_name, QStringList& lines, TTextEncoding* used) {
  lines.clear();
  QFile f(file_name);
  if (!f.open(QIODevice::ReadOnly)) return false;
  if (f.size() > kMaxSubtitleFileSize) return false;
  QByteArray bytes = f.read(kMaxSubtitleFileSize + 1);
  if (bytes.size() > kMaxSubtitleFileSize) return false;
  if (f.error() != QFileDevice::NoError) return false;
  lines = SplitTextLines(DecodeSubtitleText(bytes, used));
  return true;
}

}  // namespace trelvix::subtitles
