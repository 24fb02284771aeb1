// The subtitle settings read from the settings store, the program's own key and the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/settings_store.h"
#include "subtitles/option_model.h"
#include "subtitles/subtitle_constants.h"
#include "support/temp_dir.h"

namespace trelvix::subtitles {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  trelvix::test::TempDir dir_;
  runtime::TSettingsStore store_{dir_.File("registry.ini")};

  runtime::TSettingsKey Key() {
    auto key = store_.OpenKey(kSettingsKey, true);
    EXPECT_TRUE(key.has_value()) << store_.LastError();
    return *key;
  }
  // The value of one name used by these tests, none at its default.
  void WriteGood(runtime::TSettingsKey& key, const std::string& n) {
    auto real = [&](const char* name, double v) {
      if (n == name) {
        ASSERT_TRUE(key.WriteDouble(name, v));
      }
    };
    auto integer = [&](const char* name, int32_t v) {
      if (n == name) {
        ASSERT_TRUE(key.WriteInteger(name, v));
      }
    };
    auto text = [&](const char* name, const char* v) {
      if (n == name) {
        ASSERT_TRUE(key.WriteString(name, v));
      }
    };
    real(kValFWidth, 80);
    integer(kValIQTime, 3000);
    integer(kValIQDziel, 0);
    integer(kValIQZmniejsz, 0);
    text(kValEFontName, "Liberation Serif");
    real(kValEFontSize, 30.7);
    integer(kValFontColor, 0x00FFFF);
    if (n == kValFontStyle) {
      const uint8_t style = runtime::fsItalic | runtime::fsUnderline;
      ASSERT_TRUE(key.WriteBinary(kValFontStyle, {&style, 1}));
    }
    integer(kValFontCharset, 0);
    real(kValEObwodka, 2.5);
    integer(kValIQNapisow, 0);
    integer(kValFontAutoHeight, 0);
    real(kValFontVol, 15);
    real(kValNapisyCzas, 6.3);
    real(kValNapisBottom, 12.5);
    integer(kValFontType, 2);
    integer(kValCLoadTXT, 0);
    text(kValDirectoryTXT, "/home/x/napisy");
    integer(kValAllTXTToMenu, 1);
  }
  // Every value but the skipped ones.
  void WriteAll(const std::vector<std::string>& skip = {}) {
    auto key = Key();
    for (const char* n :
         {kValFWidth, kValIQTime, kValIQDziel, kValIQZmniejsz, kValEFontName, kValEFontSize,
          kValFontColor, kValFontStyle, kValFontCharset, kValEObwodka, kValIQNapisow,
          kValFontAutoHeight, kValFontVol, kValNapisyCzas, kValNapisBottom, kValFontType,
          kValCLoadTXT, kValDirectoryTXT, kValAllTXTToMenu})
      if (std::find(skip.begin(), skip.end(), n) == skip.end()) WriteGood(key, n);
  }
};

void ExpectDefaults(const TSubtitleSettings& s) {
  EXPECT_EQ(s.FWidth, 95);
  EXPECT_EQ(s.IQTime, 4000);
  EXPECT_TRUE(s.IQDziel);
  EXPECT_TRUE(s.IQZmniejsz);
  EXPECT_EQ(s.EFontName, "Arial");
  EXPECT_EQ(s.EFontSize, 20);
  EXPECT_EQ(s.FontColor, runtime::clWhite);
  EXPECT_EQ(s.FontStyle, 0);
  EXPECT_EQ(s.FontCharset, kEastEuropeCharset);
  EXPECT_EQ(s.EObwodka, 4);
  EXPECT_TRUE(s.IQNapisow);
  EXPECT_TRUE(s.FontAutoHeight);
  EXPECT_EQ(s.FontVol, 10);
  EXPECT_EQ(s.NapisyCzas, 4);
  EXPECT_EQ(s.NapisBottom, 1);
  EXPECT_EQ(s.FontType, 0);
  EXPECT_TRUE(s.CLoadTXT);
  EXPECT_TRUE(s.DirectoryTXT.isEmpty());
  EXPECT_FALSE(s.AllTXTToMenu);
  EXPECT_EQ(s.NapisyCzasTag, 4000);
  EXPECT_EQ(s.EObwodkaTag, 4);
  EXPECT_EQ(s.PanelWzorFont.Name(), "Arial");
  EXPECT_EQ(s.PanelWzorFont.Height(), -27);
  EXPECT_EQ(s.PanelWzorFont.Color(), runtime::clWhite);
  EXPECT_EQ(s.PanelWzorFont.Style(), 0);
  EXPECT_EQ(s.PanelWzorFont.Charset(), kEastEuropeCharset);
}

TEST_F(SettingsTest, NoKeyGivesTheDefaults) {
  TOptionModel m;
  m.LoadSettings(store_);
  ExpectDefaults(m.Settings());
  EXPECT_EQ(m.DisplayTime(), 4000);
}

TEST_F(SettingsTest, EveryValueIsRead) {
  WriteAll();
  TOptionModel m;
  m.LoadSettings(store_);
  const TSubtitleSettings& s = m.Settings();
  EXPECT_EQ(s.FWidth, 80);
  EXPECT_EQ(s.IQTime, 3000);
  EXPECT_FALSE(s.IQDziel);
  EXPECT_FALSE(s.IQZmniejsz);
  EXPECT_EQ(s.EFontName, "Liberation Serif");
  EXPECT_EQ(s.EFontSize, 30.7);
  EXPECT_EQ(s.FontColor, runtime::clYellow);
  EXPECT_EQ(s.FontStyle, runtime::fsItalic | runtime::fsUnderline);
  EXPECT_EQ(s.FontCharset, 0);
  EXPECT_EQ(s.EObwodka, 2.5);
  EXPECT_EQ(s.EObwodkaTag, 2);
  EXPECT_FALSE(s.IQNapisow);
  EXPECT_FALSE(s.FontAutoHeight);
  EXPECT_EQ(s.FontVol, 15);
  EXPECT_EQ(s.NapisyCzas, 6.3);
  EXPECT_EQ(s.NapisyCzasTag, 6300);
  EXPECT_EQ(m.DisplayTime(), 6300);
  EXPECT_EQ(s.NapisBottom, 12.5);
  EXPECT_EQ(s.FontType, 2);
  EXPECT_FALSE(s.CLoadTXT);
  EXPECT_EQ(s.DirectoryTXT, "/home/x/napisy");
  EXPECT_TRUE(s.AllTXTToMenu);
  // The subtitle font: name, Trunc(size) points, style, character set, colour.
  EXPECT_EQ(s.PanelWzorFont.Name(), "Liberation Serif");
  EXPECT_EQ(s.PanelWzorFont.Size(), 30);
  EXPECT_EQ(s.PanelWzorFont.Height(), -40);
  EXPECT_EQ(s.PanelWzorFont.Style(), runtime::fsItalic | runtime::fsUnderline);
  EXPECT_EQ(s.PanelWzorFont.Charset(), 0);
  EXPECT_EQ(s.PanelWzorFont.Color(), runtime::clYellow);
}

TEST_F(SettingsTest, MissingFWidthLeavesEverySettingAtItsDefault) {
  WriteAll({kValFWidth});
  TOptionModel m;
  m.LoadSettings(store_);
  ExpectDefaults(m.Settings());
}

TEST_F(SettingsTest, MissingEFontNameGivesAnEmptyFontName) {
  WriteAll({kValEFontName});
  TOptionModel m;
  m.LoadSettings(store_);
  EXPECT_TRUE(m.Settings().EFontName.isEmpty());
  EXPECT_EQ(m.Settings().PanelWzorFont.Name(), "");
  EXPECT_EQ(m.Settings().FontType, 2);  // the reading went on
}

TEST_F(SettingsTest, MissingFontStyleReadsAsNoStyle) {
  WriteAll({kValFontStyle});
  TOptionModel m;
  m.LoadSettings(store_);
  EXPECT_EQ(m.Settings().FontStyle, 0);
  EXPECT_EQ(m.Settings().PanelWzorFont.Style(), 0);
  EXPECT_TRUE(m.Settings().AllTXTToMenu);
}

TEST_F(SettingsTest, FirstUnreadableValueEndsTheReading) {
  struct Case {
    const char* name;
    const char* why;
  } cases[] = {{kValFontVol, "integer for a real"},
               {kValEFontName, "integer for a text"},
               {kValFontStyle, "two bytes"},
               {kValIQNapisow, "real for a Boolean"}};
  WriteAll();
  auto key = Key();
  for (const Case& c : cases) {
    if (std::string(c.name) == kValFontStyle) {
      const uint8_t two[2] = {1, 2};
      ASSERT_TRUE(key.WriteBinary(c.name, two));
    } else if (std::string(c.name) == kValIQNapisow) {
      ASSERT_TRUE(key.WriteDouble(c.name, 1.0));
    } else {
      ASSERT_TRUE(key.WriteInteger(c.name, 7));
    }
    TOptionModel m;
    m.LoadSettings(store_);
    WriteGood(key, c.name);  // for the next case
    const TSubtitleSettings& s = m.Settings();
    SCOPED_TRACE(c.why);
    EXPECT_EQ(s.FWidth, 80);       // read before
    EXPECT_EQ(s.FontType, 0);      // default after
    EXPECT_FALSE(s.AllTXTToMenu);  // default after
    EXPECT_EQ(s.NapisyCzasTag, 4000);
    if (std::string(c.name) == kValFontStyle || std::string(c.name) == kValEFontName) {
      // Stopped before the font was built: the preview keeps its default name and colour.
      EXPECT_EQ(s.PanelWzorFont.Name(), "Arial");
      EXPECT_EQ(s.PanelWzorFont.Color(), runtime::clWhite);
    }
  }
}

TEST_F(SettingsTest, ValuesAreKeptWithinTheControlRanges) {
  auto key = Key();
  ASSERT_TRUE(key.WriteDouble(kValFWidth, 250));
  ASSERT_TRUE(key.WriteInteger(kValIQTime, 100));
  ASSERT_TRUE(key.WriteInteger(kValIQDziel, 5));
  ASSERT_TRUE(key.WriteInteger(kValIQZmniejsz, 1));
  ASSERT_TRUE(key.WriteString(kValEFontName, "Arial"));
  ASSERT_TRUE(key.WriteDouble(kValEFontSize, 1));
  TOptionModel m;
  m.LoadSettings(store_);
  EXPECT_EQ(m.Settings().FWidth, 99);
  EXPECT_EQ(m.Settings().IQTime, 2500);
  EXPECT_EQ(m.Settings().EFontSize, 6);
  m.SetFontType(9);
  m.SetNapisyCzas(0.2);
  m.SetEObwodka(40);
  EXPECT_EQ(m.Settings().FontType, 3);
  EXPECT_EQ(m.DisplayTime(), 1000);
  EXPECT_EQ(m.Settings().EObwodkaTag, 6);
}

TEST_F(SettingsTest, RecordProgramWritesTheProgramKey) {
  ASSERT_TRUE(TOptionModel::RecordProgram(store_, "/opt/trelvix/trelvix"));
  const auto key = store_.OpenKey(kProgramKey, false);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->ReadString("Name"), "Trelvix to iPhone");
  EXPECT_EQ(key->ReadString("ShortName"), "iPhone");
  EXPECT_EQ(key->ReadString("Path"), "/opt/trelvix/trelvix");
  EXPECT_EQ(key->ReadString("Version"), "1.3");
}

struct Recorder {
  bool add_enabled = true;
  bool sub_enabled = false;  // becomes true once a video was added, as in the window
  QStringList added, subtitles, errors;
  TStartupActions Actions() {
    return {[this] { return add_enabled; },
            [this](const QString& f) {
              added << f;
              sub_enabled = true;
            },
            [this] { return sub_enabled; }, [this](const QString& f) { subtitles << f; },
            [this](const QString& e) { errors << e; }};
  }
};

TEST_F(SettingsTest, CommandLine) {
  const QString video = QString::fromStdString(dir_.File("film.avi"));
  trelvix::test::WriteFile(video.toStdString(), "x");
  const QString srt = QString::fromStdString(dir_.File("film.srt"));
  struct Case {
    QStringList args;
    bool add_enabled;
    bool sub_enabled;
    int added;
    int subtitles;
  } cases[] = {
      {{}, true, false, 0, 0},
      {{video}, true, false, 1, 0},
      {{video, srt}, true, false, 1, 1},
      {{video, "/x/film.ASS"}, true, false, 1, 1},
      {{video, "/x/film.mkv"}, true, false, 1, 0},
      {{"/no/such/file.avi", srt}, true, false, 0, 0},
      {{"/no/such/file.avi", srt}, true, true, 0, 1},
      {{video, srt}, false, false, 0, 0},
      {{QString::fromStdString(dir_.path().string()), srt}, true, false, 0, 0},
  };
  for (const Case& c : cases) {
    Recorder r;
    r.add_enabled = c.add_enabled;
    r.sub_enabled = c.sub_enabled;
    TOptionModel::HandleCommandLine(c.args, r.Actions());
    EXPECT_EQ(r.added.size(), c.added) << c.args.join(' ').toStdString();
    EXPECT_EQ(r.subtitles.size(), c.subtitles) << c.args.join(' ').toStdString();
  }
  // Errors in the actions are ignored.
  TStartupActions throwing{[] { return true; },
                           [](const QString&) -> void { throw std::runtime_error("add failed"); },
                           [] { return true; }, [](const QString&) {}, [](const QString&) {}};
  EXPECT_NO_THROW(TOptionModel::HandleCommandLine({video, srt}, throwing));
}

TEST_F(SettingsTest, FormCreateRecordsTheProgramAndHandlesTheCommandLine) {
  const QString video = QString::fromStdString(dir_.File("film.avi"));
  trelvix::test::WriteFile(video.toStdString(), "x");
  WriteAll();
  Recorder r;
  TOptionModel m;
  m.FormCreate(store_, "/usr/bin/trelvix", {video, "a.srt"}, r.Actions());
  EXPECT_EQ(m.Settings().FontType, 2);
  EXPECT_TRUE(store_.OpenKey(kProgramKey, false).has_value());
  EXPECT_EQ(r.added, QStringList{video});
  EXPECT_EQ(r.subtitles, QStringList{"a.srt"});
  EXPECT_TRUE(r.errors.isEmpty());
}

TEST_F(SettingsTest, FormCreateReportsAnUnwritableStoreAndSkipsTheCommandLine) {
  const QString video = QString::fromStdString(dir_.File("film.avi"));
  trelvix::test::WriteFile(video.toStdString(), "x");
  // A damaged store file reads as empty and refuses writes.
  trelvix::test::WriteFile(store_.File(), std::string("\x01\x02 not a settings file [[[\n", 28));
  Recorder r;
  TOptionModel m;
  m.FormCreate(store_, "/usr/bin/trelvix", {video}, r.Actions());
  ExpectDefaults(m.Settings());
  EXPECT_EQ(r.errors.size(), 1);
  EXPECT_FALSE(r.errors.value(0).isEmpty());
  EXPECT_TRUE(r.added.isEmpty());
}

}  // namespace
}  // namespace trelvix::subtitles
