#include "parser_exercise.h"

#include <QByteArray>
#include <QStringList>
#include <cstdlib>

#include "subtitles/subtitle_layout.h"
#include "subtitles/subtitle_loader.h"
#include "subtitles/text_decode.h"

namespace trelvix::subtitles::test {

void ExerciseSubtitleParser(const uint8_t* data, size_t size) {
  static const char* const kExt[] = {".TXT", ".SUB", ".SRT", ".SSA", ".ASS", ".SMI", ""};
  static const double kFps[] = {25.0, 23.976, 0.0, 1.0, 1e-9, 1e9};
  if (size == 0) return;
  const uint8_t selector = data[0];
  const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
  QStringList lines = SplitTextLines(DecodeSubtitleText(bytes));
  TSubtitleTimetable timetable;
  timetable.Append(1, "previous");
  LoadTXTLines(lines, QString::fromLatin1(kExt[selector % 7]), kFps[(selector / 7) % 6], timetable);

  TSubtitleSettings settings;
  const runtime::TFont font = DefaultSubtitleFont();
  TFontState state;
  for (const TTimetableRow& row : timetable.Rows()) {
    // Every text a load leaves is bounded; a longer one is a finding.
    if (row.Text.size() > kMaxSubtitleText) std::abort();
    (void)TSubtitleTimetable::ParseKey(row.Key);
    TSubtitleLines l = SplitSubtitleLines(row.Text);
    int size_pt = 20;
    TFitMeasure measure{[&](const QString& s) { return int(s.size()) * size_pt; },
                        [&] { return size_pt > kMinFontPoints ? (--size_pt, true) : false; }};
    FitToWidth(l, 300, true, true, measure);
    for (int i = 0; i < l.Count; ++i) {
      (void)SplitPosition(l.Line[i]);
      (void)ApplyMarkup(l.Line[i], i == 0 ? 1 : 2, state, font);
    }
    (void)ReadingTime(row.Text, 1 + (selector & 1), selector * 100, settings);
  }
}

std::vector<std::string> SeedFiles() {
  return {
      "{250}{300}Hello|World\n{1}{1}23.976\n{260}{}{y:i}{c:$0000FF}Kursywa|druga\n",
      "[1][20]Text\n[123][150]/Text|{y:b}bold\n",
      "[01:23]Text\n[01:30][01:33]Second\n",
      "0:01:02:Text\n00:01:05:Line|two\n00:00:00:\n",
      "1\r\n00:01:02,900 --> 00:01:05,000\r\n<i>First</i> line\r\n<font color=\"#FF0000\">Second"
      "</font> rest\r\n\r\n2\r\n00:01:10,000 --> 00:01:12,000\r\nTak.\r\n",
      "<SAMI><BODY>\n<SYNC Start=62900><P Class=ENCC>one<br>two\n"
      "<SYNC Start=64000><P Class=ENCC>&nbsp;\n",
      "[Script Info]\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, "
      "MarginV, Effect, Text\nDialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,{\\i1}Hi\\Nthere, "
      "you...\n",
      "\xEF\xBB\xBF{1}{50}Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\n",
      "{1}{50}Za\xBF\xF3\xB3\xE6 g\xEA\x9C\x6C\xB9\n",
      "9999\n02:46:39,000 --> 02:46:40,000\nA\n10000\n02:46:40,000 --> 02:46:41,000\nB\n",
  };
}

}  // namespace trelvix::subtitles::test
