// The program as a user runs it: trelvix-iphone under a private X server with a clip as its
// argument, real pointer clicks by xdotool, pictures of the window taken while it converts and
// after, and the finished file read back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/fixtures.h"
#include "support/temp_dir.h"

extern char** environ;

namespace trelvix::app::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The centres of the window's buttons (window coordinates).
constexpr int kStartX = 32 + 210 / 2, kStartY = 303 + 40 / 2;
constexpr int kCloseX = 216 + 27 / 2, kCloseY = 378 + 39 / 2;

std::string Run(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& log) {
  std::vector<char*> a, e;
  for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
  e.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, a[0], &fa, nullptr, a.data(), e.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Waits for the process to end; its exit status, or -1 when it is still running after timeout.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(50ms);
  }
  return -1;
}

class X11Session {
 public:
  X11Session() {
    for (int d = 200 + getpid() % 300; d < 1000; ++d) {
      if (fs::exists("/tmp/.X" + std::to_string(d) + "-lock")) continue;
      display_ = ":" + std::to_string(d);
      break;
    }
    server_ = Spawn({"Xvfb", display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
                    {"PATH=" + std::string(getenv("PATH"))}, dir_.File("xvfb.log"));
    for (int i = 0; i < 100 && !Ready(); ++i) std::this_thread::sleep_for(100ms);
  }
  ~X11Session() {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      WaitExit(server_, 5s);
    }
  }
  bool Ready() const {
    return std::system(("DISPLAY=" + display_ + " xdpyinfo >/dev/null 2>&1").c_str()) == 0;
  }
  const std::string& Display() const { return display_; }
  std::string X(const std::string& cmd) const { return Run("DISPLAY=" + display_ + " " + cmd); }

 private:
  test::TempDir dir_;
  std::string display_;
  pid_t server_ = -1;
};

std::string ScreenshotDir() {
  const char* bin = getenv("TRELVIX_TEST_BINARY_DIR");
  const fs::path dir = fs::path(bin ? bin : ".") / "screenshots" / "window";
  fs::create_directories(dir);
  return dir.string();
}

class WindowX11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!x_.Ready()) GTEST_SKIP() << "Xvfb did not start";
  }

  pid_t StartProgram(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {TRELVIX_WINDOW_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<std::string> env = {
        "DISPLAY=" + x_.Display(),
        "PATH=" + std::string(getenv("PATH")),
        "HOME=" + config_.path().string(),
        "XDG_CONFIG_HOME=" + config_.path().string(),
        "XDG_RUNTIME_DIR=" + config_.path().string(),
        "TRELVIX_UPDATE_HOST=127.0.0.1:9",
        "SDL_AUDIODRIVER=dummy",
        "QT_QPA_PLATFORM=xcb",
        "LANG=en_US.UTF-8",
    };
    program_ = Spawn(argv, env, dir_.File("program.log"));
    return program_;
  }
  // The program's visible window, empty when none appeared.
  std::string WindowId() {
    for (int i = 0; i < 100; ++i) {
      const std::string id =
          x_.X("xdotool search --onlyvisible --pid " + std::to_string(program_) + " | head -n1");
      if (!id.empty()) return id;
      std::this_thread::sleep_for(200ms);
    }
    return {};
  }
  void ClickAt(const std::string& wid, int x, int y) {
    x_.X("xdotool mousemove --window " + wid + " " + std::to_string(x) + " " + std::to_string(y) +
         " sleep 0.2 click 1");
  }
  // A picture of the window's rectangle, saved under the build folder; null when it failed.
  QImage Shot(const std::string& wid, const std::string& name) {
    const std::string geometry =
        x_.X("xwininfo -id " + wid +
             " | awk '/Absolute upper-left X:/{x=$4} /Absolute upper-left Y:/{y=$4} /Width:/{w=$2} "
             "/Height:/{h=$2} END{print w\"x\"h\"+\"x\"+\"y}'");
    const std::string file = ScreenshotDir() + "/" + name + ".png";
    x_.X("import -window root -crop " + geometry + " +repage " + file);
    return QImage(QString::fromStdString(file));
  }
  void TearDown() override {
    if (program_ > 0 && WaitExit(program_, 0ms) < 0) {
      kill(program_, SIGKILL);
      WaitExit(program_, 5s);
    }
  }

  test::TempDir dir_, config_;
  X11Session x_;
  pid_t program_ = -1;
};

bool Finished(const std::string& output, int64_t min_duration_us) {
  try {
    const fixtures::MediaSummary s = fixtures::ProbeFile(output);
    return s.Video() && s.duration_us >= min_duration_us;
  } catch (const std::exception&) {
    return false;
  }
}

TEST_F(WindowX11Test, AClickOnConvertMakesTheIPhoneFile) {
  const std::string clip = dir_.File("holiday.mkv");
  fixtures::ClipSpec spec = fixtures::Preset("mkv");
  spec.seconds = 60;  // long enough to be seen converting for several seconds
  spec.width = 640;
  spec.height = 360;
  fixtures::MakeClip(clip, spec);
  const std::string output = dir_.File("holiday_(Trelvix)_iphone.mp4");

  ASSERT_GT(StartProgram({clip}), 0);
  const std::string wid = WindowId();
  ASSERT_FALSE(wid.empty()) << "no window appeared";
  std::this_thread::sleep_for(1500ms);
  const QImage loaded = Shot(wid, "1-loaded");
  ASSERT_FALSE(loaded.isNull());
  EXPECT_EQ(loaded.size(), QSize(271, 500));

  ClickAt(wid, kStartX, kStartY);
  // While converting: the percentage rises and, after two statistics ticks, the remaining time
  // shows; preview frames move.
  std::this_thread::sleep_for(7s);
  const QImage during1 = Shot(wid, "2-converting");
  std::this_thread::sleep_for(1500ms);
  const QImage during2 = Shot(wid, "3-converting-later");
  ASSERT_FALSE(during1.isNull());
  ASSERT_FALSE(during2.isNull());
  const QRect preview(25, 96, 223, 128);
  EXPECT_NE(during1.copy(preview), during2.copy(preview)) << "the preview frames do not move";

  const auto end = std::chrono::steady_clock::now() + 120s;
  while (!Finished(output, 59'000'000) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(500ms);
  std::this_thread::sleep_for(1s);
  const QImage done = Shot(wid, "4-finished");
  const fixtures::MediaSummary s = fixtures::ProbeFile(output);
  ASSERT_NE(s.Video(), nullptr);
  EXPECT_EQ(s.Video()->width, 480);
  EXPECT_EQ(s.Video()->height, 320);
  EXPECT_EQ(s.Video()->codec, "h264");
  ASSERT_NE(s.Audio(), nullptr);
  EXPECT_EQ(s.Audio()->codec, "aac");
  EXPECT_NEAR(s.duration_us, 60'000'000, 200'000);

  // The close button ends the program.
  ClickAt(wid, kCloseX, kCloseY);
  EXPECT_EQ(WaitExit(program_, 20s), 0);
  program_ = -1;
}

}  // namespace
}  // namespace trelvix::app::testing
