#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoder/ff_encode.h"
#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "runtime/main_thread.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::encoder {
namespace {

// An output record like the iPhone profile's, without the video hook.
TOutputOptions SmallMp4(const std::string& name) {
  TOutputOptions o;
  o.FileName = name;
  o.ForceFormat = "ipod";
  o.VideoCodec = "libx264";
  o.AudioCodec = "aac";
  o.FrameSize = "480x320";
  o.FrameRate = "25";
  o.VideoBitrate = 400000;
  o.AudioBitrate = 96000;
  o.AudioChannels = 2;
  o.DisableSubtitle = true;
  return o;
}

// Records every event of the component in arrival order, on the thread it arrives on.
struct EventLog {
  std::mutex lock;
  std::vector<std::string> events;  // "P<task>", "T<task>"
  std::vector<TTerminateInfo> terminations;
  std::atomic<bool> final_seen{false};
  std::atomic<bool> progress_off_main{false};
  void Add(const std::string& e) {
    std::lock_guard g(lock);
    events.push_back(e);
  }
  int First(const std::string& e) {
    std::lock_guard g(lock);
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i] == e) return static_cast<int>(i);
    return -1;
  }
};

// Ends the process when the test has not finished in time: a deadlock fails instead of hanging.
class Watchdog {
 public:
  explicit Watchdog(const char* what, int seconds = 90)
      : thread_([this, what, seconds] {
          std::unique_lock g(lock_);
          if (!done_cv_.wait_for(g, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "deadlock: %s did not finish within %d s\n", what, seconds);
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard g(lock_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable done_cv_;
  bool done_ = false;  // Guarded by lock_.
  std::thread thread_;
};

class EncoderComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(enc_.LoadAVLib("")) << enc_.LastErrMsg();
    enc_.SetProgressInterval(100);
    enc_.SetOnProgress([this](runtime::TObject*, PProgressInfo p) {
      if (!runtime::IsMainThread()) log_.progress_off_main = true;
      log_.Add("P" + std::to_string(p->TaskIndex));
    });
    enc_.SetOnTerminate([this](runtime::TObject*, const TTerminateInfo& t) {
      {
        std::lock_guard g(log_.lock);
        log_.terminations.push_back(t);
      }
      log_.Add("T" + std::to_string(t.TaskIndex));
      if (t.TaskIndex < 0) log_.final_seen = true;
    });
  }
  std::string Clip(const std::string& name, double seconds = 2.0) {
    const std::string path = tmp_.File(name);
    fixtures::MakeClip(
        path,
        {.container = "mkv", .video_codec = "mpeg4", .audio_codec = "aac", .seconds = seconds});
    return path;
  }
  int AddConversion(const std::string& input, const std::string& output) {
    const int t = enc_.AddTask(input);
    EXPECT_GE(t, 0) << enc_.LastErrMsg();
    TOutputOptions o = SmallMp4(output);
    EXPECT_TRUE(enc_.SetOutputFile(t, output, &o)) << enc_.LastErrMsg();
    return t;
  }
  // Serves the main-thread queue until the final event, as a main-thread wait must.
  void WaitForFinal(int seconds = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!log_.final_seen && std::chrono::steady_clock::now() < end)
      runtime::CheckSynchronize(10);
    ASSERT_TRUE(log_.final_seen) << "no final event";
  }

  test::LogCapture capture_;
  test::TempDir tmp_;
  TFFEncoder enc_;
  EventLog log_;
};

TEST_F(EncoderComponentTest, PropertiesAndDefaults) {
  EXPECT_EQ(enc_.Version(), "3.5");
  EXPECT_EQ(enc_.ProgressInterval(), 100);
  enc_.SetProgressInterval(50);
  EXPECT_EQ(enc_.ProgressInterval(), 100);
  enc_.SetProgressInterval(101);
  EXPECT_EQ(enc_.ProgressInterval(), 101);
  EXPECT_TRUE(enc_.TriggerEventInMainThread());
  EXPECT_EQ(enc_.Verbose(), 1);
  EXPECT_FALSE(enc_.Working());
  EXPECT_EQ(enc_.TasksCount(), 0);
}

TEST_F(EncoderComponentTest, RecordFileNameIsFilledOnlyWhenEmpty) {
  const std::string a = Clip("a.mkv", 1), b = Clip("b.mkv", 1);
  TInputOptions empty;
  ASSERT_GE(enc_.AddTask(a, &empty), 0) << enc_.LastErrMsg();
  EXPECT_EQ(empty.FileName, a);
  TInputOptions named;
  named.FileName = "kept-name.mkv";
  const int t = enc_.AddTask(b, &named);
  ASSERT_GE(t, 0) << enc_.LastErrMsg();
  EXPECT_EQ(named.FileName, "kept-name.mkv");
  // The file opened is the call's, and the task's decoder can query it.
  EXPECT_EQ(enc_.Task(t)->GetDecoder(0)->VideoStreamCount(), 1);
}

TEST_F(EncoderComponentTest, TwentyFirstInputIsRefused) {
  const std::string a = Clip("a.mkv", 0.5);
  const int t = enc_.AddTask(a);
  ASSERT_GE(t, 0) << enc_.LastErrMsg();
  for (int i = 1; i < 20; ++i) ASSERT_TRUE(enc_.AddInputFile(t, a, nullptr)) << i;
  EXPECT_FALSE(enc_.AddInputFile(t, a, nullptr));
  EXPECT_EQ(enc_.LastErrMsg(), "max input files 20 reached");
  EXPECT_EQ(enc_.Task(t)->nb_input_files(), 20);
}

TEST_F(EncoderComponentTest, MissingInputFailsWithTheEnginesText) {
  EXPECT_EQ(enc_.AddTask(tmp_.File("missing.avi")), -1);
  EXPECT_NE(enc_.LastErrMsg().find("missing.avi"), std::string::npos) << enc_.LastErrMsg();
  EXPECT_EQ(enc_.TasksCount(), 0);
}

TEST_F(EncoderComponentTest, StreamNamesFailWithTheLibrarysError) {
  int stream_object = 0;
  EXPECT_EQ(enc_.AddTask(&stream_object, "x", nullptr), -1);
  EXPECT_NE(enc_.LastErrMsg().find("stream:"), std::string::npos) << enc_.LastErrMsg();
}

TEST_F(EncoderComponentTest, FinishedRunRefusesChangesUntilClearTasks) {
  const std::string in = Clip("in.mkv", 1);
  AddConversion(in, tmp_.File("out.mp4"));
  enc_.Start(1);
  WaitForFinal();
  EXPECT_TRUE(enc_.Terminated());
  try {
    enc_.AddTask(in);
    FAIL() << "AddTask did not raise";
  } catch (const EEncoderError& e) {
    EXPECT_STREQ(e.what(), "Cannot AddTask while working.");
  }
  EXPECT_THROW(enc_.Start(1), EEncoderError);
  enc_.ClearTasks();
  EXPECT_FALSE(enc_.Working());
  EXPECT_GE(enc_.AddTask(in), 0);
  // The run finished normally and its output is readable.
  ASSERT_EQ(log_.terminations.size(), 2u);
  EXPECT_TRUE(log_.terminations[0].Finished);
  EXPECT_FALSE(log_.terminations[0].Exception);
  EXPECT_GT(fixtures::ProbeFile(tmp_.File("out.mp4")).streams.size(), 0u);
  // Progress was handed to the main thread.
  EXPECT_FALSE(log_.progress_off_main);
  EXPECT_GE(log_.First("P0"), 0);
}

TEST_F(EncoderComponentTest, ClearTasksRaisesDuringARun) {
  AddConversion(Clip("in.mkv", 4), tmp_.File("out.mp4"));
  enc_.Start(1);
  try {
    enc_.ClearTasks();
    FAIL() << "ClearTasks did not raise";
  } catch (const EEncoderError& e) {
    EXPECT_STREQ(e.what(), "Cannot ClearTasks while working.");
  }
  enc_.Stop(true);
  WaitForFinal();
}

TEST_F(EncoderComponentTest, StartTwoOfThreeRunsTheThirdWhenOneEnds) {
  enc_.SetTriggerEventInMainThread(false);
  for (int i = 0; i < 3; ++i)
    AddConversion(Clip("in" + std::to_string(i) + ".mkv", 3),
                  tmp_.File("out" + std::to_string(i) + ".mp4"));
  enc_.Start(2);
  WaitForFinal();
  const int first_end = std::min(log_.First("T0"), log_.First("T1"));
  ASSERT_GE(first_end, 0);
  EXPECT_GT(log_.First("P2"), first_end) << "the third task started before a slot was free";
  // The final event comes after every task's own.
  std::lock_guard g(log_.lock);
  ASSERT_EQ(log_.events.back(), "T-1");
  for (const char* t : {"T0", "T1", "T2"})
    EXPECT_NE(std::find(log_.events.begin(), log_.events.end(), t), log_.events.end()) << t;
}

TEST_F(EncoderComponentTest, StopWithWaitEndsUnfinished) {
  const std::string out = tmp_.File("out.mp4");
  AddConversion(Clip("in.mkv", 6), out);
  enc_.Start(1);
  while (log_.First("P0") < 0) runtime::CheckSynchronize(5);
  enc_.Stop(true);
  WaitForFinal();
  ASSERT_GE(log_.terminations.size(), 1u);
  EXPECT_FALSE(log_.terminations[0].Finished);
  // The output was finalised and can be read.
  EXPECT_GT(fixtures::DecodeVideoFrames(out).size(), 0u);
}

TEST_F(EncoderComponentTest, SynchronousStartRunsEveryTaskInsideStart) {
  AddConversion(Clip("a.mkv", 1), tmp_.File("a.mp4"));
  AddConversion(Clip("b.mkv", 1), tmp_.File("b.mp4"));
  enc_.Start(0);
  // Everything ran inside Start; the final event comes from a termination thread.
  EXPECT_TRUE(enc_.Terminated());
  WaitForFinal();
  std::lock_guard g(log_.lock);
  ASSERT_GE(log_.terminations.size(), 3u);
  EXPECT_EQ(log_.terminations[0].TaskIndex, 0);
  EXPECT_EQ(log_.terminations[1].TaskIndex, 1);
  EXPECT_EQ(log_.terminations.back().TaskIndex, -1);
}

// A preview handler runs on the main thread while the conversion thread waits for it; turning the
// preview off from there (or anywhere on the main thread meanwhile) must not wait for that thread.
TEST_F(EncoderComponentTest, PreviewCanBeSwitchedFromTheMainThreadWhileAHandlerRuns) {
  struct Case {
    const char* name;
    bool bitmap;  // SetPreviewBitmap (else SetPreview) inside the handler
    bool value;
  };
  for (const Case& c : {Case{"bitmap off", true, false}, Case{"bitmap on again", true, true},
                        Case{"window preview off", false, false}}) {
    SCOPED_TRACE(c.name);
    log_.final_seen = false;
    const std::string out = tmp_.File(std::string("preview-") + c.name + ".mp4");
    AddConversion(Clip("in.mkv", 2), out);
    std::atomic<int> previews{0};
    enc_.SetPreviewBitmap(true);
    enc_.SetOnPreviewBitmap([&](runtime::TObject*, const TPreviewInfo& info) {
      EXPECT_TRUE(runtime::IsMainThread());
      EXPECT_NE(info.Bitmap, nullptr);
      ++previews;
      if (c.bitmap)
        enc_.SetPreviewBitmap(c.value);
      else
        enc_.SetPreview(c.value);
    });
    {
      Watchdog watchdog("a preview change during a preview event");
      enc_.Start(1);
      WaitForFinal();
    }
    EXPECT_GE(previews.load(), 1);
    // Switched off on the first preview: no further previews of that kind were sent.
    if (c.bitmap && !c.value) {
      EXPECT_EQ(previews.load(), 1);
    }
    ASSERT_FALSE(log_.terminations.empty());
    EXPECT_TRUE(log_.terminations[0].Finished);
    EXPECT_GT(fixtures::DecodeVideoFrames(out).size(), 40u);
    enc_.ClearTasks();
    enc_.SetOnPreviewBitmap(nullptr);
    enc_.SetPreviewBitmap(false);
    std::lock_guard g(log_.lock);
    log_.terminations.clear();
    log_.events.clear();
  }
}

// In synchronous mode the termination handler runs inside Start: one that raises must still let
// the run finish, every task run, and the component return to idle.
TEST_F(EncoderComponentTest, SynchronousRunEndsWhenTheTerminationHandlerRaises) {
  struct Case {
    const char* name;
    int raise_on;  // task index whose event raises; -1: the final event
  };
  for (const Case& c : {Case{"first task", 0}, Case{"last task", 1}, Case{"final event", -1}}) {
    SCOPED_TRACE(c.name);
    capture_.Allow("handler failed");
    std::vector<int> seen;
    enc_.SetOnTerminate([&](runtime::TObject*, const TTerminateInfo& t) {
      seen.push_back(t.TaskIndex);
      if (t.TaskIndex == c.raise_on) throw std::runtime_error("handler failed");
    });
    AddConversion(Clip("a.mkv", 0.5), tmp_.File("a.mp4"));
    AddConversion(Clip("b.mkv", 0.5), tmp_.File("b.mp4"));
    try {
      enc_.Start(0);
    } catch (const std::exception&) {
      // Where the handler's failure surfaces is not the point here.
    }
    EXPECT_TRUE(enc_.Terminated());
    EXPECT_EQ(seen, (std::vector<int>{0, 1, -1}));
    EXPECT_NO_THROW(enc_.ClearTasks());
    EXPECT_FALSE(enc_.Working());
  }
}

// The verbosity a task runs with is the component's when it starts.
TEST_F(EncoderComponentTest, TasksRunWithTheVerbosityOfTheStart) {
  for (const int verbose : {-1, 1}) {
    SCOPED_TRACE(verbose);
    enc_.SetVerbose(verbose == 1 ? -1 : 1);
    AddConversion(Clip("in.mkv", 0.5), tmp_.File("out.mp4"));
    enc_.SetVerbose(verbose);
    capture_.Clear();
    enc_.Start(0);
    WaitForFinal();
    EXPECT_EQ(capture_.Contains("Stream mapping:"), verbose >= 0);
    enc_.ClearTasks();
    log_.final_seen = false;
  }
}

}  // namespace
}  // namespace trelvix::encoder
