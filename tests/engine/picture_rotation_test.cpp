// Turning pictures upright on pictures made in memory: where two marked pixels land for each turn
// and mirror, the size, sample aspect, format and properties of the result, a change of size.
#include "engine/picture_rotation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/engine_test_util.h"

namespace trelvix::engine {
namespace {

// A black picture of the format with two bright pixels on the first plane: (0, 0) and (1, 0).
media::FramePtr Marked(AVPixelFormat format, int w, int h) {
  media::FramePtr f = media::MakeFrame();
  f->format = format;
  f->width = w;
  f->height = h;
  f->pts = 4321;
  f->sample_aspect_ratio = {4, 3};
  if (ff::av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
  for (int p = 0; p < 4 && f->data[p]; ++p)
    std::memset(f->data[p], p == 0 ? 16 : 128, f->linesize[p] * size_t(p == 0 ? h : (h + 1) / 2));
  f->data[0][0] = 235;
  f->data[0][1] = 200;
  return f;
}

struct TurnCase {
  int degrees;
  bool mirror;
  int x0, y0;  // where (0, 0) lands
  int x1, y1;  // where (1, 0) lands
};

TEST(PictureRotation, EveryTurnAndMirrorMovesThePixelsWhereTheyAreSeen) {
  testing::LoadLibraries();
  constexpr int w = 16, h = 8;
  const TurnCase cases[] = {
      {90, false, h - 1, 0, h - 1, 1},  {180, false, w - 1, h - 1, w - 2, h - 1},
      {270, false, 0, w - 1, 0, w - 2}, {90, true, 0, 0, 0, 1},
      {0, true, w - 1, 0, w - 2, 0},
  };
  for (const TurnCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.degrees) + (c.mirror ? " mirrored" : ""));
    TPictureRotation r;
    r.SetRotation({c.degrees, c.mirror});
    ASSERT_TRUE(r.Active());
    media::FramePtr in = Marked(AV_PIX_FMT_YUV420P, w, h);
    media::FramePtr out = media::MakeFrame();
    ASSERT_TRUE(r.Process(in.get(), out.get()));
    const bool swapped = c.degrees % 180 != 0;
    EXPECT_EQ(out->width, swapped ? h : w);
    EXPECT_EQ(out->height, swapped ? w : h);
    EXPECT_EQ(out->format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(out->pts, 4321);
    EXPECT_EQ(out->sample_aspect_ratio.num, swapped ? 3 : 4);
    EXPECT_EQ(out->sample_aspect_ratio.den, swapped ? 4 : 3);
    EXPECT_EQ(out->data[0][c.y0 * out->linesize[0] + c.x0], 235);
    EXPECT_EQ(out->data[0][c.y1 * out->linesize[0] + c.x1], 200);
    // The source is left as it was.
    EXPECT_EQ(in->data[0][0], 235);
    EXPECT_EQ(in->width, w);
  }
}

TEST(PictureRotation, KeepsOtherFormatsAndFollowsAChangeOfSize) {
  testing::LoadLibraries();
  TPictureRotation r;
  r.SetRotation({90, false});
  media::FramePtr out = media::MakeFrame();
  for (const auto& [format, w, h] :
       {std::tuple{AV_PIX_FMT_YUV420P, 32, 16}, std::tuple{AV_PIX_FMT_YUV420P, 48, 24},
        std::tuple{AV_PIX_FMT_YUV422P, 32, 16}, std::tuple{AV_PIX_FMT_NV12, 32, 16}}) {
    SCOPED_TRACE(ff::av_get_pix_fmt_name(format));
    media::FramePtr in = Marked(format, w, h);
    ASSERT_TRUE(in);
    ASSERT_TRUE(r.Process(in.get(), out.get()));
    EXPECT_EQ(out->format, format);
    EXPECT_EQ(out->width, h);
    EXPECT_EQ(out->height, w);
  }
}

TEST(PictureRotation, NoTurnIsNotActive) {
  testing::LoadLibraries();
  TPictureRotation r;
  EXPECT_FALSE(r.Active());
  media::FramePtr in = Marked(AV_PIX_FMT_YUV420P, 16, 8);
  media::FramePtr out = media::MakeFrame();
  EXPECT_FALSE(r.Process(in.get(), out.get()));
  EXPECT_EQ(TurnedSize({90, false}, 640, 360).width, 360);
  EXPECT_EQ(TurnedSize({180, true}, 640, 360).width, 640);
}

}  // namespace
}  // namespace trelvix::engine
