// Text decoding of subtitle files: byte-order marks, UTF-8, and 8-bit files whose code page has
// to be found (short Polish files are where a detector alone goes wrong).
#include <gtest/gtest.h>

#include "encode_helpers.h"
#include "subtitles/text_decode.h"

namespace trelvix::subtitles {
namespace {

using test::CodePage;
using test::Encode;

QByteArray B(const std::string& s) {
  return QByteArray(s.data(), qsizetype(s.size()));
}

const char* const kPolishTexts[] = {
    // Two short MicroDVD lines: a detector alone calls some of these Western or Mac.
    "{1}{50}Idę.\n",
    "{1}{50}Już idę do domu.\n{60}{100}Dobrze.\n",
    "{1}{50}Tak, wiem.\n{60}{100}Cóż, to źle.\n",
    "{0}{25}Zrób to.\n{30}{60}Późno już.\n",
    "{1}{50}Śmiało!\n{60}{100}Dzięki.\n",
    ("[10][20]Kiedy przyjdziesz do domu?\n[30][40]Nie wiem, może jutro. Idź już spać.\n"
     "[50][60]Śpij dobrze, kochanie.\n"),
    "{1}{50}Zażółć gęślą jaźń\n{60}{100}ZAŻÓŁĆ GĘŚLĄ JAŹŃ\n",
};

TEST(DecodeSubtitleText, PolishInBothCentralEuropeanCodePagesShortAndLong) {
  for (const char* utf8 : kPolishTexts) {
    QString longer;
    for (int i = 0; i < 200; ++i) longer += QString::fromUtf8(utf8);
    for (CodePage cp : {CodePage::Windows1250, CodePage::Iso8859_2}) {
      for (bool is_long : {false, true}) {
        std::string bytes = Encode(utf8, cp);
        QString expected = QString::fromUtf8(utf8);
        if (is_long) {
          std::string all;
          for (int i = 0; i < 200; ++i) all += bytes;
          bytes = all;
          expected = longer;
        }
        TTextEncoding used;
        EXPECT_EQ(DecodeSubtitleText(B(bytes), &used), expected)
            << utf8 << " as " << (cp == CodePage::Windows1250 ? "1250" : "8859-2")
            << (is_long ? " (long)" : "") << ", read as " << used.Name.toStdString();
      }
    }
  }
}

TEST(DecodeSubtitleText, Utf8ShortAndLong) {
  const QString text = QString::fromUtf8("{1}{50}Zażółć gęślą jaźń|ŻÓŁW\n");
  for (int copies : {1, 300}) {
    QString all;
    for (int i = 0; i < copies; ++i) all += text;
    TTextEncoding used;
    EXPECT_EQ(DecodeSubtitleText(all.toUtf8(), &used), all);
    EXPECT_EQ(used.Name, "UTF-8");
    EXPECT_FALSE(used.FromBom);
  }
}

TEST(DecodeSubtitleText, ByteOrderMarks) {
  const QString text = QString::fromUtf8("Łódź\nż");
  TTextEncoding used;
  EXPECT_EQ(DecodeSubtitleText("\xEF\xBB\xBF" + text.toUtf8(), &used), text);
  EXPECT_TRUE(used.FromBom);
  QByteArray le("\xFF\xFE"), be("\xFE\xFF");
  for (QChar c : text) {
    le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
  }
  EXPECT_EQ(DecodeSubtitleText(le, &used), text);
  EXPECT_EQ(used.Name, "UTF-16LE");
  EXPECT_EQ(DecodeSubtitleText(be, &used), text);
  EXPECT_EQ(used.Name, "UTF-16BE");
}

TEST(DecodeSubtitleText, WesternAndCyrillicFilesAreNotTakenForPolish) {
  struct Case {
    QByteArray bytes;
    const char* expected;
  } cases[] = {
      // Spanish in Windows-1252: ñ, ó and ¿ are Polish letters in Windows-1250, á, é, í are not.
      {"{1}{50}\xBF"
       "D\xF3nde est\xE1 la estaci\xF3n?\n{60}{100}Ma\xF1"
       "ana por la ma\xF1"
       "ana, se\xF1or.\n",
       "{1}{50}¿Dónde está la estación?\n{60}{100}Mañana por la mañana, señor.\n"},
      {"{1}{50}O\xF9 est la gare? Tr\xE8s loin. \xC7"
       "a va, \xE9l\xE8ve.\n",
       "{1}{50}Où est la gare? Très loin. Ça va, élève.\n"},
      // Russian in Windows-1251.
      {"{1}{50}\xCF\xF0\xE8\xE2\xE5\xF2, \xEA\xE0\xEA \xE4\xE5\xEB\xE0?\n"
       "{60}{100}\xD5\xEE\xF0\xEE\xF8\xEE, \xF1\xEF\xE0\xF1\xE8\xE1\xEE.\n",
       "{1}{50}Привет, как дела?\n{60}{100}Хорошо, спасибо.\n"},
  };
  for (const Case& c : cases) {
    TTextEncoding used;
    EXPECT_EQ(DecodeSubtitleText(c.bytes, &used), QString::fromUtf8(c.expected))
        << "read as " << used.Name.toStdString();
  }
}

TEST(IsValidUtf8, Table) {
  struct Case {
    QByteArray bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain ascii", true},
      {"\xC5\xBC\xC3\xB3\xC5\x82w", true},
      {"\xF0\x9F\x98\x80", true},
      {"\xC0\x80", false},          // overlong NUL
      {"\xE0\x80\x80", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xC5", false},              // cut short
      {"ab\xE6", false},            // Windows-1250 ć
      {"\x80", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes.toHex().data();
}

TEST(SplitTextLines, LineBreaks) {
  EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (QStringList{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitTextLines("a\n"), QStringList{"a"});
  EXPECT_EQ(SplitTextLines("a\n\nb\r\n\r\n"), (QStringList{"a", "", "b", ""}));
  EXPECT_TRUE(SplitTextLines("").isEmpty());
}

}  // namespace
}  // namespace trelvix::subtitles
