// Presets: the built-in table, codec-qualified lookup, preset files and their messages, and that
// every preset line takes effect on today's libx264 encoder.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "engine/engine_test_util.h"
#include "engine/ffmpeg_presets.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using test::TempDir;
using testing::TestEngine;

class Presets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
};

std::string Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const FFmpegException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

std::map<std::string, std::string> Lines(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && static_cast<unsigned char>(line.back()) < ' ') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

const char* Text(const char* name) {
  const TOptionsPreset* p = FindBuiltinPreset(name);
  return p ? p->Value : "";
}

TEST_F(Presets, TheBuiltInTable) {
  const std::set<std::string> keys = {
      "coder",  "flags",      "cmp",          "partitions", "me_method",  "subq",    "me_range",
      "g",      "keyint_min", "sc_threshold", "i_qfactor",  "b_strategy", "qcomp",   "qmin",
      "qmax",   "qdiff",      "bf",           "refs",       "directpred", "trellis", "flags2",
      "wpredp", "cqp",        "level",        "maxrate",    "bufsize"};
  const auto rows = BuiltinPresets();
  ASSERT_EQ(rows.size(), 36u);
  std::set<std::string> names;
  for (const TOptionsPreset& p : rows) {
    names.insert(p.Name);
    const std::string text = p.Value;
    ASSERT_FALSE(text.empty()) << p.Name;
    if (std::string(p.Name) == "libx264-fastfirstpass")
      EXPECT_EQ(text.back(), '\x01');
    else
      EXPECT_EQ(text.back(), '\n') << p.Name;
    for (const auto& [k, v] : Lines(text)) EXPECT_TRUE(keys.count(k)) << p.Name << ": " << k;
    if (std::string(p.Name).find("lossless") != std::string::npos) {
      EXPECT_EQ(Lines(text)["cqp"], "0") << p.Name;
    }
  }
  EXPECT_EQ(names.size(), 36u);
  EXPECT_STREQ(Text("libx264-medium_firstpass"), Text("libx264-fast_firstpass"));
  EXPECT_STREQ(Text("libx264-placebo_firstpass"), Text("libx264-placebo"));
  EXPECT_STREQ(Text("libx264-slower_firstpass"), Text("libx264-slow_firstpass"));
  EXPECT_STREQ(Text("libx264-ultrafast_firstpass"), Text("libx264-ultrafast"));

  EXPECT_STREQ(Text("libx264-default"),
               "coder=1\nflags=+loop\ncmp=+chroma\npartitions=+parti8x8+parti4x4+partp8x8+"
               "partb8x8\nme_method=hex\nsubq=7\nme_range=16\ng=250\nkeyint_min=25\nsc_"
               "threshold=40\ni_qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\n"
               "bf=3\nrefs=3\ndirectpred=1\ntrellis=1\nflags2=+mixed_refs+wpred+dct8x8+fastpskip\n"
               "wpredp=2\n");
  EXPECT_STREQ(Text("libx264-fastfirstpass"),
               "coder=1\nflags=+loop\ncmp=+chroma\npartitions=-parti8x8-parti4x4-partp8x8-"
               "partp4x4-partb8x8\nme_method=dia\nsubq=2\nme_range=16\ng=250\nkeyint_min=25\nsc_"
               "threshold=40\ni_qfactor=0.71\nb_strategy=1\nqcomp=0.6\nqmin=10\nqmax=51\nqdiff=4\n"
               "bf=3\nrefs=1\ndirectpred=3\ntrellis=0\nflags2=-bpyramid-wpred-mixed_refs-dct8x8+"
               "fastpskip\nwpredp=2\x01");
  EXPECT_STREQ(Text("libx264-ipod640"),
               "coder=0\nbf=0\nrefs=1\nflags2=-wpred-dct8x8\nlevel=30\nmaxrate=10000000\n"
               "bufsize=10000000\nwpredp=0\n");
  EXPECT_STREQ(Text("libx264-ipod320"),
               "coder=0\nbf=0\nflags2=-wpred-dct8x8\nlevel=13\nmaxrate=768000\nbufsize=3000000\n"
               "wpredp=0\n");
  EXPECT_STREQ(Text("libx264-baseline"), "coder=0\nbf=0\nflags2=-wpred-dct8x8\nwpredp=0\n");
  EXPECT_STREQ(Text("libx264-main"), "flags2=-dct8x8\n");

  // Graded: the analysis never gets cheaper from one speed to the next slower one.
  const char* speeds[] = {"ultrafast", "superfast", "veryfast", "faster",   "fast",
                          "medium",    "slow",      "slower",   "veryslow", "placebo"};
  int subq = -1, refs = 0;
  for (const char* s : speeds) {
    auto l = Lines(Text((std::string("libx264-") + s).c_str()));
    EXPECT_GE(std::stoi(l["subq"]), subq) << s;
    EXPECT_GE(std::stoi(l["refs"]), refs) << s;
    subq = std::stoi(l["subq"]);
    refs = std::stoi(l["refs"]);
  }
}

TEST_F(Presets, LookupIgnoresCase) {
  ASSERT_NE(FindBuiltinPreset("LIBX264-IPOD640"), nullptr);
  EXPECT_STREQ(FindBuiltinPreset("LIBX264-IPOD640")->Name, "libx264-ipod640");
  EXPECT_EQ(FindBuiltinPreset("ipod640"), nullptr);
}

TEST_F(Presets, CodecQualifiedLookup) {
  TestEngine e;
  e.SetOption("vcodec", "libx264");
  e.SetOption("vpre", "ipod640");
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->rc_max_rate, 10000000);
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->max_b_frames, 0);
  const auto& own = e.Fencoder_opts[mkVideo];
  EXPECT_NE(std::find(own.begin(), own.end(), TOptionPair{"level", "30"}), own.end());

  // The row's own name needs no codec, in any case.
  TestEngine direct;
  direct.SetOption("vpre", "LibX264-IPOD320");
  EXPECT_EQ(direct.OptionContext(AVMEDIA_TYPE_VIDEO)->rc_max_rate, 768000);

  // A preset named for another kind's codec: "apre" with an audio codec pending.
  TestEngine audio;
  audio.SetOption("acodec", "libx264");  // not an audio codec, but the name composes
  audio.SetOption("apre", "main");
  EXPECT_EQ(audio.Fencoder_opts[mkVideo], (std::vector<TOptionPair>{{"8x8dct", "0"}}));
}

TEST_F(Presets, NothingHappensForEmptyTexts) {
  TestEngine e;
  e.ApplyPreset("vpre", "");
  e.ApplyPreset("", "libx264-main");
  EXPECT_TRUE(e.Fencoder_opts[mkVideo].empty());
}

TEST_F(Presets, PresetFiles) {
  TempDir dir;
  const std::string path = dir.File("my.ffpreset");
  test::WriteFile(path, "\r\n  vcodec=mpeg4\r\n\r\ng=12 \r\nACODEC=mp2\rbf=2\n\n");
  TestEngine e;
  e.SetOption("fpre", path);
  EXPECT_EQ(e.Fvideo_codec_name, "mpeg4");
  EXPECT_EQ(e.Faudio_codec_name, "mp2");
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->gop_size, 12);
  EXPECT_EQ(e.OptionContext(AVMEDIA_TYPE_VIDEO)->max_b_frames, 2);

  // "vpre" with a name the table does not have is a file too.
  TestEngine v;
  v.SetOption("vpre", path);
  EXPECT_EQ(v.Fvideo_codec_name, "mpeg4");
}

TEST_F(Presets, Messages) {
  TempDir dir;
  const std::string missing = dir.File("missing.ffpreset");
  const std::string bad_syntax = dir.File("syntax.ffpreset");
  const std::string bad_value = dir.File("value.ffpreset");
  const std::string bad_option = dir.File("option.ffpreset");
  test::WriteFile(bad_syntax, "g=12\n\ncoder\n");
  test::WriteFile(bad_value, "=12\n");
  test::WriteFile(bad_option, "g=12\nno_such_option=3\n");
  TestEngine e;
  EXPECT_EQ(Raised([&] { e.SetOption("fpre", missing); }), "Preset \"" + missing + "\" not found");
  EXPECT_EQ(Raised([&] { e.SetOption("vpre", "nosuchpreset"); }),
            "Preset \"nosuchpreset\" not found");
  EXPECT_EQ(Raised([&] { e.SetOption("fpre", bad_syntax); }),
            bad_syntax + ": Invalid syntax: \"coder\"");
  EXPECT_EQ(Raised([&] { e.SetOption("fpre", bad_value); }),
            bad_value + ": Invalid syntax: \"=12\"");
  EXPECT_EQ(Raised([&] { e.SetOption("fpre", bad_option); }),
            bad_option +
                ": Invalid option or argument: \"no_such_option=3\", parsed as "
                "\"no_such_option\" = \"3\"");
}

// Opens an output with libx264 and the preset, and returns libx264's settings.
std::map<std::string, std::string> SettingsWithPreset(const std::string& preset) {
  TempDir dir;
  TestEngine e;
  e.SetOption("vcodec", "libx264");
  e.SetOption("vpre", preset);
  e.SetOption("s", "64x64");
  e.SetOption("an", "1");
  EXPECT_EQ(e.OpenOutputFile(dir.File("out.mp4")), 1) << e.LastErrMsg();
  if (e.nb_output_files() != 1) return {};
  return testing::OpenAndReadX264Settings(e.Stream(0, 0));
}

TEST_F(Presets, HiAndLoProfilePresetsTakeEffectOnLibx264) {
  LogCapture log;
  auto hi = SettingsWithPreset("default");
  EXPECT_EQ(hi["ref"], "3");
  EXPECT_EQ(hi["bframes"], "3");
  EXPECT_EQ(hi["8x8dct"], "1");
  EXPECT_EQ(hi["subme"], "7");
  EXPECT_EQ(hi["me"], "hex");
  EXPECT_EQ(hi["mixed_ref"], "1");
  EXPECT_EQ(hi["cabac"], "1");
  EXPECT_EQ(hi["weightp"], "2");
  EXPECT_EQ(hi["trellis"], "1");
  EXPECT_EQ(hi["analyse"], "0x3:0x113");  // i4x4 i8x8 | p8x8 b8x8 i4x4 i8x8

  auto lo = SettingsWithPreset("fastfirstpass");
  EXPECT_EQ(lo["subme"], "2");
  EXPECT_EQ(lo["me"], "dia");
  EXPECT_EQ(lo["ref"], "1");
  EXPECT_EQ(lo["8x8dct"], "0");
  // No inter partitions at all (x264 keeps 4x4 intra prediction for I-frames).
  EXPECT_EQ(lo["analyse"].substr(lo["analyse"].find(':') + 1), "0");
  EXPECT_EQ(lo["b_pyramid"], "0");
  EXPECT_EQ(lo["direct"], "3");
  EXPECT_EQ(lo["trellis"], "0");
}

class EveryBuiltinPreset : public Presets, public ::testing::WithParamInterface<int> {};

TEST_P(EveryBuiltinPreset, OpensLibx264WithItsSettings) {
  LogCapture log;
  const TOptionsPreset& row = BuiltinPresets()[GetParam()];
  auto lines = Lines(row.Value);
  auto s = SettingsWithPreset(row.Name);
  ASSERT_FALSE(s.empty()) << row.Name;
  if (lines.count("subq")) {
    EXPECT_EQ(s["subme"], lines["subq"]) << row.Name;
  }
  if (lines.count("refs")) {
    EXPECT_EQ(s["ref"], lines["refs"]) << row.Name;
  }
  if (lines.count("bf")) {
    EXPECT_EQ(s["bframes"], lines["bf"]) << row.Name;
  }
  if (lines.count("coder")) {
    EXPECT_EQ(s["cabac"], lines["coder"]) << row.Name;
  }
  if (lines.count("me_method")) {
    EXPECT_EQ(s["me"], lines["me_method"]) << row.Name;
  }
  if (lines.count("cqp")) {
    EXPECT_EQ(s["qp"], "0") << row.Name;
  }
  const std::string flags2 = lines["flags2"];
  if (flags2.find("+dct8x8") != std::string::npos) {
    EXPECT_EQ(s["8x8dct"], "1") << row.Name;
  }
  if (flags2.find("-dct8x8") != std::string::npos) {
    EXPECT_EQ(s["8x8dct"], "0") << row.Name;
  }
  EXPECT_FALSE(log.Contains("has no equivalent")) << row.Name;
  EXPECT_FALSE(log.Contains("is not an option of encoder")) << row.Name;
}

INSTANTIATE_TEST_SUITE_P(Table, EveryBuiltinPreset, ::testing::Range(0, 36),
                         [](const ::testing::TestParamInfo<int>& i) {
                           std::string n = BuiltinPresets()[i.param].Name;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

}  // namespace
}  // namespace trelvix::engine
