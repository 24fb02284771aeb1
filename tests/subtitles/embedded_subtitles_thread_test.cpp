// Subtitle tracks read on worker threads while the caller goes on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "subtitles/embedded_subtitles.h"
#include "support/temp_dir.h"

namespace trelvix::subtitles {
namespace {

TEST(EmbeddedSubtitlesWorker, SeveralTracksReadAtOnceGiveWhatAReadOnTheCallerGives) {
  ASSERT_TRUE(media::FFLoader().Load(media::kEncoderLibraries)) << media::FFLoader().LastErrMsg();
  test::TempDir dir;
  std::vector<std::string> films;
  for (const char* c : {"mkv", "mp4"}) {
    films.push_back(dir.File(std::string("film.") + c));
    fixtures::MakeClip(films.back(),
                       {.container = c,
                        .video_codec = "mpeg4",
                        .seconds = 3.0,
                        .subtitle_codec = c == std::string("mp4") ? "mov_text" : "subrip",
                        .subtitles = {{1.0, 1.5, "Raz"}, {2.0, 2.5, "Dwa"}}});
  }
  std::vector<std::future<TEmbeddedSubtitles>> running;
  for (int round = 0; round < 3; ++round)
    for (const std::string& f : films) running.push_back(LoadEmbeddedSubtitlesAsync(f, 1, 25.0));
  for (size_t i = 0; i < running.size(); ++i) {
    const TEmbeddedSubtitles got = running[i].get();
    const TEmbeddedSubtitles expected = LoadEmbeddedSubtitles(films[i % films.size()], 1, 25.0);
    ASSERT_TRUE(got.Error.isEmpty()) << got.Error.toStdString();
    ASSERT_EQ(got.Timetable.Count(), 3);
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(got.Timetable.Row(r).Key, expected.Timetable.Row(r).Key);
      EXPECT_EQ(got.Timetable.Row(r).Text, expected.Timetable.Row(r).Text);
    }
    EXPECT_EQ(got.Timetable.Row(2).Text, QStringLiteral("Dwa"));
  }
}

TEST(EmbeddedSubtitlesWorker, AReadThatIsNotGivenUpDeliversItsResultOnTheWorker) {
  ASSERT_TRUE(media::FFLoader().Load(media::kEncoderLibraries)) << media::FFLoader().LastErrMsg();
  test::TempDir dir;
  const std::string film = dir.File("film.mkv");
  fixtures::MakeClip(film, {.container = "mkv",
                            .video_codec = "mpeg4",
                            .seconds = 2.0,
                            .subtitle_codec = "subrip",
                            .subtitles = {{1.0, 1.5, "Raz"}}});
  std::promise<TEmbeddedSubtitles> delivered;
  std::thread::id on;
  TEmbeddedSubtitleRead read(film, 1, 25.0, [&](TEmbeddedSubtitles r) {
    on = std::this_thread::get_id();
    delivered.set_value(std::move(r));
  });
  const TEmbeddedSubtitles got = delivered.get_future().get();
  EXPECT_TRUE(on != std::this_thread::get_id());
  ASSERT_TRUE(got.Error.isEmpty()) << got.Error.toStdString();
  ASSERT_EQ(got.Timetable.Count(), 2);
  EXPECT_EQ(got.Timetable.Row(1).Text, QStringLiteral("Raz"));
}

// A source that never ends (a pipe whose writer is open but writes nothing): only giving the read
// up ends it, the owner is not kept waiting, and nothing is delivered.
TEST(EmbeddedSubtitlesWorker, GivingUpAReadOfASourceThatNeverEndsReturnsAndDeliversNothing) {
  ASSERT_TRUE(media::FFLoader().Load(media::kEncoderLibraries)) << media::FFLoader().LastErrMsg();
  test::TempDir dir;
  const std::string fifo = dir.File("never.mkv");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Held open for writing (read-write: a pipe opened so does not wait for a reader).
  const int writer = ::open(fifo.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  std::atomic<bool> delivered{false};
  {
    TEmbeddedSubtitleRead read(fifo, 0, 25.0, [&](TEmbeddedSubtitles) { delivered = true; });
  }
  ::close(writer);
  EXPECT_FALSE(delivered.load());
}

}  // namespace
}  // namespace trelvix::subtitles
