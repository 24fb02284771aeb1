// Whole conversions: the iPhone settings on several kinds of input, the worker thread and its
// control, hooks, synchronisation and audio rules, and failures from real causes.
#include <gtest/gtest.h>

#include <algorithm>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "engine/engine_test_util.h"
#include "engine/ffmpeg_thread.h"
#include "engine/preview_window.h"
#include "runtime/bitmap.h"
#include "runtime/main_thread.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using test::TempDir;
using testing::ClipCache;
using testing::TestEngine;

class Convert : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::LoadLibraries();
    runtime::SetMainThread();
  }
  TempDir dir_;
};

// The iPhone settings as the output profile gives them (Hi or Lo).
void IPhoneOutput(TCustomFFmpeg& e, const std::string& out, bool hi = true) {
  e.SetOption("f", "ipod");
  e.SetOption("vcodec", "libx264");
  e.SetOption("acodec", "libfaac");
  e.SetOption("s", "480x320");
  e.SetOption("r", "25");
  e.SetOption("b", hi ? "600000" : "400000");
  e.SetOption("bt", hi ? "250000" : "96000");
  e.SetOption("ab", hi ? "128000" : "96000");
  e.SetOption("ac", "2");
  e.ApplyPreset("vpre", hi ? "default" : "fastfirstpass");
  e.SetSubtitleDisable(true);
  ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
}

// Starts a worker and waits for the end of the job.
void RunThreaded(TCustomFFmpeg& e) {
  TConvertThread* t = e.StartConvert(true);
  ASSERT_NE(t, nullptr);
  t->Start();
  while (!e.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  e.Stop(true);  // joins the worker
}

// Luma planes of every frame of the first video stream (decoded with the library).
std::vector<std::vector<uint8_t>> ReadLuma(const std::string& path, int* w, int* h) {
  std::vector<std::vector<uint8_t>> out;
  fixtures::ForEachVideoPicture(path, [&](const AVFrame& f) {
    *w = f.width;
    *h = f.height;
    std::vector<uint8_t> y(static_cast<size_t>(f.width) * f.height);
    for (int r = 0; r < f.height; ++r)
      std::memcpy(&y[static_cast<size_t>(r) * f.width], f.data[0] + r * f.linesize[0], f.width);
    out.push_back(std::move(y));
  });
  return out;
}

// --- The iPhone settings on several kinds of input ---

struct Kind {
  const char* name;
  fixtures::ClipSpec spec;
};

class IPhoneKinds : public Convert, public ::testing::WithParamInterface<int> {};

std::vector<Kind> Kinds() {
  std::vector<Kind> k;
  auto add = [&](const char* name, fixtures::ClipSpec s) {
    s.seconds = 1.2;
    k.push_back({name, s});
  };
  add("mkv_h264_aac", fixtures::Preset("mkv"));
  add("avi_mpeg4_mp2", fixtures::Preset("avi"));
  add("mov_mpeg4_pcm", fixtures::Preset("mov"));
  add("ts_mpeg2_mp2", fixtures::Preset("mpegts"));
  fixtures::ClipSpec wide = fixtures::Preset("mp4");
  wide.width = 640;
  wide.height = 360;
  wide.sample_rate = 48000;
  add("mp4_h264_aac_48k", wide);
  return k;
}

TEST_P(IPhoneKinds, GivesH264At480x320And25FpsWithAacStereo) {
  const Kind kind = Kinds()[GetParam()];
  const std::string in = ClipCache::Get().Clip(std::string(kind.name) + ".in", kind.spec);
  const std::string out = dir_.File(std::string(kind.name) + "_iphone.mp4");
  LogCapture log;
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(in)) << e.LastErrMsg();
  IPhoneOutput(e, out);
  RunThreaded(e);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_FALSE(e.FatalException());

  const fixtures::MediaSummary src = fixtures::ProbeFile(in);
  const fixtures::MediaSummary m = fixtures::ProbeFile(out);
  const fixtures::StreamSummary* v = m.Video();
  const fixtures::StreamSummary* a = m.Audio();
  ASSERT_NE(v, nullptr);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(v->codec, "h264");
  EXPECT_EQ(v->width, 480);
  EXPECT_EQ(v->height, 320);
  EXPECT_EQ(av_q2d(v->frame_rate), 25.0);
  EXPECT_EQ(a->codec, "aac");
  EXPECT_EQ(a->channels, 2);
  const int64_t frame_us = 40000;
  const int64_t src_video =
      src.Video()->duration_us != fixtures::kNoTime ? src.Video()->duration_us : src.duration_us;
  EXPECT_NEAR(static_cast<double>(v->duration_us), static_cast<double>(src_video), frame_us);
  EXPECT_NEAR(static_cast<double>(m.FirstVideoUs()), static_cast<double>(m.FirstAudioUs()),
              frame_us);

  const auto frames = fixtures::DecodeVideoFrames(out);
  ASSERT_EQ(static_cast<int>(frames.size()), fixtures::FrameCount(kind.spec));
  for (size_t i = 0; i < frames.size(); ++i)
    EXPECT_EQ(frames[i].number, static_cast<int>(i)) << "frame " << i;
  const auto audio = fixtures::DecodeAudio(out);
  EXPECT_NEAR(audio.dominant_hz, kind.spec.tone_hz, 5.0);
  EXPECT_NEAR(audio.duration_s, 1.2, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, IPhoneKinds, ::testing::Range(0, 5),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return std::string(Kinds()[p.param].name);
                         });

TEST_F(Convert, LoSettingsWithoutThreadConvertToo) {
  const std::string out = dir_.File("lo.mp4");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip())) << e.LastErrMsg();
  IPhoneOutput(e, out, false);
  std::atomic<int> terminated = 0;
  e.SetOnTerminate([&](runtime::TObject*) { ++terminated; });
  EXPECT_EQ(e.StartConvert(false), nullptr);
  EXPECT_EQ(terminated, 1);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_EQ(static_cast<int>(fixtures::DecodeVideoFrames(out).size()), 25);
}

// --- Control ---

const std::string& LongClip() {
  fixtures::ClipSpec s = fixtures::Preset("mkv");
  s.seconds = 8;
  s.width = 640;
  s.height = 480;
  return ClipCache::Get().Clip("long.mkv", s);
}

TEST_F(Convert, StopEndsUnfinishedWithAReadableFile) {
  const std::string out = dir_.File("stopped.mp4");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(LongClip()));
  IPhoneOutput(e, out);
  e.ReportInterval = 10000;
  std::atomic<int> frames = 0;
  e.SetOnProgress([&](runtime::TObject*, int, int frame, int, float, float, int64_t, int64_t,
                      int64_t) { frames = frame; });
  TConvertThread* t = e.StartConvert(true);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(e.StartConvert(true), nullptr);  // a second start changes nothing
  t->Start();
  while (frames < 10) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  e.Stop(true);
  EXPECT_TRUE(e.Terminated());
  EXPECT_FALSE(e.Finished());
  EXPECT_FALSE(e.FatalException()) << e.FatalMessage();
  const auto decoded = fixtures::DecodeVideoFrames(out);
  EXPECT_GE(static_cast<int>(decoded.size()), 10);
  EXPECT_LT(static_cast<int>(decoded.size()), 200);
  EXPECT_EQ(fixtures::ProbeFile(out).Video()->width, 480);
}

TEST_F(Convert, PauseHoldsProgressAndResumeContinues) {
  const std::string out = dir_.File("paused.mp4");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(LongClip()));
  IPhoneOutput(e, out, false);
  e.ReportInterval = 10000;
  std::atomic<int> frames = 0;
  e.SetOnProgress([&](runtime::TObject*, int, int frame, int, float, float, int64_t, int64_t,
                      int64_t) { frames = frame; });
  TConvertThread* t = e.StartConvert(true);
  ASSERT_NE(t, nullptr);
  t->Start();
  while (frames < 5) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  e.Pause();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const int held = frames;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(frames, held);
  e.Resume();
  while (!e.Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  e.Stop(true);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_EQ(static_cast<int>(fixtures::DecodeVideoFrames(out).size()), 200);
}

TEST_F(Convert, StopWithWaitServesTheMainThreadQueue) {
  const std::string out = dir_.File("sync.mp4");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(LongClip()));
  IPhoneOutput(e, out, false);
  e.ReportInterval = 1000;
  std::atomic<int> calls = 0;
  std::atomic<bool> entered = false;
  e.SetOnProgress([&](runtime::TObject*, int, int, int, float, float, int64_t, int64_t, int64_t) {
    entered = true;
    runtime::CallInMainThread([&] { ++calls; });
  });
  TConvertThread* t = e.StartConvert(true);
  ASSERT_NE(t, nullptr);
  // Once the first report is under way the worker waits for the main thread.
  while (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  e.Stop(true);  // would never return if it did not run the worker's main-thread calls
  EXPECT_TRUE(e.Terminated());
  EXPECT_GE(calls, 1);
}

TEST_F(Convert, MissingFilesAreReportedThroughOnTerminateWithoutAThread) {
  struct Case {
    bool input, output;
    const char* text;
  } cases[] = {{true, false, "At least one output file must be specified"},
               {false, true, "At least one input file must be specified"}};
  for (const Case& c : cases) {
    LogCapture log;
    log.Allow("At least one");  // logged at quiet level, always shown
    TestEngine e;
    if (c.input) {
      ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
    }
    if (c.output) {
      ASSERT_GT(e.OpenOutputFile(dir_.File("x.avi")), 0) << e.LastErrMsg();
    }
    std::thread::id where;
    e.SetOnTerminate([&](runtime::TObject*) { where = std::this_thread::get_id(); });
    EXPECT_EQ(e.StartConvert(true), nullptr);
    EXPECT_EQ(where, std::this_thread::get_id());
    EXPECT_TRUE(e.FatalException());
    EXPECT_EQ(e.FatalMessage(), c.text);
    EXPECT_TRUE(log.Contains(c.text));
  }
}

TEST_F(Convert, ProgressEndsWithTheFinalReport) {
  const std::string out = dir_.File("audio.m4a");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AudioOnlyClip()));
  e.SetOption("acodec", "aac");
  ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  std::vector<std::array<double, 5>> reports;
  e.SetOnProgress([&](runtime::TObject*, int file, int frame, int fps, float q, float, int64_t size,
                      int64_t dur, int64_t) {
    reports.push_back({double(file), double(frame), double(fps), q, double(dur)});
    (void)size;
  });
  e.StartConvert(false);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  ASSERT_FALSE(reports.empty());
  const auto& last = reports.back();
  EXPECT_EQ(last[0], -1);
  EXPECT_EQ(last[1], -1);  // audio only: no frame number, fps or quality
  EXPECT_EQ(last[2], -1);
  EXPECT_EQ(last[3], -1.0);
  EXPECT_NEAR(last[4], 1000000, 60000);
}

// --- Video hooks ---

// A raw-video copy of the clip (exact pixels), optionally through an input hook.
std::vector<std::vector<uint8_t>> RawThroughHook(const TempDir& dir, const std::string& name,
                                                 TVideoHookEvent hook) {
  const std::string out = dir.File(name);
  TestEngine e;
  EXPECT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
  e.SetOption("vcodec", "rawvideo");
  EXPECT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  if (hook) e.SetOnInputVideoHook(std::move(hook));
  RunThreaded(e);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  int w = 0, h = 0;
  return ReadLuma(out, &w, &h);
}

TEST_F(Convert, InputHookChangesExactlyTheDrawnPixels) {
  const auto plain = RawThroughHook(
      dir_, "plain.avi", [](runtime::TObject*, runtime::TBitmap*, int, int64_t, bool&, bool&) {});
  const int x0 = 40, y0 = 20, x1 = 120, y1 = 60;  // even corners
  std::atomic<int> calls = 0;
  const auto drawn = RawThroughHook(
      dir_, "drawn.avi", [&](runtime::TObject*, runtime::TBitmap* b, int n, int64_t, bool&, bool&) {
        EXPECT_EQ(n, calls + 1);
        ++calls;
        EXPECT_EQ(b->BitsPerPixel(), 24);
        for (int y = y0; y < y1; ++y) {
          uint8_t* row = b->ScanLine(y);
          for (int x = x0; x < x1; ++x) {
            row[3 * x] = 200;
            row[3 * x + 1] = 30;
            row[3 * x + 2] = 90;
          }
        }
      });
  ASSERT_EQ(plain.size(), 25u);
  ASSERT_EQ(drawn.size(), 25u);
  EXPECT_EQ(calls, 25);
  for (size_t f = 0; f < plain.size(); ++f) {
    int inside_changed = 0, outside_changed = 0;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) {
        const bool changed = plain[f][y * 320 + x] != drawn[f][y * 320 + x];
        const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
        (inside ? inside_changed : outside_changed) += changed;
      }
    EXPECT_EQ(outside_changed, 0) << "frame " << f;
    EXPECT_GT(inside_changed, (x1 - x0) * (y1 - y0) / 2) << "frame " << f;
  }
}

TEST_F(Convert, StopHookEndsTheCallsAndARaisingHandlerLeavesTheFrame) {
  std::atomic<int> calls = 0;
  RawThroughHook(dir_, "stop.avi",
                 [&](runtime::TObject*, runtime::TBitmap*, int, int64_t, bool&, bool& stop) {
                   stop = ++calls == 3;
                 });
  EXPECT_EQ(calls, 3);

  // Without a hook the pixels go through unchanged; a raising handler gives the same pixels.
  const std::string out = dir_.File("none.avi");
  std::vector<std::vector<uint8_t>> none;
  {
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
    e.SetOption("vcodec", "rawvideo");
    ASSERT_GT(e.OpenOutputFile(out), 0);
    e.StartConvert(false);
    int w, h;
    none = ReadLuma(out, &w, &h);
  }
  LogCapture log;
  log.Allow("Error occurs VideoHook event: ");
  const auto raised = RawThroughHook(
      dir_, "raised.avi", [&](runtime::TObject*, runtime::TBitmap* b, int, int64_t, bool&, bool&) {
        std::memset(b->ScanLine(0), 0, b->BytesPerLine());
        throw std::runtime_error("boom");
      });
  EXPECT_TRUE(log.Contains("Error occurs VideoHook event: boom"));
  ASSERT_EQ(raised.size(), none.size());
  EXPECT_EQ(raised, none);
}

TEST_F(Convert, FrameHookLibraryProcessesEveryPicture) {
  const std::string out = dir_.File("vhook.avi");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
  e.SetOption("vhook", TRELVIX_COUNT_HOOK);
  e.SetOption("vcodec", "rawvideo");
  ASSERT_GT(e.OpenOutputFile(out), 0);
  void* lib = dlopen(TRELVIX_COUNT_HOOK, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  auto count = reinterpret_cast<int (*)()>(dlsym(lib, "CountHookProcessed"));
  ASSERT_NE(count, nullptr);
  const int before = count();
  e.StartConvert(false);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_EQ(count() - before, 25);
  int w = 0, h = 0;
  const auto luma = ReadLuma(out, &w, &h);
  ASSERT_FALSE(luma.empty());
  EXPECT_EQ(luma[0][0], 235);
  EXPECT_EQ(luma[0][15 * w + 15], 235);
  dlclose(lib);
}

TEST_F(Convert, FilterGraphSetsTheEncodedPicture) {
  struct Case {
    const char* filters;
    int width, height;
    const char* failure;
  } cases[] = {{"crop=160:120:0:0", 160, 120, nullptr},
               {"hflip,vflip", 320, 240, nullptr},
               {"nosuchfilter", 0, 0, "Error opening filters: "}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filters);
    LogCapture log;
    log.Allow("No such filter|Error opening filters|nosuchfilter");
    const std::string out = dir_.File("filtered.avi");
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
    e.SetOption("vcodec", "mpeg4");
    e.SetOption("vf", c.filters);
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    e.StartConvert(false);
    if (c.failure) {
      EXPECT_TRUE(e.FatalException());
      EXPECT_EQ(e.FatalMessage().rfind(c.failure, 0), 0u) << e.FatalMessage();
      continue;
    }
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    const fixtures::MediaSummary m = fixtures::ProbeFile(out);
    EXPECT_EQ(m.Video()->width, c.width);
    EXPECT_EQ(m.Video()->height, c.height);
    const auto frames = fixtures::DecodeVideoFrames(out);
    EXPECT_EQ(frames.size(), 25u);
    if (c.width == 320) {
      // A picture turned half way round still shows its pattern (read upside down it is not
      // valid), so the number is unreadable while the frame count stays.
      for (const auto& f : frames) EXPECT_EQ(f.number, -1);
    }
  }
}

TEST_F(Convert, RecordingTimeEndsEachStreamWithTheTrailerWritten) {
  const std::string out = dir_.File("short.mp4");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(LongClip()));
  e.SetOption("t", "0.5");
  IPhoneOutput(e, out, false);
  e.StartConvert(false);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  const auto frames = fixtures::DecodeVideoFrames(out);
  EXPECT_NEAR(static_cast<int>(frames.size()), 13, 1);
  EXPECT_NEAR(fixtures::DecodeAudio(out).duration_s, 0.5, 0.06);
}

TEST_F(Convert, VideoStatisticsGetOneLinePerEncodedFrame) {
  const std::string out = dir_.File("stats.mp4");
  const std::string stats = dir_.File("stats.log");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(LongClip()));
  e.SetOption("t", "0.5");
  e.SetOption("vstats_file", stats);
  IPhoneOutput(e, out, false);
  e.StartConvert(false);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  const std::string text = test::ReadFile(stats);
  const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  EXPECT_EQ(lines, fixtures::DecodeVideoFrames(out).size());
  EXPECT_EQ(text.rfind("frame=     1 q= ", 0), 0u) << text.substr(0, 200);
  for (const char* field :
       {" f_size= ", " s_size= ", "kB time= ", " br= ", " avg_br= ", " type= I\n"})
    EXPECT_NE(text.find(field), std::string::npos) << field;
}

TEST_F(Convert, VideoStatisticsFileThatCannotBeOpenedEndsTheRun) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(LongClip()));
  e.SetOption("t", "0.2");
  const std::string stats = dir_.File("no-such-folder/stats.log");
  e.SetOption("vstats_file", stats);
  IPhoneOutput(e, dir_.File("stats.mp4"), false);
  LogCapture log;
  log.Allow("fopen fail");
  e.StartConvert(false);
  EXPECT_FALSE(e.Finished());
  EXPECT_TRUE(e.FatalException());
  EXPECT_EQ(e.FatalMessage(), "fopen fail: " + stats);
}

TEST_F(Convert, TwoPassEncodingWritesAndReadsItsLog) {
  const std::string prefix = dir_.File("twopass");
  const std::string out = dir_.File("twopass.avi");
  for (const char* pass : {"1", "2"}) {
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
    e.SetOption("t", "1");
    e.SetOption("an", "");
    e.SetOption("vcodec", "mpeg4");
    e.SetOption("b", "200000");
    e.SetOption("pass", pass);
    e.SetOption("passlogfile", prefix);
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    e.StartConvert(false);
    ASSERT_TRUE(e.Finished()) << "pass " << pass << ": " << e.FatalMessage();
    // The first pass leaves the encoder's statistics for the second.
    if (std::string(pass) == "1") {
      EXPECT_GT(test::ReadFile(prefix + "-0.log").size(), 100u);
    }
  }
  const auto frames = fixtures::DecodeVideoFrames(out);
  ASSERT_EQ(frames.size(), 25u);
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].number, static_cast<int>(i));
}

TEST_F(Convert, SecondPassWithoutALogFails) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
  e.SetOption("an", "");
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("pass", "2");
  e.SetOption("passlogfile", dir_.File("missing"));
  ASSERT_GT(e.OpenOutputFile(dir_.File("pass2.avi")), 0) << e.LastErrMsg();
  LogCapture log;
  log.Allow("log file");
  e.StartConvert(false);
  EXPECT_FALSE(e.Finished());
  EXPECT_NE(e.FatalMessage().find(dir_.File("missing") + "-0.log"), std::string::npos)
      << e.FatalMessage();
}

TEST_F(Convert, JoinContinuesTheStreamsWithTheNextInput) {
  fixtures::ClipSpec second = fixtures::Preset("mkv");
  second.seconds = 1.0;
  second.first_number = 100;
  const std::string b = ClipCache::Get().Clip("second.mkv", second);
  const std::string out = dir_.File("joined.mp4");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
  ASSERT_TRUE(e.OpenInputFile(b));
  e.SetOption("vcodec", "libx264");
  e.SetOption("acodec", "aac");
  ASSERT_EQ(e.OpenOutputFile(out, true), 2) << e.LastErrMsg();
  e.StartConvert(false);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  // The second input starts where the longest stream of the first ended (its audio, a little
  // after the last picture), so the seam may repeat one picture.
  const auto frames = fixtures::DecodeVideoFrames(out);
  ASSERT_GE(frames.size(), 50u);
  ASSERT_LE(frames.size(), 51u);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(frames[i].number, i) << i;
  const size_t tail = frames.size() - 25;
  for (size_t i = tail; i < frames.size(); ++i)
    EXPECT_EQ(frames[i].number, static_cast<int>(100 + i - tail)) << i;
  EXPECT_NEAR(fixtures::DecodeAudio(out).duration_s, 2.0, 0.1);
}

// --- Synchronisation and audio rules ---

TEST_F(Convert, SyncMethodOneDuplicatesAboutOneFrameInSix) {
  const std::string out = dir_.File("ntsc.avi");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));  // 25 frames at 25 fps
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("r", "30000/1001");
  e.SetOption("vsync", "1");
  ASSERT_GT(e.OpenOutputFile(out), 0);
  e.StartConvert(false);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_NEAR(e.FramesDuplicated(), 5, 1);
  EXPECT_EQ(e.FramesDropped(), 0);
  const auto frames = fixtures::DecodeVideoFrames(out);
  EXPECT_NEAR(static_cast<int>(frames.size()), 30, 1);
  int repeated = 0;
  for (size_t i = 1; i < frames.size(); ++i) {
    EXPECT_GE(frames[i].number, frames[i - 1].number);
    EXPECT_LE(frames[i].number, frames[i - 1].number + 1);
    repeated += frames[i].number == frames[i - 1].number;
  }
  EXPECT_NEAR(repeated, 5, 1);
}

struct AudioResult {
  fixtures::DecodedAudio audio;
  bool finished = false;
};

AudioResult ConvertAudio(const TempDir& dir, const std::string& in, const std::string& name,
                         const std::vector<std::pair<std::string, std::string>>& options) {
  const std::string out = dir.File(name);
  TestEngine e;
  EXPECT_TRUE(e.OpenInputFile(in));
  for (const auto& [k, v] : options) e.SetOption(k, v);
  EXPECT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  e.StartConvert(false);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  return {fixtures::DecodeAudioMono(out), e.Finished()};
}

double Peak(const std::vector<float>& s, size_t from, size_t to) {
  double p = 0;
  for (size_t i = from; i < to && i < s.size(); ++i) p = std::max(p, std::fabs(double(s[i])));
  return p;
}

TEST_F(Convert, VolumeDoublesAndClips) {
  struct Case {
    double amplitude, expected_peak;
  } cases[] = {{0.3, 0.6}, {0.8, 1.0}};
  for (const Case& c : cases) {
    fixtures::ClipSpec s = fixtures::AudioOnly("mov", "pcm_s16le");
    s.seconds = 0.5;
    s.amplitude = c.amplitude;
    const std::string in = ClipCache::Get().Clip("tone" + std::to_string(c.amplitude) + ".mov", s);
    const AudioResult r =
        ConvertAudio(dir_, in, "vol.wav", {{"acodec", "pcm_s16le"}, {"vol", "512"}});
    const auto& m = r.audio.mono;
    EXPECT_NEAR(Peak(m, m.size() / 4, m.size() * 3 / 4), c.expected_peak, 0.01)
        << "amplitude " << c.amplitude;
  }
}

TEST_F(Convert, ResamplingKeepsTheLength) {
  fixtures::ClipSpec s = fixtures::AudioOnly("mkv", "aac");
  s.sample_rate = 48000;
  s.seconds = 1.0;
  const std::string in = ClipCache::Get().Clip("a48k.mkv", s);
  const AudioResult r =
      ConvertAudio(dir_, in, "a441.wav", {{"acodec", "pcm_s16le"}, {"ar", "44100"}});
  EXPECT_EQ(r.audio.sample_rate, 44100);
  EXPECT_NEAR(r.audio.Seconds(), 1.0, 0.03);
  EXPECT_NEAR(fixtures::DominantFrequency(r.audio.mono.data(), r.audio.mono.size(), 44100), 440, 2);
}

TEST_F(Convert, LateAudioGetsSilenceWithAudioSync) {
  fixtures::ClipSpec s = fixtures::Preset("mkv");
  s.audio_codec = "pcm_s16le";
  s.seconds = 1.0;
  s.audio_start_delay = 0.5;
  const std::string in = ClipCache::Get().Clip("late.mkv", s);
  LogCapture log;
  const std::string out = dir_.File("late.mkv");
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(in));
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("acodec", "pcm_s16le");
  e.SetOption("async", "1");
  e.SetVerbose(3);
  ASSERT_GT(e.OpenOutputFile(out), 0);
  e.StartConvert(false);
  ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  EXPECT_TRUE(log.Contains("audio samples of silence"));
  const fixtures::DecodedAudio a = fixtures::DecodeAudioMono(out);
  EXPECT_NEAR(a.Seconds(), 1.0, 0.05);
  const size_t half = a.mono.size() / 2;
  EXPECT_LT(Peak(a.mono, 0, half - 2000), 0.01);
  EXPECT_GT(Peak(a.mono, half + 2000, a.mono.size()), 0.3);
}

// --- Failures from real causes ---

TEST_F(Convert, FailureTexts) {
  struct Case {
    const char* name;
    std::function<void(TestEngine&, const std::string&)> setup;
    const char* text;
  } cases[] = {
      {"video from audio only",
       [](TestEngine& e, const std::string& out) {
         e.SetOption("vn", "");
         ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
         e.SetVideoDisable(false);
         ASSERT_GT(e.OpenOutputFile(out + ".avi"), 0) << e.LastErrMsg();
       },
       "Could not find input stream matching output stream #0.0 (Video)"},
      {"encoder cannot open",
       [](TestEngine& e, const std::string& out) {
         ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
         e.SetOption("vcodec", "libx264");
         e.SetOption("s", "322x242");
         e.SetOption("pix_fmt", "yuv420p");
         e.SetOption("level", "1");
         e.SetOption("b", "1");
         ASSERT_GT(e.OpenOutputFile(out + ".mkv"), 0) << e.LastErrMsg();
         e.Stream(0, 0).codec->width = 1;  // libx264 refuses a 1-pixel-wide picture
       },
       "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect "
       "parameters such as bit_rate, rate, width or height. Please check error log message to "
       "find out more detail information."},
      {"file cannot be written",
       [](TestEngine& e, const std::string&) {
         ASSERT_TRUE(e.OpenInputFile(testing::AvClip()));
         e.SetOption("f", "avi");
         ASSERT_GT(e.OpenOutputFile("/dev/full"), 0) << e.LastErrMsg();
       },
       // Written through the muxer's buffer, the failure shows when it is flushed.
       "Error number -28 occurred: No space left on device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    log.Allow(".");
    TestEngine e;
    c.setup(e, dir_.File("fail"));
    std::atomic<int> terminated = 0;
    e.SetOnTerminate([&](runtime::TObject*) { ++terminated; });
    RunThreaded(e);
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(e.Finished());
    EXPECT_TRUE(e.FatalException());
    EXPECT_NE(e.FatalMessage().find(c.text), std::string::npos) << e.FatalMessage();
  }
}

// --- Deinterlacing, the preview window and RTP outputs ---

// Largest luma step between neighbouring lines inside the rectangle.
int LargestLineStep(const std::vector<uint8_t>& y, int w, int x0, int y0, int x1, int y1) {
  int step = 0;
  for (int r = y0; r + 1 < y1; ++r)
    for (int x = x0; x < x1; ++x)
      step = std::max(step, std::abs(int(y[r * w + x]) - int(y[(r + 1) * w + x])));
  return step;
}

TEST_F(Convert, DeinterlaceSmoothsCombedLinesBeforeTheFrameHooks) {
  // A combed picture: every other line of a block drawn black on white, kept exact in raw video.
  // The block lies between the rows where the frame number is read.
  const int x0 = 64, y0 = 46, x1 = 192, y1 = 72;
  const std::string combed = dir_.File("combed.avi");
  {
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
    e.SetOption("vcodec", "rawvideo");
    ASSERT_GT(e.OpenOutputFile(combed), 0) << e.LastErrMsg();
    e.SetOnInputVideoHook([&](runtime::TObject*, runtime::TBitmap* b, int, int64_t, bool&, bool&) {
      for (int y = y0; y < y1; ++y)
        std::memset(b->ScanLine(y) + 3 * x0, y % 2 ? 0 : 255, 3 * (x1 - x0));
    });
    RunThreaded(e);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
  }
  int w = 0, h = 0;
  const auto before = ReadLuma(combed, &w, &h);
  ASSERT_EQ(before.size(), 25u);
  EXPECT_GT(LargestLineStep(before[0], w, x0, y0, x1, y1), 150);

  for (const bool with_frame_hook : {false, true}) {
    SCOPED_TRACE(with_frame_hook ? "with a frame-hook library" : "alone");
    const std::string out = dir_.File(with_frame_hook ? "deint_hook.avi" : "deint.avi");
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(combed));
    e.SetOption("deinterlace", "1");
    if (with_frame_hook) e.SetOption("vhook", TRELVIX_COUNT_HOOK);
    e.SetOption("vcodec", "rawvideo");
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    LogCapture log;
    e.StartConvert(false);
    ASSERT_TRUE(e.Finished()) << e.FatalMessage();
    const auto after = ReadLuma(out, &w, &h);
    ASSERT_EQ(after.size(), before.size());
    for (size_t f = 0; f < after.size(); ++f) {
      // The comb is gone (the block's inner lines are one level), the frame numbers remain.
      EXPECT_LT(LargestLineStep(after[f], w, x0, y0 + 2, x1, y1 - 2), 16) << "frame " << f;
      EXPECT_EQ(fixtures::ReadFrameNumber(after[f].data(), w, w, h), static_cast<int>(f));
    }
    // The library ran on the deinterlaced picture: its white block is exact.
    EXPECT_EQ(after[0][0] == 235 && after[0][15 * w + 15] == 235, with_frame_hook);
  }
}

// A preview window for the tests: counts its frames and reports "closed" after `open_frames`.
struct CountingWindow : TPreviewWindow {
  CountingWindow(std::atomic<int>& painted, std::atomic<int>& alive, int open_frames)
      : painted(painted), alive(alive), open_frames(open_frames) {
    ++alive;
  }
  ~CountingWindow() override { --alive; }
  bool PaintFrame(runtime::TBitmap* b, int frame_number, int64_t) override {
    EXPECT_EQ(b->Width(), 320);
    EXPECT_GT(frame_number, 0);
    return ++painted < open_frames;
  }
  std::atomic<int>& painted;
  std::atomic<int>& alive;
  int open_frames;
};

TEST_F(Convert, PreviewWindowGetsFramesUntilTheUserClosesIt) {
  struct Case {
    const char* name;
    bool factory;
    int open_frames;
    int painted;  // expected
  } cases[] = {{"window stays open", true, 1000, 25},
               {"window closed after three frames", true, 3, 3},
               {"no window system", false, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int> painted = 0, alive = 0, made = 0;
    if (c.factory)
      SetPreviewWindowFactory([&]() -> std::unique_ptr<TPreviewWindow> {
        ++made;
        return std::make_unique<CountingWindow>(painted, alive, c.open_frames);
      });
    TestEngine e;
    e.PreviewInterval = -1;  // every frame
    ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
    e.SetOption("vcodec", "rawvideo");
    ASSERT_GT(e.OpenOutputFile(dir_.File("preview.avi")), 0) << e.LastErrMsg();
    e.SetPostHooks(PostHookBit(phPreview));
    RunThreaded(e);
    EXPECT_TRUE(e.Finished()) << e.FatalMessage();
    EXPECT_EQ(painted, c.painted);
    EXPECT_EQ(made, c.factory ? 1 : 0);  // one window for the whole job
    const bool still_previewing = c.painted == 25;
    EXPECT_EQ(e.PostHooks() == PostHookBit(phPreview), still_previewing);
    EXPECT_EQ(alive, still_previewing ? 1 : 0);  // a closed window is freed at once
    e.SetPostHooks(0);
    EXPECT_EQ(alive, 0);
    SetPreviewWindowFactory(nullptr);
  }
}

TEST_F(Convert, RtpOutputLogsItsSessionDescriptionAndSendsPackets) {
  const int sock = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const int port = ntohs(addr.sin_port);

  LogCapture log(media::llInfo);
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(testing::VideoOnlyClip()));
  e.SetOption("f", "rtp");
  e.SetOption("vcodec", "mpeg4");
  ASSERT_GT(e.OpenOutputFile("rtp://127.0.0.1:" + std::to_string(port)), 0) << e.LastErrMsg();
  e.StartConvert(false);
  EXPECT_TRUE(e.Finished()) << e.FatalMessage();
  bool sdp = false;
  for (const auto& m : log.Messages())
    if (m.text.rfind("SDP:\n", 0) == 0) {
      sdp = true;
      EXPECT_NE(m.text.find("m=video " + std::to_string(port) + " RTP/AVP"), std::string::npos)
          << m.text;
      EXPECT_NE(m.text.find("MP4V-ES"), std::string::npos) << m.text;
      EXPECT_NE(m.text.back(), '\n');  // trimmed
    }
  EXPECT_TRUE(sdp);
  char buf[2048];
  int packets = 0;
  while (recv(sock, buf, sizeof buf, MSG_DONTWAIT) > 0) ++packets;
  EXPECT_GT(packets, 25);
  close(sock);
}

}  // namespace
}  // namespace trelvix::engine
