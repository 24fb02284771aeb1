// Whole conversions with the options that change what the pipeline does: subtitle encoding,
// re-timing and stream copy, rate emulation, the file-size limit, and the quantiser histogram
// and PSNR figures of the status line.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "engine/engine_test_util.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace trelvix::engine {
namespace {

using test::LogCapture;
using test::TempDir;
using testing::ClipCache;
using testing::TestEngine;

class ConvertOptions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::LoadLibraries(); }
  TempDir dir_;
};

// Runs the job on the calling thread; true when it finished.
bool RunHere(TestEngine& e) {
  e.StartConvert(false);
  EXPECT_FALSE(e.FatalException()) << e.FatalMessage();
  return e.Finished();
}

// --- Subtitles ---

// 2 s of mpeg4 video with three subrip cues; the middle one spans 1.0 s.
const std::vector<fixtures::SubtitleCue>& SourceCues() {
  static const std::vector<fixtures::SubtitleCue> cues = {
      {0.2, 0.6, "First"}, {0.8, 1.3, "Second line"}, {1.5, 1.9, "Third"}};
  return cues;
}

const std::string& SubtitledClip() {
  fixtures::ClipSpec s = fixtures::VideoOnly("mkv", "mpeg4");
  s.seconds = 2.0;
  s.subtitle_codec = "subrip";
  s.subtitles = SourceCues();
  return ClipCache::Get().Clip("subtitled.mkv", s);
}

struct SubtitleCase {
  const char* name;
  const char* file;    // output file name (its extension picks the container)
  const char* scodec;  // the "scodec" option
  const char* start;   // the "ss" option, nullptr for none
  bool seek;           // "ss" before the input (it seeks there), else after it (read and skip)
  const char* probed;  // the output's subtitle codec as the file reports it
  std::vector<fixtures::SubtitleCue> expected;
};

class SubtitleOut : public ConvertOptions, public ::testing::WithParamInterface<int> {};

std::vector<SubtitleCase> SubtitleCases() {
  const std::vector<fixtures::SubtitleCue>& all = SourceCues();
  // From 1.0 s: the first cue is gone, the second keeps what is left of it, the third moves.
  const std::vector<fixtures::SubtitleCue> from_one = {{0.0, 0.3, "Second line"},
                                                       {0.5, 0.9, "Third"}};
  // Copied cues cannot be shortened: one still showing at the start is left out. Seeking
  // starts the demuxer at the key frame before the start (0.96 s), after the second cue began.
  const std::vector<fixtures::SubtitleCue> whole_from_one = {{0.5, 0.9, "Third"}};
  return {
      {"mkv_subrip", "subrip.mkv", "srt", nullptr, false, "subrip", all},
      {"mkv_ass", "ass.mkv", "ass", nullptr, false, "ass", all},
      {"mp4_mov_text", "text.mp4", "mov_text", nullptr, false, "mov_text", all},
      {"mkv_copy", "copy.mkv", "copy", nullptr, false, "subrip", all},
      {"mkv_subrip_from_1s", "from1.mkv", "subrip", "1.0", false, "subrip", from_one},
      {"mp4_mov_text_from_1s", "from1.mp4", "mov_text", "1.0", false, "mov_text", from_one},
      {"mkv_copy_from_1s", "copy1.mkv", "copy", "1.0", false, "subrip", whole_from_one},
      {"mkv_subrip_seek_1s", "seek1.mkv", "subrip", "1.0", true, "subrip", whole_from_one},
  };
}

TEST_P(SubtitleOut, CuesKeepTheirTextsAndTimes) {
  const SubtitleCase c = SubtitleCases()[GetParam()];
  const std::string out = dir_.File(c.file);
  LogCapture log;
  TestEngine e;
  if (c.start && c.seek) e.SetOption("ss", c.start);
  ASSERT_TRUE(e.OpenInputFile(SubtitledClip())) << e.LastErrMsg();
  if (c.start && !c.seek) e.SetOption("ss", c.start);
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("scodec", c.scodec);
  ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  ASSERT_TRUE(RunHere(e));

  const fixtures::MediaSummary m = fixtures::ProbeFile(out);
  int subtitle_streams = 0;
  for (const fixtures::StreamSummary& st : m.streams) {
    if (st.type != AVMEDIA_TYPE_SUBTITLE) continue;
    ++subtitle_streams;
    EXPECT_EQ(st.codec, c.probed);
  }
  ASSERT_EQ(subtitle_streams, 1) << fixtures::SummaryText(m);

  const std::vector<fixtures::DecodedCue> got = fixtures::DecodeSubtitles(out);
  ASSERT_EQ(got.size(), c.expected.size());
  const auto first = fixtures::DecodeVideoFrames(out);
  ASSERT_FALSE(first.empty());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("cue " + std::to_string(i));
    EXPECT_EQ(got[i].text, c.expected[i].text);
    EXPECT_NEAR(static_cast<double>(got[i].start_us), c.expected[i].start * 1e6, 2000.0);
    EXPECT_NEAR(static_cast<double>(got[i].end_us), c.expected[i].end * 1e6, 2000.0);
  }
  // The video is re-timed the same way: the first frame shown is the one at the start.
  const int first_number = c.start ? 25 : 0;
  EXPECT_EQ(first.front().number, first_number);
  EXPECT_NEAR(static_cast<double>(first.front().pts_us), 0.0, 2000.0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SubtitleOut,
                         ::testing::Range(0, static_cast<int>(SubtitleCases().size())),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return std::string(SubtitleCases()[p.param].name);
                         });

// A styled source keeps its styles when it is encoded again as ass; other sources get the
// plain default style.
TEST_F(ConvertOptions, AssOutputKeepsTheSourceStyles) {
  const std::string header =
      "[Script Info]\r\nScriptType: v4.00+\r\nPlayResX: 640\r\nPlayResY: 480\r\n\r\n"
      "[V4+ Styles]\r\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
      "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
      "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\r\n"
      "Style: Default,Courier,28,&H00ffff,&Hffffff,&H0,&H0,1,0,0,0,100,100,0,0,1,2,0,8,20,20,20,0"
      "\r\n\r\n[Events]\r\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
      "Effect, Text\r\n";
  fixtures::ClipSpec styled = fixtures::VideoOnly("mkv", "mpeg4");
  styled.seconds = 1.0;
  styled.subtitle_codec = "ass";
  styled.subtitle_header = header;
  styled.subtitles = {{0.2, 0.6, "Styled"}};
  struct Case {
    const char* name;
    std::string input;
    const char* style;  // expected in the output's header
  } cases[] = {{"styled ass", ClipCache::Get().Clip("styled.mkv", styled), "Default,Courier,28"},
               {"plain subrip", SubtitledClip(), "Default,Arial,16"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir_.File("styles.mkv");
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(c.input)) << e.LastErrMsg();
    e.SetOption("vcodec", "mpeg4");
    e.SetOption("scodec", "ass");
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    ASSERT_TRUE(RunHere(e));
    AVFormatContext* raw = nullptr;
    ASSERT_EQ(ff::avformat_open_input(&raw, out.c_str(), nullptr, nullptr), 0);
    media::InputFormatPtr ic(raw);
    std::string stored;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
      if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE)
        stored.assign(reinterpret_cast<const char*>(ic->streams[i]->codecpar->extradata),
                      ic->streams[i]->codecpar->extradata_size);
    EXPECT_NE(stored.find(c.style), std::string::npos) << stored;
  }
}

// --- Chapters ---

TEST_F(ConvertOptions, ChaptersFollowTheStartAndTheRecordingLimit) {
  fixtures::ClipSpec spec = fixtures::VideoOnly("mkv", "mpeg4");
  spec.seconds = 2.0;
  spec.chapters = {{0.0, 0.5, "One"}, {0.5, 1.2, "Two"}, {1.2, 2.0, "Three"}};
  const std::string& input = ClipCache::Get().Clip("chapters.mkv", spec);
  struct Case {
    const char* name;
    const char* file;
    const char* start;     // "ss" after the input, or nullptr
    const char* duration;  // "t", or nullptr
    std::vector<fixtures::ChapterSpec> expected;
  } cases[] = {
      {"all", "all.mkv", nullptr, nullptr, spec.chapters},
      {"all into mp4", "all.mp4", nullptr, nullptr, spec.chapters},
      // From 0.8 s: the first is over, the second is cut at the front, the third moves.
      {"from 0.8 s", "from.mkv", "0.8", nullptr, {{0.0, 0.4, "Two"}, {0.4, 1.2, "Three"}}},
      // The first second: the third starts after it, the second ends with it.
      {"first second", "first.mkv", nullptr, "1.0", {{0.0, 0.5, "One"}, {0.5, 1.0, "Two"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir_.File(c.file);
    TestEngine e;
    ASSERT_TRUE(e.OpenInputFile(input)) << e.LastErrMsg();
    if (c.start) e.SetOption("ss", c.start);
    if (c.duration) e.SetOption("t", c.duration);
    e.SetOption("vcodec", "mpeg4");
    ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    ASSERT_TRUE(RunHere(e));
    const std::vector<fixtures::ChapterInfo> got = fixtures::ReadChapters(out);
    ASSERT_EQ(got.size(), c.expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].title, c.expected[i].title);
      EXPECT_NEAR(static_cast<double>(got[i].start_us), c.expected[i].start * 1e6, 2000.0);
      EXPECT_NEAR(static_cast<double>(got[i].end_us), c.expected[i].end * 1e6, 2000.0);
    }
  }
}

// --- Rate emulation ---

TEST_F(ConvertOptions, RateEmulationTakesTheInputsOwnTime) {
  const std::string out = dir_.File("realtime.mkv");
  TestEngine e;
  e.SetOption("re", "1");
  ASSERT_TRUE(e.OpenInputFile(testing::AvClip())) << e.LastErrMsg();
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("acodec", "mp2");
  ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(RunHere(e));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // A 1 s input is read no faster than it plays (its last frame starts at 0.96 s).
  EXPECT_GE(seconds, 0.9);
  EXPECT_EQ(static_cast<int>(fixtures::DecodeVideoFrames(out).size()), 25);
}

// --- File-size limit ---

const std::string& FourSecondClip() {
  fixtures::ClipSpec s = fixtures::Preset("mkv");
  s.seconds = 4.0;
  s.max_b_frames = 0;  // stored in display order, so a cut keeps a run of whole frames
  return ClipCache::Get().Clip("four_seconds.mkv", s);
}

// Converts the four-second clip at a high bit rate, with a size limit when limit > 0.
void ConvertLimited(const std::string& out, int64_t limit) {
  TestEngine e;
  ASSERT_TRUE(e.OpenInputFile(FourSecondClip())) << e.LastErrMsg();
  e.SetOption("vcodec", "mpeg4");
  e.SetOption("acodec", "pcm_s16le");  // 176 kB a second: the bulk of the file
  if (limit > 0) e.SetOption("fs", std::to_string(limit));
  ASSERT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  ASSERT_TRUE(RunHere(e));
}

TEST_F(ConvertOptions, FileSizeLimitEndsTheOutputNearTheLimit) {
  constexpr int64_t kLimit = 150000;
  const std::string full = dir_.File("full.mkv");
  const std::string limited = dir_.File("limited.mkv");
  ConvertLimited(full, 0);
  ConvertLimited(limited, kLimit);
  const auto full_size = static_cast<int64_t>(std::filesystem::file_size(full));
  const auto size = static_cast<int64_t>(std::filesystem::file_size(limited));
  ASSERT_GT(full_size, 4 * kLimit);  // the limit really cuts the conversion short
  EXPECT_GE(size, kLimit);           // it stops only once the limit is passed
  // What follows the last check: the packet read after it (a video frame or 4 kB of audio), the
  // container's framing and the trailer's index. Matroska holds a whole cluster back from the
  // file, so the check must count what the muxer was given, not only the file position.
  EXPECT_LE(size, kLimit + 16 * 1024);

  // The trailer was written: the file has its duration and decodes in order.
  const fixtures::MediaSummary m = fixtures::ProbeFile(limited);
  ASSERT_NE(m.Video(), nullptr);
  EXPECT_NE(m.duration_us, fixtures::kNoTime);
  const auto frames = fixtures::DecodeVideoFrames(limited);
  ASSERT_GT(frames.size(), 5u);
  EXPECT_LT(frames.size(), 100u);
  for (size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(frames[i].number, static_cast<int>(i));
  EXPECT_NEAR(static_cast<double>(m.duration_us), frames.size() * 40000.0, 100000.0);
}

// --- Status-line figures ---

// The status lines the job logged (every report, as no OnProgress handler is set).
std::vector<std::string> ReportLines(const LogCapture& log) {
  std::vector<std::string> lines;
  for (const test::CapturedLog& m : log.Messages())
    if (m.text.find("frame=") != std::string::npos && m.text.find("size=") != std::string::npos)
      lines.push_back(m.text);
  return lines;
}

std::vector<std::string> ConvertAndReport(const std::string& out, const std::string& vcodec,
                                          const char* option) {
  LogCapture log;
  TestEngine e;
  EXPECT_TRUE(e.OpenInputFile(testing::VideoOnlyClip())) << e.LastErrMsg();
  e.SetOption("vcodec", vcodec);
  if (option) e.SetOption(option, "1");
  EXPECT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
  e.ReportInterval = 0;  // a line after every packet
  EXPECT_TRUE(RunHere(e));
  return ReportLines(log);
}

TEST_F(ConvertOptions, QuantiserHistogramFollowsTheQuality) {
  const std::regex with_hist(R"(q=(\d+\.\d) L?([0-9A-F]{32})size=)");
  for (const bool on : {false, true}) {
    SCOPED_TRACE(on ? "qphist" : "no qphist");
    const auto lines = ConvertAndReport(dir_.File(on ? "hist.mkv" : "plain.mkv"), "mpeg4",
                                        on ? "qphist" : nullptr);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines.back().find(" L"), std::string::npos) << lines.back();
    for (const std::string& line : lines) {
      std::smatch m;
      const bool found = std::regex_search(line, m, with_hist);
      ASSERT_EQ(found, on) << line;
      if (!on) continue;
      // The counter of the reported quantiser has counted at least this frame.
      const int qp = static_cast<int>(std::lround(std::stod(m[1].str())));
      ASSERT_LT(qp, 32) << line;
      EXPECT_NE(m[2].str()[static_cast<size_t>(qp)], '0') << line;
    }
  }
}

TEST_F(ConvertOptions, PsnrFromTheEncodersStatistics) {
  const std::regex psnr(R"(PSNR=Y:(\S+) U:(\S+) V:(\S+) \*:(\S+) )");
  const auto lines = ConvertAndReport(dir_.File("psnr.mkv"), "mpeg4", "psnr");
  ASSERT_GE(lines.size(), 10u);
  size_t finite = 0;
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, psnr)) << line;
    // The pattern's flat cells keep any real encoder well above 20 dB. Its chroma is flat grey
    // and its key frames come out exact, both without error: an infinite PSNR.
    for (int plane = 1; plane <= 4; ++plane) EXPECT_GT(std::stod(m[plane].str()), 20.0) << line;
    const double y = std::stod(m[1].str());
    if (std::isfinite(y)) {
      ++finite;
      EXPECT_LT(y, 99.0) << line;
    }
  }
  // The predicted frames carry real figures, and so does the total of the final line.
  EXPECT_GE(finite, lines.size() / 2);
  std::smatch last;
  ASSERT_TRUE(std::regex_search(lines.back(), last, psnr)) << lines.back();
  EXPECT_TRUE(std::isfinite(std::stod(last[1].str()))) << lines.back();

  // An encoder that takes the flag but reports no figures (libx264), and a job without the
  // option, show no PSNR rather than an infinite one.
  const char* const codecs[] = {"libx264", "mpeg4"};
  for (const char* codec : codecs) {
    SCOPED_TRACE(codec);
    const bool asked = std::string(codec) == "libx264";
    const auto other = ConvertAndReport(dir_.File(std::string("other_") + codec + ".mkv"), codec,
                                        asked ? "psnr" : nullptr);
    ASSERT_FALSE(other.empty());
    for (const std::string& line : other) {
      EXPECT_EQ(line.find("inf"), std::string::npos) << line;
      if (!asked) {
        EXPECT_EQ(line.find("PSNR="), std::string::npos) << line;
      }
    }
  }
}

}  // namespace
}  // namespace trelvix::engine
