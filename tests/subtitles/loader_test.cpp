// LoadTXT over the seven layouts: small files written to disk, the timetable read back.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "encode_helpers.h"
#include "subtitles/subtitle_constants.h"
#include "subtitles/subtitle_loader.h"
#include "support/temp_dir.h"

namespace trelvix::subtitles {
namespace {

using Rows = std::vector<std::pair<QString, QString>>;
using test::CodePage;
using test::Encode;

Rows RowsOf(const TSubtitleTimetable& t) {
  Rows rows;
  for (const auto& r : t.Rows()) rows.emplace_back(r.Key, r.Text);
  return rows;
}

// The timetable after the banner row, with the banner checked.
Rows DataRows(const TSubtitleTimetable& t) {
  Rows rows = RowsOf(t);
  EXPECT_FALSE(rows.empty());
  if (rows.empty()) return rows;
  EXPECT_EQ(rows.front().first, "0");
  EXPECT_EQ(rows.front().second, ".:: www.trelvix.com ::.");
  rows.erase(rows.begin());
  return rows;
}

struct LoadCase {
  const char* name;
  const char* file;  // the extension decides the rules
  std::string bytes;
  double fps;
  int kind;
  Rows rows;  // after the banner
};

QString U(const char* s) {
  return QString::fromUtf8(s);
}

std::vector<LoadCase> Cases() {
  return {
      {"MicroDVD", "a.txt", "{250}{300}Hello|World\n", 25, skMicroDVD, {{"10000", "Hello|World"}}},
      {"MicroDVDSameSecond",
       "a.sub",
       "{250}{300}A\n{260}{300}B\n{999}{1000}C\n",
       25,
       skMicroDVD,
       {{"10000", "A"}, {"11000", "B"}, {"39000", "C"}}},
      {"MicroDVDHeaderRow",
       "a.txt",
       "{1}{1}23.976\r\n{50}{60}Tak\r\n",
       25,
       skMicroDVD,
       {{"1000", "23.976"}, {"2000", "Tak"}}},
      {"MicroDVDFrameRate", "a.txt", "{2400}{2500}x\n", 23.976, skMicroDVD, {{"100000", "x"}}},
      {"MicroDVDBadLinesSkipped",
       "a.txt",
       "{abc}{10}bad\n{10}no second brace\n{75}{80}ok\n",
       25,
       skMicroDVD,
       {{"3000", "ok"}}},
      {"MicroDVDEmptyTextStillTakesKey",
       "a.txt",
       "{250}{300}\n{250}{300}B\n",
       25,
       skMicroDVD,
       {{"10000", ""}, {"10500", "B"}}},
      {"FilteringSubEditAndShortLines",
       "a.txt",
       "Made with SubEdit\n\nxy\n{250}{300}After filter\n",
       25,
       skMicroDVD,
       {{"10000", "After filter"}}},
      {"MPL2",
       "a.txt",
       "[1][20]Text\n[123][150]Text\n[600][700]/Kursywa|druga\n",
       25,
       skMPL2,
       {{"1000", "Text"}, {"12000", "Text"}, {"60000", "/Kursywa|druga"}}},
      {"MPL2TwoDigitStart", "a.txt", "[12][20]Two\n", 25, skMPL2, {{"1000", "Two"}}},
      {"BracketedMinutes",
       "a.txt",
       "[01:23]Text\n[01:30][01:33]Second\n",
       25,
       skMinutes,
       {{"83000", "Text"}, {"90000", "Second"}}},
      {"LineTiming",
       "a.txt",
       "0:01:02:Text\n00:01:05:Line|two\n00:00:00:\n",
       25,
       skLineTiming,
       {{"62000", "Text"}, {"65000", "Line|two"}}},
      {"LineTimingSameTimeHalfSecond",
       "a.txt",
       "00:01:10:A\n00:01:10:B\n00:01:10:C\n",
       25,
       skLineTiming,
       {{"70000", "A"}, {"70500", "B"}, {"70000", "C"}}},
      {"LineTimingBadTimeSkipped",
       "a.txt",
       "00:61:00:bad\n1:2:3:bad\n00:01:07=ok\n",
       25,
       skLineTiming,
       {{"67000", "ok"}}},
      {"LineTimingAtZeroMovesBehindBanner",
       "a.txt",
       "00:00:00:first\n00:01:03:then\n",
       25,
       skLineTiming,
       {{"500", "first"}, {"63000", "then"}}},
      {"SubRip",
       "a.srt",
       "1\r\n00:01:02,900 --> 00:01:05,000\r\nFirst line\r\nSecond line\r\n\r\n"
       "2\r\n00:01:10,000 --> 00:01:12,000\r\nLonger text\r\nTak.\r\nlost\r\n\r\n"
       "3\r\n00:01:20,000 --> 00:01:22,000\r\nLast one\r\nat the end\r\n",
       25,
       skSubRip,
       {{"62000", "First line|Second line"},
        {"70000", "Longer text"},
        {"80000", "Last one|at the end"}}},
      {"SubRipStartingWithBraceIsMicroDVD",
       "a.srt",
       "{25}{50}Brace\n",
       25,
       skMicroDVD,
       {{"1000", "Brace"}}},
      {"SAMI",
       "a.smi",
       "<SAMI>\n<BODY>\n<SYNC Start=62900><P Class=ENCC>one<br>two\n"
       "<SYNC Start=64000><P Class=ENCC>&nbsp;\n<SYNC Start=\"66000\"><P Class=ENCC>three\n"
       "</BODY>\n</SAMI>\n",
       25,
       skSAMI,
       {{"62000", "one|two"}, {"66000", "three"}}},
      {"AdvancedSubStation",
       "a.ass",
       "[Script Info]\nTitle: x\n\n[V4+ Styles]\nStyle: Default,Arial,20\n\n[Events]\n"
       "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
       "Dialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,{\\i1}Hi\n"
       "Dialogue: 0,0:00:05.50,0:00:07.00,Default,,0,0,0,,Hello, world\\Nline two\n"
       "Dialogue: 0,0:00:09.00,0:00:10.00,Default,,0,0,0,,0\n",
       25,
       skLineTiming,
       {{"1000", " Hi"}, {"5000", " Hello, world\\Nline two"}, {"9000", " 0"}}},
      {"SubStationAlpha",
       "a.ssa",
       "[Script Info]\n[Events]\nFormat: Marked, Start, End, Style, Name, MarginL, MarginR, "
       "MarginV, Effect, Text\nDialogue: Marked=0,0:01:02.00,0:01:04.00,*Default,,0,0,0,,Zdanie\n",
       25,
       skLineTiming,
       {{"62000", " Zdanie"}}},
      {"Windows1250MicroDVD",
       "a.txt",
       Encode("{1}{50}Zażółć gęślą jaźń\n{60}{100}Idź spać, Świnko|Żółw\n", CodePage::Windows1250),
       25,
       skMicroDVD,
       {{"1000", U("Zażółć gęślą jaźń")}, {"2000", U("Idź spać, Świnko|Żółw")}}},
      {"Windows1250ShortMicroDVD",
       "a.txt",
       Encode("{0}{25}Zrób to.\n{30}{60}Późno już.\n", CodePage::Windows1250),
       25,
       skMicroDVD,
       {{"1000", U("Zrób to.")}, {"2000", U("Późno już.")}}},
      {"Iso8859_2MPL2",
       "a.txt",
       Encode("[10][20]Śpiewaj, ptaszku\n[30][40]Ąę źle\n", CodePage::Iso8859_2),
       25,
       skMPL2,
       {{"1000", U("Śpiewaj, ptaszku")}, {"3000", U("Ąę źle")}}},
      {"Utf8SubRipPolish",
       "a.srt",
       "1\n00:00:05,000 --> 00:00:06,000\nŻółta łódź\nświeci się\n\n2\n00:00:09,000 --> "
       "00:00:10,000\nGęś\n",
       25,
       skSubRip,
       {{"5000", U("Żółta łódź|świeci się")}, {"9000", U("Gęś")}}},
      {"Utf8BomSubRip",
       "a.srt",
       "\xEF\xBB\xBF"
       "1\n00:00:02,000 --> 00:00:03,000\nZa\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\n",
       25,
       skSubRip,
       {{"2000", U("Zażółć")}}},
      {"SubRipIndexLinesOfFiveDigitsEndTheText",
       "a.srt",
       "9999\n02:46:39,000 --> 02:46:40,000\nA\n10000\n02:46:40,000 --> 02:46:41,000\nB b\n"
       "10001\n02:46:41,000 --> 02:46:42,000\nC\n",
       25,
       skSubRip,
       {{"9999000", "A"}, {"10000000", "B b"}, {"10001000", "C"}}},
      {"SubRipTimingLineEndsTheTextOfACueWithoutIndex",
       "a.srt",
       "00:00:01,000 --> 00:00:02,000\nFirst line\n00:00:03,000 --> 00:00:04,000\nSecond\n",
       25,
       skSubRip,
       {{"1000", "First line"}, {"3000", "Second"}}},
      {"SubRipTextKeepsAtMost255Characters",
       "a.srt",
       "1\n00:00:05,000 --> 00:00:06,000\n" + std::string(100, 'a') + "\n" + std::string(100, 'b') +
           "\n" + std::string(100, 'c') + "\n" + std::string(300, 'd') +
           "\n2\n00:00:07,000 --> 00:00:08,000\n" + std::string(300, 'e') + "\n",
       25,
       skSubRip,
       {{"5000", QString(100, u'a') + u'|' + QString(100, u'b') + u'|' + QString(53, u'c')},
        {"7000", QString(255, u'e')}}},
      {"MicroDVDTakenSecondsChainToTheNextFree",
       "a.txt",
       "{25}{30}A\n{50}{60}B\n{25}{30}C\n{25}{30}D\n{75}{80}E\n",
       25,
       skMicroDVD,
       {{"1000", "A"}, {"2000", "B"}, {"3000", "C"}, {"4000", "D"}, {"5000", "E"}}},
      {"Utf16LeBomMicroDVD",
       "a.sub",
       std::string("\xFF\xFE{\0"
                   "5\0}\0{\0}\0\x05\x01\n\0",
                   16),
       5,
       skMicroDVD,
       {{"1000", U("ą")}}},
  };
}

class LoadTXTTable : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadTXTTable, BuildsTheTimetable) {
  const LoadCase& c = GetParam();
  trelvix::test::TempDir dir;
  const std::string path = dir.File(c.file);
  trelvix::test::WriteFile(path, c.bytes);
  TSubtitleTimetable t;
  const TLoadTXTResult r = LoadTXTFile(QString::fromStdString(path), c.fps, t);
  EXPECT_TRUE(r.Loaded);
  EXPECT_FALSE(r.Rejected);
  EXPECT_TRUE(r.Error.isEmpty()) << r.Error.toStdString();
  EXPECT_EQ(r.Kind, c.kind);
  const Rows got = DataRows(t);
  ASSERT_EQ(got.size(), c.rows.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].first, c.rows[i].first) << "row " << i;
    EXPECT_EQ(got[i].second, c.rows[i].second) << "row " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LoadTXTTable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoadTXT, SubStationWithoutEventsKeepsThePreviousTimetable) {
  trelvix::test::TempDir dir;
  for (const char* bytes : {"[Script Info]\nTitle: nothing\n", ""}) {
    const std::string path = dir.File("x.ASS");
    trelvix::test::WriteFile(path, bytes);
    TSubtitleTimetable t;
    t.Append(5000, "kept");
    const TLoadTXTResult r = LoadTXTFile(QString::fromStdString(path), 25, t);
    EXPECT_TRUE(r.Rejected);
    EXPECT_FALSE(r.Loaded);
    EXPECT_EQ(r.Error, QString::fromUtf8(kMsgNoEventsSection));
    ASSERT_EQ(t.Count(), 1);
    EXPECT_EQ(t.Row(0).Text, "kept");
  }
}

TEST(LoadTXT, EmptyOrUnreadableFileLeavesTheBannerAndTheSwitch) {
  trelvix::test::TempDir dir;
  const std::string empty = dir.File("empty.srt");
  trelvix::test::WriteFile(empty, "\n\n");
  const std::string blank = dir.File("blank.txt");
  trelvix::test::WriteFile(blank, "x\n\nab\n");
  for (const std::string& path : {empty, blank, dir.File("missing.txt")}) {
    TSubtitleTimetable t;
    t.Append(5000, "old");
    const TLoadTXTResult r = LoadTXTFile(QString::fromStdString(path), 25, t);
    EXPECT_FALSE(r.Loaded) << path;
    EXPECT_FALSE(r.Rejected);
    EXPECT_TRUE(DataRows(t).empty());
  }
  TSubtitleTimetable t;
  EXPECT_FALSE(LoadTXTFile(QString::fromStdString(dir.File("missing.txt")), 25, t).Error.isEmpty());
}

TEST(LoadTXT, LineTimingStopsAfterItsLineLimitAndOtherLayoutsDoNot) {
  QStringList timing, dvd;
  for (int i = 0; i < 3100; ++i) {
    timing << QString::asprintf("%02d:%02d:%02d:line %d", i / 3600, i / 60 % 60, i % 60, i);
    dvd << QString::asprintf("{%d}{%d}line %d", i * 25, i * 25 + 10, i);
  }
  TSubtitleTimetable t;
  LoadTXTLines(timing, ".TXT", 25, t);
  EXPECT_EQ(t.Count(), 1 + 3001);
  EXPECT_TRUE(timing.isEmpty());
  LoadTXTLines(dvd, ".TXT", 25, t);
  EXPECT_EQ(t.Count(), 1 + 3100);
}

TEST(LoadTXT, ZeroFrameRateCountsAsOne) {
  QStringList lines{"{5}{6}five"};
  TSubtitleTimetable t;
  LoadTXTLines(lines, ".SUB", 0.0, t);
  ASSERT_EQ(t.Count(), 2);
  EXPECT_EQ(t.Row(1).Key, "5000");
}

TEST(LoadTXT, ExtensionsOfSubtitleFiles) {
  for (const char* name : {"a.txt", "b.SUB", "c.Srt", "d.ssa", "e.SMI", "f.ass", "g.x.srt"})
    EXPECT_TRUE(IsSubtitleFileName(name)) << name;
  for (const char* name : {"a.avi", "srt", "a.srt.bak", "a."})
    EXPECT_FALSE(IsSubtitleFileName(name)) << name;
  EXPECT_EQ(SubtitleExtension("/x/film.napisy.Srt"), ".SRT");
}

}  // namespace
}  // namespace trelvix::subtitles
