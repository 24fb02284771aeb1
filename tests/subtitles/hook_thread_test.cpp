// The burn-in handler on a conversion's worker thread while the main thread uses the subtitle
// switch and changes the options window's timetable (labelled "threads": run under TSan).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "runtime/application.h"
#include "subtitles/subtitle_hook.h"
#include "subtitles/subtitle_loader.h"

namespace trelvix::subtitles {
namespace {

TEST(HookThreads, RunsOnAWorkerThreadWhileTheSwitchIsUsed) {
  ASSERT_TRUE(runtime::EnsureGuiApplication());
  TSubtitleHook hook;
  hook.SetSubtitlesOn(true);
  TSubtitleTimetable t;
  t.Append("0", BannerText());
  t.Append(1000, "jeden");
  t.Append(2000, "dwa|trzy");
  hook.StartConversion(t, TSubtitleSettings{}, 25);
  std::atomic<bool> stopped{false};
  std::atomic<int> drawn{0};
  std::thread worker([&] {
    runtime::TBitmap frame(160, 120, runtime::TPixelFormat::pf24bit);
    for (int n = 0; n < 1000000 && !stopped; ++n) {
      bool stop = false;
      if (hook.Process(frame, int64_t(n) * 40000, n, stop)) ++drawn;
      if (stop) stopped = true;
    }
  });
  while (drawn == 0 && !stopped) std::this_thread::yield();
  // The options window may load another file meanwhile: the handler has its own copy.
  t.Clear();
  t.Append(0, "zmiana");
  hook.SetSubtitlesOn(false);
  worker.join();
  EXPECT_TRUE(stopped);
  EXPECT_GT(drawn.load(), 0);
}

}  // namespace
}  // namespace trelvix::subtitles
