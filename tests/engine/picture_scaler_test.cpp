// Scaling pictures to the encoder's size: a picture whose rows are partly taken from a band
// scales to the very bytes of the picture with those rows copied in, with and without cropping.
#include <gtest/gtest.h>

#include <string>

#include "engine/engine_test_util.h"
#include "engine/picture_scaler.h"

namespace trelvix::engine {
namespace {

media::FramePtr Frame(AVPixelFormat format, int w, int h) {
  media::FramePtr f = media::MakeFrame();
  f->format = format;
  f->width = w;
  f->height = h;
  EXPECT_GE(ff::av_frame_get_buffer(f.get(), 0), 0);
  return f;
}

// Fills every plane with a pattern that depends on `seed`.
void Fill(AVFrame* f, int seed) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
  for (int p = 0; p < 4 && f->data[p]; ++p) {
    const int h = p == 1 || p == 2 ? -((-f->height) >> d->log2_chroma_h) : f->height;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < f->linesize[p]; ++x)
        f->data[p][y * f->linesize[p] + x] = uint8_t(seed + x * 7 + y * 13 + p * 50);
  }
}

std::string Bytes(const AVFrame* f) {
  std::string out;
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
  for (int p = 0; p < 4 && f->data[p]; ++p) {
    const bool chroma = p == 1 || p == 2;
    const int h = chroma ? -((-f->height) >> d->log2_chroma_h) : f->height;
    const int w = chroma ? -((-f->width) >> d->log2_chroma_w) : f->width;
    for (int y = 0; y < h; ++y)
      out.append(reinterpret_cast<const char*>(f->data[p] + y * f->linesize[p]), size_t(w));
  }
  return out;
}

TEST(PictureScaler, ABandScalesAsIfItsRowsWereCopiedIntoThePicture) {
  testing::LoadLibraries();
  struct Case {
    AVPixelFormat format;
    int band_top, band_rows;
    int crop_top, crop_left, crop_bottom;
  } cases[] = {
      {AV_PIX_FMT_YUV420P, 300, 120, 0, 0, 0},     // in the middle
      {AV_PIX_FMT_YUV420P, 0, 64, 0, 0, 0},        // at the top
      {AV_PIX_FMT_YUV420P, 400, 80, 0, 0, 0},      // down to the last row
      {AV_PIX_FMT_YUV420P, 0, 480, 0, 0, 0},       // the whole picture
      {AV_PIX_FMT_YUV420P, 200, 100, 40, 16, 40},  // cropped
      {AV_PIX_FMT_YUV420P, 10, 100, 40, 0, 0},     // starting above the crop
      {AV_PIX_FMT_YUV420P, 400, 80, 0, 0, 60},     // ending below the crop
      {AV_PIX_FMT_YUV422P, 301, 77, 0, 0, 0},      // odd rows without vertical subsampling
      {AV_PIX_FMT_YUV444P, 100, 50, 0, 0, 0},
  };
  constexpr int kW = 640, kH = 480;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ff::av_get_pix_fmt_name(c.format)) + " band at " +
                 std::to_string(c.band_top));
    const media::FramePtr in = Frame(c.format, kW, kH), band = Frame(c.format, kW, c.band_rows);
    Fill(in.get(), 1);
    Fill(band.get(), 100);
    // The same picture with the band's rows copied in.
    const media::FramePtr whole = Frame(c.format, kW, kH);
    ASSERT_GE(ff::av_frame_copy(whole.get(), in.get()), 0);
    const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(c.format);
    for (int p = 0; p < 3; ++p) {
      const int sy = p ? d->log2_chroma_h : 0, sx = p ? d->log2_chroma_w : 0;
      for (int y = 0; y < c.band_rows >> sy; ++y)
        std::copy_n(band->data[p] + y * band->linesize[p], kW >> sx,
                    whole->data[p] + ((c.band_top >> sy) + y) * whole->linesize[p]);
    }
    const TScaleSpec spec{kW - c.crop_left,
                          kH - c.crop_top - c.crop_bottom,
                          c.format,
                          c.crop_left,
                          c.crop_top,
                          480,
                          320,
                          AV_PIX_FMT_YUV420P,
                          SWS_BICUBIC};
    TPictureScaler banded, direct;
    const media::FramePtr a = Frame(AV_PIX_FMT_YUV420P, 480, 320),
                          b = Frame(AV_PIX_FMT_YUV420P, 480, 320);
    ASSERT_TRUE(banded.Scale(spec, in.get(), a.get(), band.get(), c.band_top));
    ASSERT_TRUE(direct.Scale(spec, whole.get(), b.get()));
    EXPECT_EQ(Bytes(a.get()), Bytes(b.get()));
    // And the band shows: without it the picture scales otherwise.
    ASSERT_TRUE(direct.Scale(spec, in.get(), b.get()));
    EXPECT_NE(Bytes(a.get()), Bytes(b.get()));
  }
}

}  // namespace
}  // namespace trelvix::engine
