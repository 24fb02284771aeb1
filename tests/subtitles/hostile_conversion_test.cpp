// The headless converter with each hostile subtitle file and a 20 s film: a file with rows
// converts with exit 0 and every frame of the film in the output; a file with nothing to load,
// or refused, ends with a message naming it. A generous time-out only catches a hang.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fixtures/fixtures.h"
#include "hostile_files.h"
#include "support/temp_dir.h"

namespace trelvix::subtitles::test {
namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class HostileConversion : public ::testing::TestWithParam<HostileFile> {
 protected:
  static void SetUpTestSuite() {
    film_dir_ = new trelvix::test::TempDir;
    fixtures::MakeClip(film_dir_->File("film.mkv"), {.container = "mkv",
                                                     .video_codec = "mpeg4",
                                                     .audio_codec = "aac",
                                                     .width = 160,
                                                     .height = 120,
                                                     .seconds = 20.0});
  }
  static void TearDownTestSuite() {
    delete film_dir_;
    film_dir_ = nullptr;
  }
  static trelvix::test::TempDir* film_dir_;
};
trelvix::test::TempDir* HostileConversion::film_dir_ = nullptr;

TEST_P(HostileConversion, ConvertsA20SecondFilmOrSaysWhyNot) {
  const HostileFile& h = GetParam();
  trelvix::test::TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);  // the default subtitle settings
  const std::string film = dir.File("film.mkv");
  fs::copy_file(film_dir_->File("film.mkv"), film);
  const std::string subtitles =
      dir.File(std::string("film") + fs::path(h.file).extension().string());
  trelvix::test::WriteFile(subtitles, h.make());
  const std::string err = dir.File("stderr.txt");
  const std::string cmd = "timeout 240 " + Quote(TRELVIX_CLI) + " " + Quote(film) + " " +
                          Quote(subtitles) + " >/dev/null 2>" + Quote(err);
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  const int code = WEXITSTATUS(status);
  ASSERT_NE(code, 124) << "no end within 240 s";
  const std::string output = dir.File("film_(Trelvix)_iphone.mp4");
  if (h.outcome != HostileOutcome::kRows) {
    EXPECT_EQ(code, 1);
    EXPECT_NE(trelvix::test::ReadFile(err).find("Subtitles not loaded from " + subtitles),
              std::string::npos)
        << trelvix::test::ReadFile(err);
    EXPECT_FALSE(fs::exists(output));
    return;
  }
  ASSERT_EQ(code, 0) << trelvix::test::ReadFile(err);
  EXPECT_EQ(fixtures::DecodeVideoFrames(output).size(), 500u);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileConversion, ::testing::ValuesIn(HostileFiles()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace trelvix::subtitles::test
