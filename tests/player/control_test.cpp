// The component around the playback: opening over a running playback, stopping, pausing and
// stepping, the play-time limit, per-playback options, failures and stream switching.
#include <gtest/gtest.h>

#include <dirent.h>

#include <stdexcept>
#include <thread>

#include "media/ff_utils.h"
#include "player/player_messages.h"
#include "player/player_test_util.h"
#include "runtime/format.h"

namespace trelvix::player::testing {
namespace {

int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadLibraries();
    UseDummyAudio();
  }
  std::string Clip(const std::string& name, double seconds, int first_number = 0) {
    fixtures::ClipSpec spec = SmallClip(seconds);
    spec.first_number = first_number;
    const std::string path = dir_.File(name);
    fixtures::MakeClip(path, spec);
    return path;
  }
  test::TempDir dir_;
  test::LogCapture log_;
};

TEST_F(ControlTest, OpenWhilePlayingStopsTheOldPlaybackFirst) {
  const std::string a = Clip("a.mkv", 2.0);
  const std::string b = Clip("b.mkv", 1.0, 500);
  TFFPlayer player;
  TEventRecorder rec(player);
  ASSERT_TRUE(player.Open(a)) << player.LastErrMsg();
  const int first = WaitForPicture(player);
  ASSERT_GE(first, 0);
  ASSERT_LT(first, 500);
  ASSERT_TRUE(player.Open(b)) << player.LastErrMsg();
  // The old playback has ended completely, and told the host so, before the new one starts.
  const std::vector<TPlayState> states = rec.States();
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0], psPlay);
  EXPECT_EQ(states[1], psStop);
  EXPECT_EQ(player.FileName(), b);
  ASSERT_TRUE(PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) >= 500; }));
  ASSERT_TRUE(PumpUntil([&] { return rec.States().size() >= 3; }));
  EXPECT_EQ(rec.States()[2], psPlay);
  player.Stop(true);
}

// With and without an OnState handler: the event thread ends in both cases.
class StopTest : public ControlTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StopTest, StopWithWaitEndsEveryThreadOfThePlayback) {
  const std::string clip = Clip("c.mkv", 2.0);
  {
    TFFPlayer warm_up;  // lets the libraries start whatever threads they keep
    ASSERT_TRUE(warm_up.Open(clip));
    WaitForPicture(warm_up);
    warm_up.Stop(true);
  }
  const int baseline = ThreadCount();
  TFFPlayer player;
  std::vector<TPlayState> states;
  if (GetParam()) player.SetOnState([&](TObject*, TPlayState s) { states.push_back(s); });
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_GE(WaitForPicture(player), 0);
  EXPECT_GE(ThreadCount(), baseline + 5);  // play, event, reader, video, refresh, audio
  player.Stop(true);
  EXPECT_EQ(ThreadCount(), baseline);
  EXPECT_FALSE(player.Playing());
  EXPECT_EQ(player.PlayState(), psStop);
  if (GetParam()) {
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), psStop);
  }
}

INSTANTIATE_TEST_SUITE_P(OnState, StopTest, ::testing::Bool());

TEST_F(ControlTest, StopWithoutWaitEndsThePlaybackSoon) {
  const std::string clip = Clip("c.mkv", 2.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  ASSERT_TRUE(player.Open(clip));
  ASSERT_GE(WaitForPicture(player), 0);
  player.Stop(false);
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psStop); }));
  EXPECT_FALSE(player.Playing());
}

TEST_F(ControlTest, OpeningPausedLetsTwoPicturesThroughThenPauses) {
  const std::string clip = Clip("c.mkv", 2.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  ASSERT_TRUE(player.Open(clip, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psPause); }));
  EXPECT_EQ(rec.States(), (std::vector<TPlayState>{psPlay, psPause}));
  EXPECT_TRUE(player.Paused());
  PumpFor(300);
  const int n = SurfaceFrameNumber(player.Surface().Snapshot());
  EXPECT_GE(n, 0);
  EXPECT_LE(n, 1);
  EXPECT_LE(player.CurrentPTS(), 40000);
  player.Stop(true);
}

TEST_F(ControlTest, PauseResumeAndStepToNextFrame) {
  const std::string clip = Clip("c.mkv", 2.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  ASSERT_TRUE(player.Open(clip, nullptr, true)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psPause); }));
  PumpFor(200);
  const int before = SurfaceFrameNumber(player.Surface().Snapshot());
  ASSERT_GE(before, 0);
  player.StepToNextFrame();
  ASSERT_TRUE(PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) > before; }));
  EXPECT_TRUE(rec.Has(psStep));
  ASSERT_TRUE(PumpUntil([&] { return player.Paused(); }));
  PumpFor(150);
  // Paused again after the next picture: nothing moves any more.
  const int stepped = SurfaceFrameNumber(player.Surface().Snapshot());
  EXPECT_GT(stepped, before);
  EXPECT_LE(stepped, before + 3);
  PumpFor(250);
  EXPECT_EQ(SurfaceFrameNumber(player.Surface().Snapshot()), stepped);
  EXPECT_TRUE(player.Paused());

  player.Resume();
  EXPECT_FALSE(player.Paused());
  ASSERT_TRUE(
      PumpUntil([&] { return SurfaceFrameNumber(player.Surface().Snapshot()) > stepped + 3; }));
  player.TogglePause();
  EXPECT_TRUE(player.Paused());
  ASSERT_TRUE(PumpUntil([&] { return rec.States().back() == psPause; }));
  const std::vector<TPlayState> states = rec.States();
  EXPECT_NE(std::find(states.begin(), states.end(), psResume), states.end());
  player.Stop(true);
}

TEST_F(ControlTest, PlayTimeWithLoopReturnsToTheStart) {
  const std::string clip = Clip("c.mkv", 2.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  player.SetPlayTime(600000);
  player.SetRepeatType(rtLoop);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  bool reached = false;
  ASSERT_TRUE(PumpUntil([&] {
    for (int64_t p : rec.Positions()) {
      if (p >= 600000) reached = true;
      if (reached && p < 200000) return true;
    }
    return false;
  }));
  EXPECT_FALSE(rec.Has(psEnd));
  player.Stop(true);
}

TEST_F(ControlTest, PlayTimeWithStopEndsThePlaybackWithoutWaiting) {
  const std::string clip = Clip("c.mkv", 2.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  player.SetPlayTime(500000);
  player.SetRepeatType(rtStop);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psStop); }));
  EXPECT_FALSE(rec.Has(psEnd));
  EXPECT_GE(rec.LastPosition(), 500000);
  EXPECT_LT(rec.LastPosition(), 1000000);
}

TEST_F(ControlTest, PerPlaybackOptionsAreBackAtTheirDefaultsAfterThePlayback) {
  const std::string clip = Clip("c.mkv", 1.0);
  TFFPlayer player;
  player.SetPlayTime(5000000);
  player.SetRepeatType(rtLoop);
  player.Setstart_time(100000);
  player.SetVerticalFlip(true);
  player.Setwanted_audio_stream(0);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_EQ(player.PlayTime(), 5000000);
  player.Stop(true);
  EXPECT_EQ(player.PlayTime(), kNoTime);
  EXPECT_EQ(player.RepeatType(), rtStop);
  EXPECT_EQ(player.start_time(), kNoTime);
  EXPECT_FALSE(player.VerticalFlip());
  EXPECT_EQ(player.wanted_audio_stream(), -1);
  EXPECT_EQ(player.seek_by_bytes(), -1);
  EXPECT_EQ(player.CurrentPTS(), -1);
}

TEST_F(ControlTest, AStartTimeBeginsThePlaybackThere) {
  const std::string clip = Clip("c.mkv", 2.0);
  TFFPlayer player;
  player.Setstart_time(1000000);
  ASSERT_TRUE(player.Open(clip, nullptr, true)) << player.LastErrMsg();
  const int n = WaitForPicture(player);
  EXPECT_GE(n, 25);
  EXPECT_LE(n, 27);  // a slow machine may skip a picture
  player.Stop(true);
}

TEST_F(ControlTest, FailedOpensLeaveTheirMessage) {
  log_.Allow(".*");
  const std::string missing = dir_.File("missing.mkv");
  const std::string junk = dir_.File("junk.bin");
  fixtures::MakeRandomFile(junk, 4096);
  const std::string clip = Clip("c.mkv", 1.0);
  TFFPlayer player;
  TEventRecorder rec(player);
  EXPECT_FALSE(player.Open(missing));
  EXPECT_EQ(player.LastErrMsg(), media::LibErrorText(missing, AVERROR(ENOENT)));
  EXPECT_FALSE(player.Open(junk));
  EXPECT_EQ(player.LastErrMsg().rfind(junk + ": ", 0), 0u) << player.LastErrMsg();
  player.SetDisableAudio(true);
  player.SetDisableVideo(true);
  EXPECT_FALSE(player.Open(clip));
  EXPECT_EQ(player.LastErrMsg(), runtime::Format(msg::kNoStreamToPlay, clip.c_str()));
  EXPECT_FALSE(player.Playing());
  PumpFor(50);
  EXPECT_TRUE(rec.States().empty());
  // The player is still usable.
  player.SetDisableAudio(false);
  player.SetDisableVideo(false);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_GE(WaitForPicture(player), 0);
  player.Stop(true);
}

TEST_F(ControlTest, StreamSwitchesAreCheckedAndRefusedWithTheirMessage) {
  const std::string clip = Clip("c.mkv", 2.0);  // stream 0 video, 1 audio
  TFFPlayer player;
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_EQ(player.VideoStreamIndex(), 0);
  EXPECT_EQ(player.AudioStreamIndex(), 1);
  EXPECT_EQ(player.SubtitleStreamIndex(), -1);
  struct Case {
    int type;
    int index;
    const char* message;
  } cases[] = {
      {kMediaTypeVideo, 1, msg::kStreamTypeNotMatched},
      {kMediaTypeAudio, 0, msg::kStreamTypeNotMatched},
      {kMediaTypeAudio, 7, msg::kStreamIndexInvalid},
      {kMediaTypeAudio, -1, msg::kStreamIndexInvalid},
      {kMediaTypeSubtitle, -2, msg::kStreamIndexInvalid},
      {kMediaTypeSubtitle, 1, msg::kStreamTypeNotMatched},
  };
  for (const Case& c : cases) {
    log_.Allow(c.message);
    if (c.type == kMediaTypeVideo) player.SetVideoStreamIndex(c.index);
    if (c.type == kMediaTypeAudio) player.SetAudioStreamIndex(c.index);
    if (c.type == kMediaTypeSubtitle) player.SetSubtitleStreamIndex(c.index);
    EXPECT_EQ(player.LastErrMsg(), c.message) << c.type << " " << c.index;
  }
  EXPECT_EQ(player.VideoStreamIndex(), 0);
  EXPECT_EQ(player.AudioStreamIndex(), 1);
  player.Stop(true);
}

TEST_F(ControlTest, WithoutTheMainThreadEventsArriveOnTheEventThread) {
  const std::string clip = Clip("c.mkv", 0.6);
  TFFPlayer player;
  player.SetTriggerEventInMainThread(false);
  std::mutex lock;
  std::vector<TPlayState> states;
  bool on_main = false;
  int positions = 0;
  player.SetOnState([&](TObject*, TPlayState s) {
    std::lock_guard g(lock);
    states.push_back(s);
    on_main = on_main || runtime::IsMainThread();
  });
  player.SetOnPosition([&](TObject*, int64_t) {
    std::lock_guard g(lock);
    ++positions;
    on_main = on_main || runtime::IsMainThread();
  });
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  // No pumping: the handlers do not need the main thread.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    {
      std::lock_guard g(lock);
      if (std::find(states.begin(), states.end(), psEnd) != states.end()) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), end);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  player.Stop(true);
  std::lock_guard g(lock);
  EXPECT_FALSE(on_main);
  EXPECT_GT(positions, 3);
  EXPECT_EQ(states.front(), psPlay);
  EXPECT_EQ(states.back(), psStop);
}

TEST_F(ControlTest, TheDecoderDescribesThePlayingFile) {
  const std::string clip = Clip("c.mkv", 1.0);
  TFFPlayer player;
  ASSERT_TRUE(player.Open(clip, nullptr, true)) << player.LastErrMsg();
  EXPECT_NE(player.Decoder().FileHandle(), nullptr);
  EXPECT_EQ(player.Decoder().VideoStreamCount(), 1);
  EXPECT_EQ(player.Decoder().AudioStreamCount(), 1);
  player.Stop(true);
  EXPECT_EQ(player.Decoder().FileHandle(), nullptr);
}

TEST_F(ControlTest, WithoutDisplayOnlyTheSoundPlays) {
  const std::string clip = Clip("c.mkv", 0.6);
  TFFPlayer player;
  TEventRecorder rec(player);
  player.SetDisableDisplay(true);
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_EQ(player.VideoStreamIndex(), -1);
  EXPECT_EQ(player.AudioStreamIndex(), 1);
  ASSERT_TRUE(PumpUntil([&] { return rec.Has(psEnd); }));
  EXPECT_FALSE(player.Surface().HasMode());
  EXPECT_GE(rec.LastPosition(), 500000);
  player.Stop(true);
}

TEST_F(ControlTest, ForcingAnInputFormat) {
  const std::string clip = Clip("c.mkv", 1.0);
  TFFPlayer player;
  EXPECT_THROW(
      {
        try {
          player.SetForceFormat("no-such-format");
        } catch (const std::invalid_argument& e) {
          EXPECT_STREQ(e.what(), "Unknown input format: no-such-format");
          throw;
        }
      },
      std::invalid_argument);
  player.SetForceFormat("matroska");
  EXPECT_EQ(player.ForceFormat(), "matroska,webm");
  ASSERT_TRUE(player.Open(clip)) << player.LastErrMsg();
  EXPECT_GE(WaitForPicture(player), 0);
  player.Stop(true);
  player.SetForceFormat("");
  EXPECT_EQ(player.ForceFormat(), "");
  EXPECT_EQ(player.Version(), "2.5");
}

}  // namespace
}  // namespace trelvix::player::testing
