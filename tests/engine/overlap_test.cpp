// Video encoding on its own thread: the same packets as encoding on the conversion thread, and
// stop, pause and a failing hook behave the same with it on and off.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_test_util.h"
#include "engine/ffmpeg_thread.h"
#include "runtime/ink_overlay.h"
#include "runtime/main_thread.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::TempDir;
using testing::ClipCache;
using testing::TestEngine;

class Overlap : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    testing::LoadLibraries();
    runtime::SetMainThread();
  }
  TempDir dir_;
};

const std::string& Clip() {
  fixtures::ClipSpec s = fixtures::Preset("mkv");
  s.seconds = 4;
  s.width = 640;
  s.height = 480;
  return ClipCache::Get().Clip("overlap.mkv", s);
}

struct Packet {
  int64_t pts = 0, dts = 0, duration = 0;
  int flags = 0;
  std::string data;
  bool operator==(const Packet&) const = default;
};

// Every packet of one media type, in stored order, with its bytes.
std::vector<Packet> PacketsOf(const std::string& path, AVMediaType type) {
  std::vector<Packet> out;
  AVFormatContext* raw = nullptr;
  if (ff::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return out;
  media::InputFormatPtr ic(raw);
  const int si = ff::av_find_best_stream(ic.get(), type, -1, -1, nullptr, 0);
  if (si < 0) return out;
  media::PacketPtr pkt = media::MakePacket();
  while (ff::av_read_frame(ic.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == si)
      out.push_back(
          {pkt->pts, pkt->dts, pkt->duration, pkt->flags,
           std::string(reinterpret_cast<const char*>(pkt->data), static_cast<size_t>(pkt->size))});
    ff::av_packet_unref(pkt.get());
  }
  return out;
}

void Configure(TestEngine& e, const std::string& out, bool overlap, bool hi) {
  ASSERT_TRUE(e.OpenInputFile(Clip())) << e.LastErrMsg();
  e.SetOverlapEncoding(overlap);
  e.SetOption("f", "ipod");
  e.SetOption("vcodec", "libx264");
  e.SetOption("acodec", "libfaac");
  e.SetOption("s", "480x320");
  e.SetOption("r", "25");
  e.SetOption("b", hi ? "600000" : "400000");
  e.SetOption("ab", "128000");
  e.SetOption("ac", "2");
  e.ApplyPreset("vpre", hi ? "default" : "fastfirstpass");
  e.SetSubtitleDisable(true);
  ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
}

void RunToEnd(TCustomFFmpeg& e) {
  TConvertThread* t = e.StartConvert(true);
  ASSERT_NE(t, nullptr);
  while (!e.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  e.Stop(true);
}

TEST(OverlapOutput, OnAndOffGiveTheSamePacketsAtHiAndLo) {
  testing::LoadLibraries();
  runtime::SetMainThread();
  TempDir dir;
  for (const bool hi : {true, false}) {
    SCOPED_TRACE(hi ? "Hi" : "Lo");
    std::vector<Packet> video[2], audio[2];
    for (const bool overlap : {false, true}) {
      const std::string out =
          dir.File(std::string(hi ? "hi" : "lo") + (overlap ? "_on" : "_off") + ".mp4");
      TestEngine e;
      Configure(e, out, overlap, hi);
      RunToEnd(e);
      ASSERT_TRUE(e.Finished()) << e.FatalMessage();
      video[overlap] = PacketsOf(out, AVMEDIA_TYPE_VIDEO);
      audio[overlap] = PacketsOf(out, AVMEDIA_TYPE_AUDIO);
    }
    ASSERT_EQ(video[0].size(), 100u);
    EXPECT_TRUE(video[1] == video[0]);
    ASSERT_FALSE(audio[0].empty());
    EXPECT_TRUE(audio[1] == audio[0]);
  }
}

// A ready overlay handed over by the input hook's query: a band of rows of fully and partly
// covering ink with gaps, laid by the engine onto the frames 20 to 60.
TEST(OverlapOutput, AnOverlayTheEngineLaysGivesTheSamePacketsOnAndOff) {
  testing::LoadLibraries();
  runtime::SetMainThread();
  TempDir dir;
  runtime::TInkOverlay overlay;
  overlay.Area = {100, 301, 540, 397};
  overlay.Serial = runtime::TInkOverlay::NewSerial();
  for (int y = 0; y < overlay.Area.Height(); ++y)
    for (int x = 0; x + 30 <= overlay.Area.Width(); x += 40) {
      const bool opaque = (x / 40 + y / 8) % 2 == 0;
      overlay.Spans.push_back({y, x, 30, int(overlay.Ink.size()), opaque});
      for (int i = 0; i < 30; ++i)
        overlay.Ink.push_back(opaque ? 0xFFFFFF00u : 0x80600000u + uint32_t(i));
    }
  std::vector<Packet> video[3];
  for (const int run : {0, 1, 2}) {  // overlap off, on; on without the overlay
    SCOPED_TRACE(run);
    const std::string out = dir.File("overlay" + std::to_string(run) + ".mp4");
    TestEngine e;
    Configure(e, out, run > 0, false);
    std::atomic<int> raised = 0;
    e.SetOnInputVideoHook(
        [&](runtime::TObject*, runtime::TBitmap*, int, int64_t, bool&, bool&) { ++raised; });
    e.SetOnInputVideoHookQuery(
        [&](runtime::TObject*, int w, int h, int n, int64_t, bool&) -> runtime::TDrawArea {
          EXPECT_EQ(w, 640);
          EXPECT_EQ(h, 480);
          if (run == 2 || n < 20 || n > 60) return {};
          return {overlay.Area, &overlay};
        });
    RunToEnd(e);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    EXPECT_EQ(raised, 0);
    video[run] = PacketsOf(out, AVMEDIA_TYPE_VIDEO);
  }
  ASSERT_EQ(video[0].size(), 100u);
  EXPECT_TRUE(video[1] == video[0]);
  EXPECT_FALSE(video[2] == video[0]);  // the overlay shows
}

TEST_P(Overlap, StopMidwayLeavesAReadableFileAndNoError) {
  const std::string out = dir_.File("stopped.mp4");
  TestEngine e;
  Configure(e, out, GetParam(), true);
  e.ReportInterval = 10000;
  std::atomic<int> frames = 0;
  e.SetOnProgress([&](runtime::TObject*, int, int frame, int, float, float, int64_t, int64_t,
                      int64_t) { frames = frame; });
  ASSERT_NE(e.StartConvert(true), nullptr);
  while (frames < 10) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  e.Stop(true);
  EXPECT_TRUE(e.Terminated());
  EXPECT_FALSE(e.Finished());
  EXPECT_FALSE(e.FatalException()) << e.FatalMessage();
  const size_t written = fixtures::DecodeVideoFrames(out).size();
  EXPECT_GE(written, 10u);
  EXPECT_LT(written, 100u);
}

TEST_P(Overlap, PauseHoldsTheOutputAndResumeFinishes) {
  const std::string out = dir_.File("paused.mp4");
  TestEngine e;
  Configure(e, out, GetParam(), false);
  e.ReportInterval = 10000;
  std::atomic<int> frames = 0;
  std::atomic<int64_t> bytes = 0;
  e.SetOnProgress(
      [&](runtime::TObject*, int, int frame, int, float, float, int64_t size, int64_t, int64_t) {
        frames = frame;
        bytes = size;
      });
  ASSERT_NE(e.StartConvert(true), nullptr);
  while (frames < 5) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  e.Pause();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const int held = frames;
  const int64_t held_bytes = bytes;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(frames, held);
  EXPECT_EQ(bytes, held_bytes);
  e.Resume();
  while (!e.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  e.Stop(true);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_EQ(fixtures::DecodeVideoFrames(out).size(), 100u);
}

TEST_P(Overlap, RaisingInputHookIsLoggedAndAskingToStopEndsTheCalls) {
  const std::string out = dir_.File("hook.mp4");
  TestEngine e;
  Configure(e, out, GetParam(), true);
  test::LogCapture log;
  log.Allow("Error occurs VideoHook event: ");
  std::atomic<int> calls = 0;
  e.SetOnInputVideoHook([&](runtime::TObject*, runtime::TBitmap*, int, int64_t, bool&, bool& stop) {
    if (++calls == 20) stop = true;
    if (calls == 10) throw std::runtime_error("boom");
  });
  RunToEnd(e);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_TRUE(log.Contains("Error occurs VideoHook event: boom"));
  EXPECT_EQ(calls, 20);  // a raising handler is called again; asking to stop ends the calls
  EXPECT_EQ(fixtures::DecodeVideoFrames(out).size(), 100u);
}

INSTANTIATE_TEST_SUITE_P(OnAndOff, Overlap, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

}  // namespace
}  // namespace trelvix::engine
