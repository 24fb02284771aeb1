#include "subtitles/subtitle_beside.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace trelvix::subtitles {
namespace {

TEST(SubtitleBeside, PreferenceAndLetterCase) {
  struct Case {
    const char* name;
    std::vector<const char*> files;  // beside "film.mkv"
    const char* found;               // nullptr: none
  };
  const Case cases[] = {
      {"nothing beside", {"other.srt", "film.mkv.txt", "film.doc"}, nullptr},
      {"upper-case extension", {"film.SRT"}, "film.SRT"},
      {"srt before txt", {"film.txt", "film.srt"}, "film.srt"},
      {"txt before the others", {"film.ass", "film.SUB", "film.Txt"}, "film.Txt"},
      {"the others", {"film.smi"}, "film.smi"},
      {"the base name matches exactly", {"Film.srt", "film.sub"}, "film.sub"},
      {"same name in two cases", {"film.srt", "film.SRT"}, "film.SRT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    test::WriteFile(dir.File("film.mkv"), "x");
    for (const char* f : c.files) test::WriteFile(dir.File(f), "1");
    const QString found = FindSubtitleBeside(QString::fromStdString(dir.File("film.mkv")));
    EXPECT_EQ(found, c.found ? QString::fromStdString(dir.File(c.found)) : QString());
  }
}

TEST(SubtitleBeside, NamesWithDotsAndWildcardCharacters) {
  test::TempDir dir;
  test::WriteFile(dir.File("a.b [1]*.srt"), "1");
  test::WriteFile(dir.File("a.b [1]x.srt"), "1");
  EXPECT_EQ(FindSubtitleBeside(QString::fromStdString(dir.File("a.b [1]*.mkv"))),
            QString::fromStdString(dir.File("a.b [1]*.srt")));
  EXPECT_EQ(FindSubtitleBeside(QString::fromStdString(dir.File("missing/film.mkv"))), QString());
}

}  // namespace
}  // namespace trelvix::subtitles
