// A subtitle laid by the engine straight onto YUV pictures: the Y, U and V samples the bitmap
// round trip gives (within a small tolerance), for each planar layout and both ranges; other
// layouts and bitmaps of fewer colours still go through the handler's bitmap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoder/rgb_convert.h"
#include "engine/ffmpeg.h"
#include "engine/overlay_blend.h"
#include "media/ff_load.h"
#include "media/ff_ptr.h"
#include "media/ffapi.h"
#include "runtime/application.h"
#include "subtitles/subtitle_hook.h"

namespace trelvix::subtitles {
namespace {

constexpr int kW = 640, kH = 480;

class Engine : public engine::TCustomFFmpeg {
 public:
  Engine() { ResetState(); }
  using TCustomFFmpeg::VideoHookCall;
};

// A picture of the format whose samples change across it in every plane (for packed and
// semi-planar layouts: the same picture converted from yuv420p).
media::FramePtr Picture(AVPixelFormat format) {
  media::FramePtr yuv = media::MakeFrame();
  yuv->format = AV_PIX_FMT_YUV444P;
  yuv->width = kW;
  yuv->height = kH;
  EXPECT_GE(ff::av_frame_get_buffer(yuv.get(), 0), 0);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      yuv->data[0][y * yuv->linesize[0] + x] = uint8_t(20 + (x * 180 / kW + y * 30 / kH));
      yuv->data[1][y * yuv->linesize[1] + x] = uint8_t(60 + x * 130 / kW);
      yuv->data[2][y * yuv->linesize[2] + x] = uint8_t(200 - y * 120 / kH);
    }
  media::FramePtr out = media::MakeFrame();
  out->format = format;
  out->width = kW;
  out->height = kH;
  EXPECT_GE(ff::av_frame_get_buffer(out.get(), 0), 0);
  media::SwsPtr sws(ff::sws_getContext(kW, kH, AV_PIX_FMT_YUV444P, kW, kH, format, SWS_POINT,
                                       nullptr, nullptr, nullptr));
  EXPECT_TRUE(sws);
  ff::sws_scale(sws.get(), yuv->data, yuv->linesize, 0, kH, out->data, out->linesize);
  return out;
}

// Samples of plane p at (x, y) in plane coordinates.
uint8_t Sample(const AVFrame* f, int p, int x, int y) {
  return f->data[p][y * f->linesize[p] + x];
}

class YuvBurnIn : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(runtime::EnsureGuiApplication());
    media::TFFLoader& loader = media::FFLoader();
    if (!loader.Loaded(media::kEncoderLibraries)) {
      ASSERT_TRUE(loader.Load(media::kEncoderLibraries));
    }
  }

  // One frame through the engine's input hook with a subtitle on screen. With `overlay` the
  // handler's query hands over its ready subtitle; the hook event draws it (as the burn-in's
  // handlers do) whenever it is raised.
  struct Run {
    media::FramePtr out;  // a copy of the picture handed on
    int raised = 0;       // hook events
    bool bitmap = false;  // the event had a bitmap
    runtime::TRect area;  // the query's answer
    int renders = 0;      // overlays drawn by the handler
    // The subtitle's premultiplied colour per pixel, 0 where it has no ink.
    std::vector<uint32_t> ink = std::vector<uint32_t>(size_t(kW) * kH);
  };
  static Run Through(const AVFrame* src, const TSubtitleSettings& settings, bool overlay,
                     int bits = 24) {
    Run run;
    TSubtitleTimetable table;
    table.Append(0, "{C:$00FFFF}Żółw|gj");
    TSubtitleHook hook;
    hook.SetSubtitlesOn(true);
    hook.StartConversion(table, settings, 25);
    Engine e;
    engine::TVideoHookEvent event = [&](runtime::TObject*, runtime::TBitmap* b, int n, int64_t pts,
                                        bool& update, bool& stop) {
      ++run.raised;
      run.bitmap = b != nullptr;
      if (b) update = hook.Process(*b, pts, n, stop);
    };
    engine::TVideoHookQuery query = [&](runtime::TObject*, int w, int h, int n, int64_t pts,
                                        bool& stop) -> runtime::TDrawArea {
      run.area = hook.Prepare(w, h, pts, n, stop);
      if (const runtime::TInkOverlay* ink = hook.PreparedOverlay())
        for (const runtime::TInkOverlay::TSpan& span : ink->Spans)
          for (int i = 0; i < span.Length; ++i)
            run.ink[size_t(ink->Area.top + span.Y) * kW + ink->Area.left + span.X + i] =
                ink->Ink[size_t(span.First + i)];
      if (!overlay) return run.area;
      return {run.area, hook.PreparedOverlay()};
    };
    decoder::TRGBConvertContext ctx(bits);
    engine::TOverlayBlender blender;
    media::FramePtr input = media::MakeFrame(), work = media::MakeFrame();
    EXPECT_GE(ff::av_frame_ref(input.get(), src), 0);  // shared: the engine must not write it
    AVFrame* result =
        e.VideoHookCall(ctx, event, input.get(), work.get(), 1, 40000, nullptr, &query, &blender);
    run.out = media::MakeFrame();
    run.out->format = result->format;
    run.out->width = result->width;
    run.out->height = result->height;
    EXPECT_GE(ff::av_frame_get_buffer(run.out.get(), 0), 0);
    EXPECT_GE(ff::av_frame_copy(run.out.get(), result), 0);
    run.renders = hook.Renders();
    return run;
  }
};

TEST_F(YuvBurnIn, TheEngineLaysTheSubtitleWithTheSamplesOfTheBitmapRoundTrip) {
  struct Case {
    AVPixelFormat format;
    int type;
  } cases[] = {
      {AV_PIX_FMT_YUV420P, stPrzezroczyste},    {AV_PIX_FMT_YUV420P, stPolprzezroczyste},
      {AV_PIX_FMT_YUVJ420P, stPrzezroczyste},   {AV_PIX_FMT_YUVJ420P, stPolprzezroczyste},
      {AV_PIX_FMT_YUV422P, stPrzezroczyste},    {AV_PIX_FMT_YUV444P, stPolprzezroczyste},
      {AV_PIX_FMT_YUV444P, stNieprzezroczyste},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ff::av_get_pix_fmt_name(c.format)) + " type " +
                 std::to_string(c.type));
    const media::FramePtr src = Picture(c.format);
    TSubtitleSettings s;
    s.FontType = c.type;
    s.FontVol = 30;
    const Run bitmap = Through(src.get(), s, false);
    const Run laid = Through(src.get(), s, true);
    // The handler without the overlay gets its bitmap; with it, the engine lays it and raises
    // no event. Each draws its subtitle once.
    EXPECT_EQ(bitmap.raised, 1);
    EXPECT_TRUE(bitmap.bitmap);
    EXPECT_EQ(laid.raised, 0);
    EXPECT_EQ(laid.renders, 1);
    ASSERT_GT(laid.area.Width(), 0);
    ASSERT_EQ(laid.out->format, c.format);
    // The source picture (shared) is never written.
    const media::FramePtr fresh = Picture(c.format);
    const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(c.format);
    for (int p = 0; p < 3; ++p) {
      SCOPED_TRACE(p);
      const int sx = p ? d->log2_chroma_w : 0, sy = p ? d->log2_chroma_h : 0;
      const int pw = (kW + (1 << sx) - 1) >> sx, ph = (kH + (1 << sy) - 1) >> sy;
      int drawn = 0, outside = 0, solid = 0, unlike = 0, max_diff = 0;
      for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
          const int o = Sample(fresh.get(), p, x, y);
          ASSERT_EQ(Sample(src.get(), p, x, y), o);
          const int a = Sample(bitmap.out.get(), p, x, y), b = Sample(laid.out.get(), p, x, y);
          drawn += std::abs(b - o) > 10;
          // The pixels this sample stands for, with one more all round: all fully covered in
          // one colour (solid), or not all; any ink on the sample's own pixels.
          bool solid_ink = true, any = false;
          const uint32_t first = laid.ink[size_t(y << sy) * kW + (x << sx)];
          for (int py = (y << sy) - 1; py < ((y + 1) << sy) + 1; ++py)
            for (int px = (x << sx) - 1; px < ((x + 1) << sx) + 1; ++px) {
              const bool own =
                  py >= y << sy && py < (y + 1) << sy && px >= x << sx && px < (x + 1) << sx;
              if (py < 0 || px < 0 || py >= kH || px >= kW) continue;
              const uint32_t c = laid.ink[size_t(py) * kW + px];
              solid_ink = solid_ink && c == first && c >> 24 == 255;
              any = any || (own && c != 0);
            }
          const bool covered = solid_ink;
          // Luma as the bitmap way gives it, but for rounding; chroma too inside a solid colour
          // (at colour edges the bitmap way filters chroma between rows and columns, here a
          // sample takes the average of its pixels).
          if (p == 0 || covered) {
            solid += 1;
            unlike += std::abs(a - b) > (p ? 8 : 4);
            max_diff = std::max(max_diff, std::abs(a - b));
          }
        }
      EXPECT_GT(drawn, p ? 50 : 500);
      EXPECT_GT(solid, p ? 20 : 1000);
      EXPECT_EQ(outside, 0);
      EXPECT_EQ(unlike, 0) << "largest difference " << max_diff;
    }
  }
}

TEST_F(YuvBurnIn, OtherLayoutsAndBitmapsOfFewerColoursGoThroughTheHandlersBitmap) {
  struct Case {
    AVPixelFormat format;
    int bits;
  } cases[] = {
      {AV_PIX_FMT_NV12, 24},      // semi-planar chroma
      {AV_PIX_FMT_RGB24, 24},     // packed RGB
      {AV_PIX_FMT_YUVA420P, 24},  // with an alpha plane
      {AV_PIX_FMT_YUV420P, 8},    // a 3-3-2 palette bitmap
      {AV_PIX_FMT_YUV420P, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ff::av_get_pix_fmt_name(c.format)) + " " + std::to_string(c.bits));
    const media::FramePtr src = Picture(c.format);
    TSubtitleSettings s;
    s.FontType = stPolprzezroczyste;
    const Run laid = Through(src.get(), s, true, c.bits);
    EXPECT_EQ(laid.raised, 1);
    EXPECT_TRUE(laid.bitmap);
    EXPECT_EQ(laid.renders, 1);
    ASSERT_GT(laid.area.Width(), 0);
    // The handler's drawing reached the picture.
    int changed = 0;
    for (int y = laid.area.top; y < laid.area.bottom; ++y)
      for (int x = 0; x < kW * (c.format == AV_PIX_FMT_RGB24 ? 3 : 1); ++x)
        changed += std::abs(Sample(laid.out.get(), 0, x, y) - Sample(src.get(), 0, x, y)) > 10;
    EXPECT_GT(changed, 500);
  }
}

}  // namespace
}  // namespace trelvix::subtitles
