#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <QTransform>

#include "decoder/ff_decoder.h"
#include "fixtures/fixtures.h"
#include "fixtures/tracks.h"
#include "runtime/bitmap.h"
#include "support/temp_dir.h"

namespace trelvix {
namespace {

namespace fs = std::filesystem;

struct CliResult {
  int exit_code = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

CliResult RunCli(const std::vector<std::string>& args, const std::string& err_file) {
  std::string cmd = Quote(TRELVIX_CLI);
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " 2>" + Quote(err_file);
  CliResult r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int status = ::pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = test::ReadFile(err_file);
  return r;
}

std::vector<std::string> Mp4sIn(const fs::path& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".mp4") found.push_back(e.path().filename().string());
  return found;
}

class CliTest : public ::testing::Test {
 protected:
  CliResult Run(const std::vector<std::string>& args) {
    return RunCli(args, tmp_.File("stderr.txt"));
  }
  test::TempDir tmp_;
};

struct Kind {
  const char* container;
  const char* vcodec;
  const char* acodec;
};

class CliConvertsEveryContainer : public CliTest, public ::testing::WithParamInterface<Kind> {};

TEST_P(CliConvertsEveryContainer, ToAnIPhoneMp4) {
  const Kind k = GetParam();
  const std::string in = tmp_.File(std::string("clip.") + k.container);
  fixtures::MakeClip(
      in,
      {.container = k.container, .video_codec = k.vcodec, .audio_codec = k.acodec, .seconds = 2.0});
  const CliResult r = Run({in});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string expected = tmp_.File("clip_(Trelvix)_iphone.mp4");
  EXPECT_EQ(r.out, expected + "\n");
  const fixtures::MediaSummary s = fixtures::ProbeFile(expected);
  ASSERT_NE(s.Video(), nullptr);
  ASSERT_NE(s.Audio(), nullptr);
  EXPECT_EQ(s.Video()->codec, "h264");
  EXPECT_EQ(s.Video()->width, 480);
  EXPECT_EQ(s.Video()->height, 320);
  EXPECT_EQ(av_cmp_q(s.Video()->frame_rate, AVRational{25, 1}), 0);
  EXPECT_EQ(s.Audio()->codec, "aac");
  EXPECT_EQ(s.Audio()->channels, 2);
  EXPECT_NEAR(static_cast<double>(s.duration_us), 2e6, 80000);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, CliConvertsEveryContainer,
    ::testing::Values(Kind{"avi", "mpeg4", "mp2"}, Kind{"mkv", "libx264", "aac"},
                      Kind{"mp4", "libx264", "aac"}, Kind{"mov", "mpeg4", "pcm_s16le"},
                      Kind{"flv", "libx264", "aac"}, Kind{"mpegts", "mpeg2video", "mp2"}),
    [](const auto& info) { return std::string(info.param.container); });

TEST_F(CliTest, LoQualityAndTakenNames) {
  const std::string in = tmp_.File("Holiday.avi");
  fixtures::MakeClip(
      in, {.container = "avi", .video_codec = "mpeg4", .audio_codec = "mp2", .seconds = 1.0});
  test::WriteFile(tmp_.File("Holiday_(Trelvix)_iphone.mp4"), "taken");
  test::WriteFile(tmp_.File("Holiday_(Trelvix_1)_iphone.mp4"), "taken");
  const CliResult r = Run({"--lo", in});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, tmp_.File("Holiday_(Trelvix_2)_iphone.mp4") + "\n");
}

TEST_F(CliTest, BadInputsFailClearlyAndLeaveNothing) {
  fixtures::MakeRandomFile(tmp_.File("random.avi"), 20000, 7);
  test::WriteFile(tmp_.File("empty.mkv"), "");
  const struct {
    std::string file;
    const char* message;
  } cases[] = {{tmp_.File("random.avi"), "***File load error: "},
               {tmp_.File("empty.mkv"), "***File load error: "},
               {tmp_.File("missing.mp4"), "***File load error: "}};
  for (const auto& c : cases) {
    const CliResult r = Run({c.file});
    EXPECT_NE(r.exit_code, 0) << c.file;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.file << ": " << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(Mp4sIn(tmp_.path()).empty());
}

// Makes a folder unwritable for the rest of its scope: by its permissions, or for root (whom
// permissions do not stop) with the file system's immutable attribute.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const fs::path& dir) : dir_(dir) {
    if (::geteuid() == 0) {
      immutable_ = std::system(("chattr +i " + Quote(dir_.string()) + " 2>/dev/null").c_str()) == 0;
      ok_ = immutable_;
    } else {
      fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
      ok_ = true;
    }
  }
  ~ReadOnlyFolder() {
    if (immutable_) std::system(("chattr -i " + Quote(dir_.string())).c_str());
    fs::permissions(dir_, fs::perms::owner_all);
  }
  bool ok() const { return ok_; }

 private:
  fs::path dir_;
  bool immutable_ = false;
  bool ok_ = false;
};

TEST_F(CliTest, UnwritableFolderFailsWithTheOutputError) {
  const fs::path ro = tmp_.path() / "readonly";
  fs::create_directory(ro);
  const std::string in = (ro / "clip.mkv").string();
  fixtures::MakeClip(
      in, {.container = "mkv", .video_codec = "mpeg4", .audio_codec = "aac", .seconds = 1.0});
  CliResult r;
  {
    ReadOnlyFolder lock(ro);
    if (!lock.ok()) GTEST_SKIP() << "cannot make a folder unwritable here";
    r = Run({in});
  }
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("***Cannot do convert, error: "), std::string::npos) << r.err;
  EXPECT_TRUE(Mp4sIn(ro).empty());
}

TEST_F(CliTest, InfoHelpVersionAndUsage) {
  const std::string in = tmp_.File("clip.mkv");
  fixtures::MakeClip(
      in, {.container = "mkv", .video_codec = "mpeg4", .audio_codec = "aac", .seconds = 1.0});
  const CliResult info = Run({"--info", in});
  EXPECT_EQ(info.exit_code, 0) << info.err;
  EXPECT_NE(info.out.find("Stream #0"), std::string::npos) << info.out;
  const CliResult version = Run({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "Trelvix to iPhone 1.3\n");
  EXPECT_EQ(Run({"--help"}).exit_code, 0);
  EXPECT_EQ(Run({}).exit_code, 2);
  EXPECT_EQ(Run({"--bogus", in}).exit_code, 2);
  EXPECT_TRUE(Mp4sIn(tmp_.path()).empty());
}

// The mean absolute difference of the rows from top to bottom (fractions of the height) of two
// outputs' pictures at a time.
double BandDifference(const std::string& a, const std::string& b, int64_t at_us, double top,
                      double bottom) {
  auto picture = [&](const std::string& file) {
    decoder::TFFDecoder d;
    runtime::TBitmap bmp;
    if (!d.LoadFile(file) || !d.Seek(at_us, decoder::sfBackward)) return bmp;
    while (d.Decode() && d.FrameInfo().PTS + 20000 < at_us) {
    }
    d.CopyToBitmap(bmp);
    return bmp;
  };
  const runtime::TBitmap pa = picture(a), pb = picture(b);
  if (pa.Empty() || pa.Width() != pb.Width() || pa.Height() != pb.Height()) return -1;
  double sum = 0;
  int n = 0;
  for (int y = int(pa.Height() * top); y < int(pa.Height() * bottom); ++y) {
    const uint8_t* ra = const_cast<runtime::TBitmap&>(pa).ScanLine(y);
    const uint8_t* rb = const_cast<runtime::TBitmap&>(pb).ScanLine(y);
    for (int x = 0; x < pa.Width() * 3; ++x, ++n) sum += std::abs(int(ra[x]) - int(rb[x]));
  }
  return sum / n;
}

// The same for the lower quarter, where subtitles are drawn.
double LowerQuarterDifference(const std::string& a, const std::string& b, int64_t at_us) {
  return BandDifference(a, b, at_us, 0.75, 1.0);
}

TEST_F(CliTest, BurnsSubtitlesInOnlyWhileTheyAreShown) {
  setenv("XDG_CONFIG_HOME", tmp_.path().c_str(), 1);  // the default subtitle settings
  fs::create_directory(tmp_.path() / "plain");
  const std::string in = tmp_.File("film.mkv");
  const std::string plain_in = (tmp_.path() / "plain" / "film.mkv").string();
  for (const std::string& f : {in, plain_in})
    fixtures::MakeClip(
        f, {.container = "mkv", .video_codec = "mpeg4", .audio_codec = "aac", .seconds = 6.0});
  // One Polish subtitle at 2 s (SubRip, UTF-8).
  test::WriteFile(tmp_.File("film.srt"),
                  "1\r\n00:00:02,000 --> 00:00:03,000\r\nZażółć gęślą jaźń\r\n\r\n");
  const CliResult with = Run({in, tmp_.File("film.srt")});
  ASSERT_EQ(with.exit_code, 0) << with.err;
  const CliResult without = Run({plain_in});
  ASSERT_EQ(without.exit_code, 0) << without.err;
  const std::string a = tmp_.File("film_(Trelvix)_iphone.mp4");
  const std::string b = (tmp_.path() / "plain" / "film_(Trelvix)_iphone.mp4").string();
  EXPECT_GT(LowerQuarterDifference(a, b, 2200000), 3.0) << "no subtitle at 2.2 s";
  EXPECT_LT(LowerQuarterDifference(a, b, 5800000), 1.5) << "something drawn at 5.8 s";
  // Apart from the burned-in text the picture is the same film.
  EXPECT_EQ(fixtures::DecodeVideoFrames(a).size(), fixtures::DecodeVideoFrames(b).size());
}

TEST_F(CliTest, ASubtitleFileBesideTheVideoIsBurnedInUnlessTurnedOff) {
  setenv("XDG_CONFIG_HOME", tmp_.path().c_str(), 1);  // the default settings load subtitles
  for (const char* sub : {"auto", "off", "plain"}) fs::create_directory(tmp_.path() / sub);
  const auto in = [&](const char* sub) { return (tmp_.path() / sub / "film.mkv").string(); };
  const auto out = [&](const char* sub) {
    return (tmp_.path() / sub / "film_(Trelvix)_iphone.mp4").string();
  };
  for (const char* sub : {"auto", "off", "plain"})
    fixtures::MakeClip(
        in(sub),
        {.container = "mkv", .video_codec = "mpeg4", .audio_codec = "aac", .seconds = 4.0});
  for (const char* sub : {"auto", "off"})  // the extension's letter case does not matter
    test::WriteFile((tmp_.path() / sub / "film.SRT").string(),
                    "1\r\n00:00:02,000 --> 00:00:03,000\r\nObok filmu\r\n\r\n");
  const CliResult automatic = Run({in("auto")});
  ASSERT_EQ(automatic.exit_code, 0) << automatic.err;
  EXPECT_NE(automatic.err.find("film.SRT"), std::string::npos) << automatic.err;
  const CliResult off = Run({"--no-auto-subtitles", in("off")});
  ASSERT_EQ(off.exit_code, 0) << off.err;
  ASSERT_EQ(Run({in("plain")}).exit_code, 0);
  EXPECT_GT(LowerQuarterDifference(out("auto"), out("plain"), 2200000), 3.0);
  EXPECT_LT(LowerQuarterDifference(out("off"), out("plain"), 2200000), 1.5);
}

TEST_F(CliTest, InterruptStopsCleanlyWithAFinalisedOutput) {
  const std::string in = tmp_.File("long.mkv");
  fixtures::MakeClip(in, {.container = "mkv",
                          .video_codec = "mpeg4",
                          .audio_codec = "aac",
                          .width = 640,
                          .height = 480,
                          .seconds = 60.0});
  const std::string err = tmp_.File("interrupt.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::string cli = TRELVIX_CLI;
  char* argv[] = {cli.data(), const_cast<char*>(in.c_str()), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  // Interrupt once the conversion has reported progress.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (test::ReadFile(err).find("Progress: ") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 0);
  const std::string text = test::ReadFile(err);
  EXPECT_NE(text.find("Conversion stopped"), std::string::npos) << text;
  // The part converted so far is a complete, readable file.
  const std::string out = tmp_.File("long_(Trelvix)_iphone.mp4");
  const auto frames = fixtures::DecodeVideoFrames(out);
  EXPECT_GT(frames.size(), 0u);
  EXPECT_LT(frames.size(), 1500u);
}

TEST_F(CliTest, RefusesAFileThatIsNoSubtitleFile) {
  const std::string in = tmp_.File("film.mkv");
  fixtures::MakeClip(
      in, {.container = "mkv", .video_codec = "mpeg4", .audio_codec = "aac", .seconds = 1.0});
  test::WriteFile(tmp_.File("notes.doc"), "x");
  const CliResult r = Run({in, tmp_.File("notes.doc")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("Not a subtitle file"), std::string::npos) << r.err;
  EXPECT_TRUE(Mp4sIn(tmp_.path()).empty());
}

// A film's own tracks: the audio and subtitle tracks in the user's language, else the default
// audio track and no subtitles; the options that choose others; a subtitle file wins.
class CliFilmTracks : public CliTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", tmp_.path().c_str(), 1);  // the default subtitle settings
    unsetenv("LC_ALL");
    unsetenv("LANGUAGE");
    film_ = tmp_.File(std::string("film.") + GetParam());
    fixtures::MakeLanguageFilm(film_, GetParam());
  }
  void TearDown() override { unsetenv("LANG"); }
  // Converts under the locale and returns the output, renamed after `name`.
  std::string Convert(const char* lang, std::vector<std::string> args, const std::string& name) {
    setenv("LANG", lang, 1);
    args.push_back(film_);
    const CliResult r = Run(args);
    EXPECT_EQ(r.exit_code, 0) << name << ": " << r.err;
    const std::string out = tmp_.File(name + ".mp4");
    std::error_code ec;
    fs::rename(r.out.substr(0, r.out.find('\n')), out, ec);
    EXPECT_FALSE(ec) << name << ": " << r.out;
    return out;
  }
  std::string film_;
};

TEST_P(CliFilmTracks, ChosenByLocaleOrOptionsAndAFileWins) {
  constexpr const char* kPl = "pl_PL.UTF-8";
  constexpr const char* kEn = "en_US.UTF-8";
  const std::string plain = Convert(kEn, {"--no-auto-subtitles"}, "plain");
  struct Case {
    const char* name;
    const char* lang;
    std::vector<std::string> args;
    double tone_hz;
    bool subtitle;
  };
  test::WriteFile(tmp_.File("own.srt"), "1\r\n00:00:02,000 --> 00:00:03,000\r\nPlik obok\r\n\r\n");
  const Case cases[] = {
      {"polish", kPl, {}, 880, true},
      {"english", kEn, {}, 440, false},
      {"audio_track", kEn, {"--audio-track", "2"}, 880, false},
      {"audio_lang", kEn, {"--audio-lang", "pl"}, 880, false},
      {"first_audio_track", kPl, {"--audio-track", "1"}, 440, true},
      {"subtitle_track", kEn, {"--subtitle-track", "1"}, 440, true},
      {"subtitle_lang", kEn, {"--subtitle-lang", "pol"}, 440, true},
      {"no_auto", kPl, {"--no-auto-subtitles"}, 880, false},
  };
  // The film's cue is shown from 1 s on.
  for (const Case& c : cases) {
    const std::string out = Convert(c.lang, c.args, c.name);
    EXPECT_NEAR(fixtures::DecodeAudio(out).dominant_hz, c.tone_hz, 5) << c.name;
    const double drawn = LowerQuarterDifference(out, plain, 1500000);
    if (c.subtitle)
      EXPECT_GT(drawn, 3.0) << c.name;
    else
      EXPECT_LT(drawn, 1.5) << c.name;
  }
  // A subtitle file given with the film wins over its track: at 1.5 s the picture differs from
  // the one with the track's cue (the file's banner row is shown), its own cue follows at 2 s.
  setenv("LANG", kPl, 1);
  const CliResult r = Run({film_, tmp_.File("own.srt")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string with_file = r.out.substr(0, r.out.find('\n'));
  const std::string with_track = tmp_.File("polish.mp4");
  EXPECT_GT(LowerQuarterDifference(with_file, with_track, 1500000), 3.0);
  EXPECT_GT(LowerQuarterDifference(with_file, with_track, 2200000), 3.0);
  EXPECT_GT(LowerQuarterDifference(with_file, plain, 2200000), 3.0);
  EXPECT_NEAR(fixtures::DecodeAudio(with_file).dominant_hz, 880, 5);
}

TEST_P(CliFilmTracks, RefusesTracksItCannotUse) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--audio-track", "3"},
                                               {"--audio-track", "0"},
                                               {"--audio-track", "x"},
                                               {"--audio-lang", "fr"},
                                               {"--audio-lang", "qqq"},
                                               {"--subtitle-track", "2"},
                                               {"--subtitle-lang", "eng"},
                                               {"--audio-track"}}) {
    std::vector<std::string> a = args;
    a.push_back(film_);
    const CliResult r = Run(a);
    EXPECT_EQ(r.exit_code, 2) << args[0] << ": " << r.err;
    EXPECT_FALSE(r.err.empty()) << args[0];
  }
  for (const std::string& name : Mp4sIn(tmp_.path()))
    EXPECT_EQ(name.find("_iphone"), std::string::npos) << name;
}

TEST_P(CliFilmTracks, InfoListsTheTracksWithLanguagesAndFlags) {
  const CliResult r = Run({"--info", film_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Audio track 1: stream #1, language eng, default\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Audio track 2: stream #2, language pol\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Subtitle track 1: stream #3, language pol"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Containers, CliFilmTracks, ::testing::Values("mkv", "mp4"));

// The pictures of an output, each turned back by `turn` degrees (clockwise), and the number of
// them whose frame-number pattern reads.
int ReadableWhenTurnedBack(const std::string& file, int turn) {
  decoder::TFFDecoder d;
  if (!d.LoadFile(file)) return -1;
  int readable = 0;
  runtime::TBitmap bmp;
  while (d.Decode()) {
    d.CopyToBitmap(bmp);
    const QImage back =
        bmp.Image().transformed(QTransform().rotate(-turn)).convertToFormat(QImage::Format_RGB888);
    if (fixtures::ReadFrameNumberRGB(back.constBits(), int(back.bytesPerLine()), 24, back.width(),
                                     back.height()) >= 0)
      ++readable;
  }
  return readable;
}

// A phone clip stored 640x360 with a display matrix that turns it upright.
class CliPhoneClip : public CliTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", tmp_.path().c_str(), 1);  // the default subtitle settings
    clip_ = tmp_.File("phone.mp4");
    fixtures::MakeRotatedClip(clip_, GetParam(),
                              {.container = "mp4",
                               .video_codec = "mpeg4",
                               .audio_codec = "aac",
                               .width = 640,
                               .height = 360,
                               .seconds = 2.0});
  }
  std::string clip_;
};

TEST_P(CliPhoneClip, ConvertsUprightWithTheTurnedShape) {
  const CliResult r = Run({clip_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string out = tmp_.File("phone_(Trelvix)_iphone.mp4");
  const fixtures::MediaSummary m = fixtures::ProbeFile(out);
  ASSERT_NE(m.Video(), nullptr);
  EXPECT_EQ(m.Video()->width, 480);
  EXPECT_EQ(m.Video()->height, 320);
  // 480x320 pixels shown 9:16.
  const AVRational sar = m.Video()->sar;
  ASSERT_GT(sar.num, 0);
  EXPECT_NEAR(480.0 * sar.num / (320.0 * sar.den), 9.0 / 16.0, 0.01);
  // The stored picture is in the output turned by the display matrix: turned back, every
  // picture reads; as it is, none does.
  const int frames = int(fixtures::DecodeVideoFrames(out).size());
  EXPECT_GE(frames, 49);
  EXPECT_EQ(ReadableWhenTurnedBack(out, GetParam()), frames);
  EXPECT_EQ(ReadableWhenTurnedBack(out, 0), 0);
}

TEST_P(CliPhoneClip, SubtitlesAreDrawnUprightAtTheBottom) {
  const std::string plain_dir = (tmp_.path() / "plain").string();
  fs::create_directory(plain_dir);
  const std::string plain_clip = plain_dir + "/phone.mp4";
  fs::copy_file(clip_, plain_clip);
  test::WriteFile(tmp_.File("phone.srt"),
                  "1\r\n00:00:00,500 --> 00:00:01,500\r\nW pionie, na dole\r\n\r\n");
  const CliResult with = Run({clip_, tmp_.File("phone.srt")});
  ASSERT_EQ(with.exit_code, 0) << with.err;
  const CliResult without = Run({"--no-auto-subtitles", plain_clip});
  ASSERT_EQ(without.exit_code, 0) << without.err;
  const std::string a = tmp_.File("phone_(Trelvix)_iphone.mp4");
  const std::string b = plain_dir + "/phone_(Trelvix)_iphone.mp4";
  // Drawn in the lower quarter of the upright picture, nothing in its upper half.
  EXPECT_GT(LowerQuarterDifference(a, b, 1000000), 3.0);
  EXPECT_LT(BandDifference(a, b, 1000000, 0.0, 0.5), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Turns, CliPhoneClip, ::testing::Values(90, 270));

}  // namespace
}  // namespace trelvix
