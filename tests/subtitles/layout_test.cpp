// Subtitle layout: reading times, markup, line split, split positions and the fit to width.
#include <gtest/gtest.h>

#include "subtitles/subtitle_layout.h"

namespace trelvix::subtitles {
namespace {

using runtime::TColor;

QString Chars(int n) {
  return QString(n, u'a');
}

TEST(ReadingTime, IntelligentSubtitles) {
  TSubtitleSettings s;  // defaults: speed 4000, intelligent subtitles on
  struct Case {
    QString text;
    int waiting;
    int64_t gap;
    int64_t expected;
  } cases[] = {
      {Chars(40), 1, 0, 2400},
      {Chars(2), 1, 0, 800},
      {Chars(100), 1, 0, 5500},
      {Chars(40), 2, 0, 1800},
      {Chars(40), 5, 0, 1800},
      // "www." quarters the time: 4000 * 150 / 100 / 4 = 1500.
      {"www." + Chars(96), 1, 0, 1500},
      {"see www.x.pl", 1, 0, 800},
      // A lone subtitle with the next one far away is held longer, at most gap - 400 ms and
      // 8 s; a near next one or another subtitle waiting leaves the time alone.
      {Chars(40), 1, 10000, 4800},
      {Chars(40), 1, 4000, 3600},
      {Chars(40), 1, 2900, 2400},
      {Chars(40), 2, 10000, 1800},
      {Chars(100), 1, 60000, 8000},
      {Chars(2), 1, 1500, 1100},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReadingTime(c.text, c.waiting, c.gap, s), c.expected)
        << c.text.size() << " chars, " << c.waiting << " waiting, gap " << c.gap;

  s.IQTime = 2500;
  EXPECT_EQ(ReadingTime(Chars(40), 1, 0, s), 1500);
}

TEST(ReadingTime, FixedWhenIntelligentSubtitlesAreOff) {
  TSubtitleSettings s;
  s.IQNapisow = false;
  s.NapisyCzasTag = 7000;
  EXPECT_EQ(ReadingTime(Chars(2), 3, 100000, s), 7000);
}

runtime::TFont ConfiguredFont(runtime::TFontStyles style = 0) {
  runtime::TFont f = DefaultSubtitleFont();
  f.SetStyle(style);
  return f;
}

TEST(ApplyMarkup, TagsOfTheFirstLine) {
  struct Case {
    const char* line;
    const char* text;
    TColor color;
    runtime::TFontStyles style;
    const char* font;
  } cases[] = {
      {"Plain", "Plain", runtime::clWhite, 0, "Arial"},
      {"{C:$0000FF}Red text", "Red text", runtime::clRed, 0, "Arial"},
      {"{c:$ff0000}Blue", "Blue", runtime::clBlue, 0, "Arial"},
      {"<font color=\"#FF0000\">Red</font>", "Red", runtime::clRed, 0, "Arial"},
      {"<FONT COLOR=\"#00ff00\">Green", "Green", runtime::clLime, 0, "Arial"},
      {"Words</font> more words", "Words", runtime::clWhite, 0, "Arial"},
      {"/Hello", "Hello", runtime::clWhite, runtime::fsItalic, "Arial"},
      {"- /Hi", "- Hi", runtime::clWhite, runtime::fsItalic, "Arial"},
      {"<i>Tilted</i>", "Tilted", runtime::clWhite, runtime::fsItalic, "Arial"},
      {"<I>Upper</I>", "<I>Upper</I>", runtime::clWhite, 0, "Arial"},
      {"{y:i}Tilted", "Tilted", runtime::clWhite, runtime::fsItalic, "Arial"},
      {"{Y I}Tilted", "Tilted", runtime::clWhite, runtime::fsItalic, "Arial"},
      {"{Y: I}Tilted", "Tilted", runtime::clWhite, runtime::fsItalic, "Arial"},
      {"{y:b}Bold", "Bold", runtime::clWhite, runtime::fsBold, "Arial"},
      {"{Y: B}Bold", "Bold", runtime::clWhite, runtime::fsBold, "Arial"},
      {"{y:u}Under", "Under", runtime::clWhite, runtime::fsUnderline, "Arial"},
      // Styles do not combine: the last marker wins.
      {"{y:i}{y:b}Both", "Both", runtime::clWhite, runtime::fsBold, "Arial"},
      {"{f:Courier New}Mono", "Mono", runtime::clWhite, 0, "Courier New"},
      {"{F:Times}{C:$00FFFF}{Y:B}All", "All", runtime::clYellow, runtime::fsBold, "Times"},
      // Bad tags stay in the text and change nothing.
      {"{C:$12345}x", "{C:$12345}x", runtime::clWhite, 0, "Arial"},
      {"{F:unclosed", "{F:unclosed", runtime::clWhite, 0, "Previous"},
      {"1/2 cup", "12 cup", runtime::clWhite, runtime::fsItalic, "Arial"},
      {"no marker here / late", "no marker here / late", runtime::clWhite, 0, "Arial"},
  };
  for (const Case& c : cases) {
    TFontState state{"Previous", runtime::clWhite, runtime::fsBold};
    EXPECT_EQ(ApplyMarkup(QString::fromUtf8(c.line), 1, state, ConfiguredFont()), c.text) << c.line;
    EXPECT_EQ(state.Color, c.color) << c.line;
    EXPECT_EQ(state.Style, c.style) << c.line;
    EXPECT_EQ(state.Name, c.font) << c.line;
  }
}

TEST(ApplyMarkup, LaterLinesKeepWhatTheFirstSet) {
  TFontState state{"", runtime::clWhite, runtime::fsBold};
  EXPECT_EQ(
      ApplyMarkup("{y:b}{F:Times}{C:$0000FF}One", 1, state, ConfiguredFont(runtime::fsUnderline)),
      "One");
  EXPECT_EQ(ApplyMarkup("Two", 2, state, ConfiguredFont(runtime::fsUnderline)), "Two");
  EXPECT_EQ(state.Style, runtime::fsBold);
  EXPECT_EQ(state.Name, "Times");
  EXPECT_EQ(state.Color, runtime::clRed);
  EXPECT_EQ(ApplyMarkup("/Three", 2, state, ConfiguredFont(runtime::fsUnderline)), "Three");
  EXPECT_EQ(state.Style, runtime::fsItalic);
  // A new subtitle's first line without tags returns to the configured name and style.
  EXPECT_EQ(ApplyMarkup("Four", 1, state, ConfiguredFont(runtime::fsUnderline)), "Four");
  EXPECT_EQ(state.Style, runtime::fsUnderline);
  EXPECT_EQ(state.Name, "Arial");
}

TEST(SplitSubtitleLines, Separators) {
  struct Case {
    const char* text;
    int count;
    const char* l1;
    const char* l2;
    const char* l3;
  } cases[] = {
      {"one", 1, "one", "", ""},
      {"one|two", 2, "one", "two", ""},
      {"one|two|three", 3, "one", "two", "three"},
      {"one|two|three|four", 3, "one", "two", "three|four"},
      {"one\\Ntwo", 2, "one", "two", ""},
      {"one\\Ntwo\\Nthree\\Nfour", 3, "one", "two", "three\\Nfour"},
      {"one|two\\Nthree", 3, "one", "two", "three"},
      {"|", 2, "", "", ""},
  };
  for (const Case& c : cases) {
    const TSubtitleLines l = SplitSubtitleLines(c.text);
    EXPECT_EQ(l.Count, c.count) << c.text;
    EXPECT_EQ(l.Line[0], c.l1) << c.text;
    EXPECT_EQ(l.Line[1], c.l2) << c.text;
    EXPECT_EQ(l.Line[2], c.l3) << c.text;
  }
}

TEST(SplitPosition, Rules) {
  struct Case {
    const char* line;
    const char* first;  // empty: cannot be split
  } cases[] = {
      {"Ona powiedziała... że pójdzie jutro", "Ona powiedziała..."},
      {"Wczoraj wieczorem, kiedy padało, poszedłem", "Wczoraj wieczorem,"},
      {"Byłem tam wczoraj. Dzisiaj już nie pójdę", "Byłem tam wczoraj."},
      // Dots, commas and stops in the first 9 or the last 6 characters do not count.
      {"No, to ja idę do domu, ok teraz już", "No, to ja idę do domu,"},
      {"Tak, tak idę do domu za chwilkę", "Tak, tak idę "},
      // No dots or commas: after the first blank from a third on, else at a third.
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "aaaaaaaaaa"},
      {"aaaaaaaaaaaa{y:i}aaaaaaaaaaaaaaaaaa", ""},
      {"ab", ""},
  };
  for (const Case& c : cases) {
    const QString s = QString::fromUtf8(c.line);
    const int p = SplitPosition(s);
    if (*c.first == 0) {
      EXPECT_EQ(p, 0) << c.line;
    } else {
      EXPECT_EQ(s.left(p), QString::fromUtf8(c.first)) << c.line;
    }
  }
}

// Every character 10 pixels wide at size 20; each point less takes 0.5 pixel per character.
struct FakeMeasure {
  int size = 20;
  int min_size = kMinFontPoints;
  TFitMeasure Get() {
    return {[this](const QString& s) { return int(s.size()) * size / 2; },
            [this] {
              if (size <= min_size) return false;
              --size;
              return true;
            }};
  }
};

TEST(FitToWidth, SplitsTheWiderLine) {
  FakeMeasure m;
  TSubtitleLines l =
      SplitSubtitleLines("Krótka|To jest bardzo długa druga linia, której nic nie mieści");
  const int w = FitToWidth(l, 300, true, false, m.Get());
  EXPECT_EQ(l.Count, 3);
  EXPECT_EQ(l.Line[0], "Krótka");
  EXPECT_EQ(l.Line[1], QString::fromUtf8("To jest bardzo długa druga linia,"));
  EXPECT_EQ(l.Line[2], QString::fromUtf8(" której nic nie mieści"));
  EXPECT_EQ(w, 33 * 10 + kTextWidthMargin);
}

TEST(FitToWidth, SplitsTheFirstLineTwiceAndNeverPastThree) {
  FakeMeasure m;
  TSubtitleLines l = SplitSubtitleLines(QString(90, u'x'));
  FitToWidth(l, 200, true, false, m.Get());
  EXPECT_EQ(l.Count, 3);
  EXPECT_EQ(l.Line[0] + l.Line[1] + l.Line[2], QString(90, u'x'));
  EXPECT_EQ(l.Line[0].size(), 30);  // split at a third

  TSubtitleLines three = SplitSubtitleLines(QString(90, u'x') + "|b|c");
  FitToWidth(three, 200, true, false, m.Get());
  EXPECT_EQ(three.Count, 3);
  EXPECT_EQ(three.Line[0], QString(90, u'x'));
}

TEST(FitToWidth, ReducesTheFontDownToTheLowerBound) {
  FakeMeasure m;
  TSubtitleLines l = SplitSubtitleLines("a fairly long line");  // 18 chars: 180 px at 20
  EXPECT_EQ(FitToWidth(l, 150, false, true, m.Get()), 16 * 18 / 2 + kTextWidthMargin);
  EXPECT_EQ(m.size, 16);

  FakeMeasure never;
  TSubtitleLines huge = SplitSubtitleLines(QString(5000, u'w'));
  FitToWidth(huge, 100, false, true, never.Get());
  EXPECT_EQ(never.size, kMinFontPoints);

  FakeMeasure off;
  TSubtitleLines same = SplitSubtitleLines("a fairly long line");
  EXPECT_EQ(FitToWidth(same, 150, false, false, off.Get()), 180 + kTextWidthMargin);
  EXPECT_EQ(off.size, 20);
}

TEST(MaxTextWidth, UsesTruncOfFWidthPlusOne) {
  EXPECT_EQ(MaxTextWidth(720, 95), 691);  // 96 %
  EXPECT_EQ(MaxTextWidth(720, 95.9), 691);
  EXPECT_EQ(MaxTextWidth(1000, 50), 510);
}

}  // namespace
}  // namespace trelvix::subtitles
