// Subtitles burned in by a conversion: the engine asks the handler before it converts a frame,
// frames without a subtitle pass untouched and unconverted, and the others change only around
// the subtitle, with the pixels that converting the whole frame gives there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/ffmpeg.h"
#include "fixtures/fixtures.h"
#include "media/ff_load.h"
#include "media/ff_ptr.h"
#include "media/ffapi.h"
#include "runtime/application.h"
#include "runtime/main_thread.h"
#include "subtitles/subtitle_hook.h"
#include "support/temp_dir.h"

namespace trelvix::subtitles {
namespace {

constexpr int kW = 320, kH = 240;

class Engine : public engine::TCustomFFmpeg {
 public:
  Engine() { ResetState(); }
};

// The Y, U and V planes of a 4:2:0 picture, one after the other, without padding.
using Picture = std::vector<uint8_t>;

std::vector<Picture> ReadPictures(const std::string& path) {
  std::vector<Picture> out;
  fixtures::ForEachVideoPicture(path, [&](const AVFrame& f) {
    Picture p;
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane ? f.width / 2 : f.width, h = plane ? f.height / 2 : f.height;
      for (int y = 0; y < h; ++y) {
        const uint8_t* row = f.data[plane] + y * f.linesize[plane];
        p.insert(p.end(), row, row + w);
      }
    }
    out.push_back(std::move(p));
  });
  return out;
}

// The offset of (x, y) of a plane in a Picture.
size_t At(int plane, int x, int y) {
  const size_t luma = size_t(kW) * kH, chroma = luma / 4;
  return plane == 0 ? size_t(y) * kW + x : luma + (plane - 1) * chroma + size_t(y) * (kW / 2) + x;
}

class BurnIn : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    runtime::SetMainThread();
    ASSERT_TRUE(runtime::EnsureGuiApplication());
    media::TFFLoader& loader = media::FFLoader();
    if (!loader.Loaded(media::kEncoderLibraries)) {
      ASSERT_TRUE(loader.Load(media::kEncoderLibraries));
    }
  }

  void SetUp() override {
    clip_ = dir_.File("in.mkv");
    fixtures::ClipSpec s = fixtures::VideoOnly("mkv", "mpeg4");
    s.width = kW;
    s.height = kH;
    s.seconds = 2;
    fixtures::MakeClip(clip_, s);
  }

  struct Result {
    std::vector<Picture> pictures;
    int queries = 0;
    std::set<int> raised;                   // frame numbers the hook event got
    std::vector<runtime::TRect> areas{50};  // the query's answer per frame (index number - 1)
    int renders = 0;                        // subtitles the handler drew
  };

  // Converts the clip into raw video, burning in two subtitles (0.4 to 0.8 s and 1.4 to 1.8 s)
  // when `burn` is set, with the query when `query` is set, whose answer carries the ready
  // subtitle when `overlay` is set.
  Result Convert(const std::string& name, bool burn, bool query, bool overlay = false) {
    Result r;
    TSubtitleSettings s;
    s.IQNapisow = false;
    s.NapisyCzasTag = 400;
    s.FontVol = 15;
    TSubtitleTimetable table;
    table.Append(400, "Pierwszy|napis");
    table.Append(1400, "Drugi");
    TSubtitleHook hook;
    hook.SetSubtitlesOn(true);
    hook.StartConversion(table, s, 25);
    Engine e;
    e.SetVerbose(-1);
    EXPECT_TRUE(e.OpenInputFile(clip_));
    e.SetOption("vcodec", "rawvideo");
    const std::string out = dir_.File(name);
    EXPECT_GT(e.OpenOutputFile(out), 0) << e.LastErrMsg();
    if (burn) {
      e.SetOnInputVideoHook([&](runtime::TObject*, runtime::TBitmap* b, int n, int64_t pts,
                                bool& update, bool& stop) {
        r.raised.insert(n);
        update = hook.Process(*b, pts, n, stop);
      });
    }
    if (burn && query) {
      e.SetOnInputVideoHookQuery(
          [&](runtime::TObject*, int w, int h, int n, int64_t pts, bool& stop) {
            EXPECT_EQ(w, kW);
            EXPECT_EQ(h, kH);
            ++r.queries;
            const runtime::TRect area = hook.Prepare(w, h, pts, n, stop);
            if (n >= 1 && n <= 50) r.areas[size_t(n - 1)] = area;
            return runtime::TDrawArea(area, overlay ? hook.PreparedOverlay() : nullptr);
          });
    }
    e.StartConvert(false);
    EXPECT_TRUE(e.Finished()) << e.FatalMessage();
    r.pictures = ReadPictures(out);
    r.renders = hook.Renders();
    return r;
  }

  test::TempDir dir_;
  std::string clip_;
};

TEST_F(BurnIn, OnlyFramesWithASubtitleAreConvertedAndOnlyAroundIt) {
  const Result plain = Convert("plain.avi", false, false);
  const Result whole = Convert("whole.avi", true, false);
  const Result part = Convert("part.avi", true, true);
  ASSERT_EQ(plain.pictures.size(), 50u);
  ASSERT_EQ(whole.pictures.size(), 50u);
  ASSERT_EQ(part.pictures.size(), 50u);
  EXPECT_EQ(whole.raised.size(), 50u);  // without the query every frame goes through the hook
  EXPECT_EQ(part.queries, 50);
  // Frames 11 to 21 (0.4 to 0.8 s) and 36 to 46 (1.4 to 1.8 s) show a subtitle.
  std::set<int> due;
  for (int n = 11; n <= 21; ++n) due.insert(n);
  for (int n = 36; n <= 46; ++n) due.insert(n);
  EXPECT_EQ(part.raised, due);

  for (int n = 1; n <= 50; ++n) {
    SCOPED_TRACE(n);
    const Picture &p = part.pictures[size_t(n - 1)], &b = plain.pictures[size_t(n - 1)],
                  &w = whole.pictures[size_t(n - 1)];
    const runtime::TRect& a = part.areas[size_t(n - 1)];
    if (!due.count(n)) {
      EXPECT_LE(a.Width(), 0);
      EXPECT_EQ(p, b);  // untouched: not even the colour round trip
      continue;
    }
    ASSERT_GT(a.Width(), 0);
    // The part converted: the area grown to 32-pixel columns and whole chroma rows.
    const runtime::TRect conv{a.left / 32 * 32, a.top / 2 * 2,
                              std::min(kW, (a.right + 31) / 32 * 32),
                              std::min(kH, (a.bottom + 1) / 2 * 2)};
    int drawn = 0, outside = 0, unlike_whole = 0;
    for (int plane = 0; plane < 3; ++plane) {
      const int s = plane ? 2 : 1;
      for (int y = 0; y < kH / s; ++y)
        for (int x = 0; x < kW / s; ++x) {
          const size_t i = At(plane, x, y);
          const auto in = [&](const runtime::TRect& r) {
            return x * s >= r.left && x * s < r.right && y * s >= r.top && y * s < r.bottom;
          };
          if (!in(conv)) {
            outside += p[i] != b[i];
            continue;
          }
          drawn += std::abs(p[i] - b[i]) > 3;
          // Where the subtitle changed the frame converted whole, this frame got the same.
          if (in(a) && std::abs(w[i] - b[i]) > 3) unlike_whole += std::abs(p[i] - w[i]) > 0;
        }
    }
    EXPECT_GT(drawn, 100);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(unlike_whole, 0);
  }
}

TEST_F(BurnIn, TheEngineLaysAReadySubtitleOnItselfWithoutTheHandlersBitmap) {
  const Result plain = Convert("plain.avi", false, false);
  const Result part = Convert("part.avi", true, true);
  const Result laid = Convert("laid.avi", true, true, true);
  ASSERT_EQ(plain.pictures.size(), 50u);
  ASSERT_EQ(part.pictures.size(), 50u);
  ASSERT_EQ(laid.pictures.size(), 50u);
  EXPECT_EQ(laid.queries, 50);
  EXPECT_TRUE(laid.raised.empty());  // the engine laid every subtitle itself
  EXPECT_EQ(laid.renders, 2);        // each subtitle drawn once
  EXPECT_EQ(part.renders, 2);
  for (int n = 1; n <= 50; ++n) {
    SCOPED_TRACE(n);
    const Picture &l = laid.pictures[size_t(n - 1)], &b = plain.pictures[size_t(n - 1)],
                  &p = part.pictures[size_t(n - 1)];
    const runtime::TRect& a = laid.areas[size_t(n - 1)];
    // Without Process the playback goes on as with it: the same frames show a subtitle.
    EXPECT_EQ(a.Width() > 0, part.areas[size_t(n - 1)].Width() > 0);
    if (a.Width() <= 0) {
      EXPECT_EQ(l, b);
      continue;
    }
    // Luma as the bitmap's way gives it, but for rounding, and nothing outside the subtitle.
    int drawn = 0, unlike = 0, outside = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const size_t i = At(0, x, y);
        const bool in = x >= a.left && x < a.right && y >= a.top && y < a.bottom;
        drawn += std::abs(l[i] - b[i]) > 3;
        unlike += std::abs(l[i] - p[i]) > 4;
        outside += !in && l[i] != b[i];
      }
    EXPECT_GT(drawn, 100);
    EXPECT_EQ(unlike, 0);
    EXPECT_EQ(outside, 0);
  }
}

}  // namespace
}  // namespace trelvix::subtitles
