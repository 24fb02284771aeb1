// The deinterlacer on pictures made in memory: combing removed, decoder picture untouched,
// formats it cannot take refused, and a change of size handled.
#include "engine/deinterlacer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/engine_test_util.h"

namespace trelvix::engine {
namespace {

// A picture of the format whose luma (or first plane) alternates 0/200 line by line.
media::FramePtr Combed(AVPixelFormat format, int w, int h) {
  media::FramePtr f = media::MakeFrame();
  f->format = format;
  f->width = w;
  f->height = h;
  f->pts = 1234;
  if (ff::av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
  for (int y = 0; y < h; ++y)
    std::memset(f->data[0] + y * f->linesize[0], y % 2 ? 200 : 0, f->linesize[0]);
  for (int p = 1; p < 3 && f->data[p]; ++p) std::memset(f->data[p], 128, f->linesize[p] * (h / 2));
  return f;
}

TEST(Deinterlacer, RemovesTheCombAndKeepsTheSourceAndItsProperties) {
  testing::LoadLibraries();
  TDeinterlacer d;
  media::FramePtr out = media::MakeFrame();
  for (const auto& [w, h] : {std::pair{64, 32}, std::pair{96, 48}}) {  // a new size rebuilds
    SCOPED_TRACE(w);
    media::FramePtr in = Combed(AV_PIX_FMT_YUV420P, w, h);
    ASSERT_TRUE(in);
    ASSERT_TRUE(d.Process(in.get(), out.get()));
    EXPECT_EQ(out->width, w);
    EXPECT_EQ(out->height, h);
    EXPECT_EQ(out->format, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(out->pts, 1234);
    for (int y = 2; y + 3 < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_LT(std::abs(out->data[0][y * out->linesize[0] + x] -
                           out->data[0][(y + 1) * out->linesize[0] + x]),
                  8)
            << "line " << y;
    EXPECT_EQ(in->data[0][in->linesize[0]], 200);  // the source is not written
    EXPECT_NE(out->data[0], in->data[0]);
  }
}

TEST(Deinterlacer, RefusesPicturesItCannotTake) {
  testing::LoadLibraries();
  struct Case {
    const char* name;
    AVPixelFormat format;
    int w, h;
  } cases[] = {{"packed RGB", AV_PIX_FMT_RGB24, 32, 32},
               {"lower than 32 lines", AV_PIX_FMT_YUV420P, 64, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDeinterlacer d;
    media::FramePtr in = Combed(c.format, c.w, c.h);
    ASSERT_TRUE(in);
    media::FramePtr out = media::MakeFrame();
    EXPECT_FALSE(d.Process(in.get(), out.get()));
    EXPECT_EQ(out->data[0], nullptr);
    EXPECT_FALSE(d.Process(in.get(), out.get()));  // and again, without a new attempt to build
    EXPECT_EQ(in->data[0][in->linesize[0]], 200);
    // A picture it can take afterwards works.
    media::FramePtr yuv = Combed(AV_PIX_FMT_YUV420P, 32, 32);
    EXPECT_TRUE(d.Process(yuv.get(), out.get()));
  }
}

}  // namespace
}  // namespace trelvix::engine
