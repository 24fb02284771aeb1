// Bitmap output: the RGB conversion context at every depth, in place and converted, and the
// decoder's bitmap copies.
#include <gtest/gtest.h>

#include <QImage>
#include <QTransform>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/decoder_messages.h"
#include "decoder/ff_decoder.h"
#include "decoder/rgb_convert.h"
#include "decoder_test_util.h"
#include "fixtures/tracks.h"
#include "media/ff_ptr.h"
#include "media/ffapi.h"
#include "runtime/bitmap.h"
#include "support/log_capture.h"

namespace trelvix::decoder {
namespace {

using runtime::TBitmap;
using runtime::TColor;
using runtime::TPixelFormat;
using testing::ClipCache;

struct Depth {
  int bits;             // as requested
  TPixelFormat format;  // of the bitmap
  int storage_bits;     // per pixel in memory
  int tolerance;        // per channel, for pure colours
};

const Depth kDepths[] = {
    {8, TPixelFormat::pf8bit, 8, 40},    {15, TPixelFormat::pf15bit, 16, 12},
    {16, TPixelFormat::pf16bit, 16, 12}, {24, TPixelFormat::pf24bit, 24, 6},
    {32, TPixelFormat::pf32bit, 32, 6},  {12, TPixelFormat::pf24bit, 24, 6},  // 12 falls back
};

struct Bar {
  TColor color;
  uint8_t y, u, v;  // BT.601 limited range
};
// Red, green, blue, white, black.
const Bar kBars[] = {{runtime::clRed, 81, 90, 240},
                     {runtime::clLime, 145, 54, 34},
                     {runtime::clBlue, 41, 240, 110},
                     {runtime::clWhite, 235, 128, 128},
                     {runtime::clBlack, 16, 128, 128}};
constexpr int kBarCount = 5;

// A YUV 4:2:0 frame of vertical bars in the colours above (bar i spans x = i*w/5 .. (i+1)*w/5).
media::FramePtr MakeBarsFrame(int width, int height) {
  media::FramePtr f = media::MakeFrame();
  f->format = AV_PIX_FMT_YUV420P;
  f->width = width;
  f->height = height;
  EXPECT_GE(ff::av_frame_get_buffer(f.get(), 0), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Bar& b = kBars[x * kBarCount / width];
      f->data[0][y * f->linesize[0] + x] = b.y;
      if (y % 2 == 0 && x % 2 == 0) {
        f->data[1][y / 2 * f->linesize[1] + x / 2] = b.u;
        f->data[2][y / 2 * f->linesize[2] + x / 2] = b.v;
      }
    }
  return f;
}

bool Near(TColor got, TColor want, int tol) {
  return std::abs(runtime::RedOf(got) - runtime::RedOf(want)) <= tol &&
         std::abs(runtime::GreenOf(got) - runtime::GreenOf(want)) <= tol &&
         std::abs(runtime::BlueOf(got) - runtime::BlueOf(want)) <= tol;
}

// The mean colour of a square of 2r+1 pixels around (cx, cy): the 8-bit depth is dithered.
TColor MeanColor(const TBitmap& bmp, int cx, int cy, int r) {
  int sum[3] = {0, 0, 0}, n = 0;
  for (int y = std::max(0, cy - r); y <= std::min(bmp.Height() - 1, cy + r); ++y)
    for (int x = std::max(0, cx - r); x <= std::min(bmp.Width() - 1, cx + r); ++x) {
      const TColor c = bmp.Pixel(x, y);
      sum[0] += runtime::RedOf(c);
      sum[1] += runtime::GreenOf(c);
      sum[2] += runtime::BlueOf(c);
      ++n;
    }
  return runtime::RGBColor(static_cast<uint8_t>(sum[0] / n), static_cast<uint8_t>(sum[1] / n),
                           static_cast<uint8_t>(sum[2] / n));
}

// Checks the middle of every bar (away from the chroma edges) at the top, middle and bottom.
void ExpectBars(const TBitmap& bmp, int tol) {
  const int w = bmp.Width();
  const int r = std::min(3, w / (4 * kBarCount));
  for (int i = 0; i < kBarCount; ++i) {
    const int x = (2 * i + 1) * w / (2 * kBarCount);
    for (int y : {0, bmp.Height() / 2, bmp.Height() - 1}) {
      const TColor got = MeanColor(bmp, x, y, r);
      EXPECT_TRUE(Near(got, kBars[i].color, tol))
          << "bar " << i << " at " << x << "," << y << ": got " << std::hex << got << " want "
          << kBars[i].color;
    }
  }
}

// The frame number shown by a bitmap of any depth.
int BitmapNumber(const TBitmap& bmp) {
  const QImage img = bmp.Image().convertToFormat(QImage::Format_ARGB32);
  return fixtures::ReadFrameNumberRGB(img.constBits(), static_cast<int>(img.bytesPerLine()), 32,
                                      img.width(), img.height());
}

class RGBConvert : public ::testing::Test {
 protected:
  void SetUp() override { testing::LoadLibraries(); }
};

TEST_F(RGBConvert, ColoursAtEveryDepth) {
  const media::FramePtr frame = MakeBarsFrame(80, 16);
  for (const Depth& d : kDepths) {
    SCOPED_TRACE(d.bits);
    TRGBConvertContext ctx(d.bits);
    EXPECT_EQ(ctx.BitsPixel(), d.storage_bits);
    ASSERT_TRUE(ctx.ConvertToRGB(frame.get()));
    ASSERT_NE(ctx.Bitmap(), nullptr);
    const TBitmap& bmp = *ctx.Bitmap();
    EXPECT_EQ(bmp.PixelFormat(), d.format);
    EXPECT_EQ(bmp.Width(), 80);
    EXPECT_EQ(bmp.Height(), 16);
    ExpectBars(bmp, d.tolerance);
    EXPECT_FALSE(ctx.InPlace());

    const TDIB& dib = ctx.DIB();
    EXPECT_EQ(dib.bmWidth, 80);
    EXPECT_EQ(dib.bmHeight, 16);
    EXPECT_EQ(dib.bmPlanes, 1);
    EXPECT_EQ(dib.bmBitsPixel, d.storage_bits);
    EXPECT_EQ(dib.bmWidthBytes, bmp.BytesPerLine());
    EXPECT_EQ(dib.bmBits, ctx.RGBPicture().data[0]);
  }
}

TEST_F(RGBConvert, OddSizesConvert) {
  for (const auto& [w, h] : {std::pair{33, 17}, std::pair{81, 2}, std::pair{2, 9}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const media::FramePtr frame = MakeBarsFrame(w, h);
    TRGBConvertContext ctx(24);
    ASSERT_TRUE(ctx.ConvertToRGB(frame.get()));
    EXPECT_EQ(ctx.Bitmap()->Width(), w);
    EXPECT_EQ(ctx.Bitmap()->Height(), h);
    if (w >= 33) ExpectBars(*ctx.Bitmap(), 16);  // narrow bars: chroma filter overshoot
  }
}

TEST_F(RGBConvert, PictureInTheBitmapFormatIsUsedInPlace) {
  const struct {
    int bits;
    AVPixelFormat fmt;
    int width, height, linesize;
    bool in_place;
  } cases[] = {
      {24, AV_PIX_FMT_BGR24, 64, 32, 192, true},  {32, AV_PIX_FMT_BGRA, 10, 4, 40, true},
      {16, AV_PIX_FMT_RGB565LE, 6, 2, 12, true},  {24, AV_PIX_FMT_BGR24, 33, 32, 100, false},
      {24, AV_PIX_FMT_BGR24, 64, 31, 192, false}, {24, AV_PIX_FMT_BGR24, 64, 32, 256, false},
      {24, AV_PIX_FMT_RGB24, 64, 32, 192, false}, {8, AV_PIX_FMT_BGR8, 6, 2, 8, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.bits << " " << c.width << "x" << c.height);
    std::vector<uint8_t> pixels(static_cast<size_t>(c.linesize) * c.height, 0x40);
    const uint8_t* data[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int linesize[4] = {c.linesize, 0, 0, 0};
    TRGBConvertContext ctx(c.bits);
    ASSERT_TRUE(ctx.ConvertToRGB(data, linesize, c.fmt, false, c.height, c.width));
    EXPECT_EQ(ctx.InPlace(), c.in_place);
    EXPECT_EQ(ctx.RGBPictureRef().data[0] == pixels.data(), c.in_place);
    EXPECT_EQ(ctx.DIB().bmBits == pixels.data(), c.in_place);
    // Either way the bitmap holds the picture.
    const uint8_t expect = 0x40;
    EXPECT_EQ(ctx.Bitmap()->ScanLine(c.height - 1)[0], expect);
  }
}

TEST_F(RGBConvert, BuffersAndScalersAreReused) {
  const media::FramePtr big = MakeBarsFrame(64, 48);
  const media::FramePtr small = MakeBarsFrame(32, 16);
  TRGBConvertContext ctx(24);
  ASSERT_TRUE(ctx.ConvertToRGB(big.get()));
  const uint8_t* buffer = ctx.RGBPicture().data[0];
  const TBitmap* bitmap = ctx.Bitmap();
  ASSERT_TRUE(ctx.ConvertToRGB(big.get()));
  ASSERT_TRUE(ctx.ConvertToRGB(small.get()));  // smaller: the buffer does not shrink
  EXPECT_EQ(ctx.RGBPicture().data[0], buffer);
  EXPECT_EQ(ctx.Bitmap(), bitmap);
  EXPECT_EQ(ctx.Bitmap()->Width(), 32);
  ExpectBars(*ctx.Bitmap(), 6);

  ctx.ResetRGBContext(32);
  EXPECT_EQ(ctx.Bitmap(), nullptr);
  EXPECT_EQ(ctx.RGBPictureRef().data[0], nullptr);
  EXPECT_EQ(ctx.DIB().bmBits, nullptr);
}

TEST_F(RGBConvert, DrawnBitmapGoesBackIntoTheYUVPicture) {
  for (const Depth& d : kDepths) {
    SCOPED_TRACE(d.bits);
    const media::FramePtr frame = MakeBarsFrame(160, 96);
    TRGBConvertContext ctx(d.bits);
    ASSERT_TRUE(ctx.ConvertToRGB(frame.get()));

    // "Draw": the pattern of 4321 in a 32-bit bitmap, brought to the context's depth.
    TBitmap drawn(160, 96, TPixelFormat::pf32bit);
    fixtures::DrawPatternRGB(drawn.Bits(), drawn.BytesPerLine(), 32, 160, 96, 4321);
    drawn.SetPixelFormat(d.format);
    TBitmap& bmp = *ctx.Bitmap();
    for (int y = 0; y < 96; ++y)
      std::memcpy(bmp.ScanLine(y), drawn.ScanLine(y), static_cast<size_t>(bmp.BytesPerLine()));

    ctx.BitmapToRGB();
    ASSERT_TRUE(ctx.ConvertFromRGB(frame.get()));
    EXPECT_EQ(fixtures::ReadFrameNumber(frame->data[0], frame->linesize[0], 160, 96), 4321);
  }
}

TEST_F(RGBConvert, InPlaceRoundTripWritesIntoTheSource) {
  media::FramePtr frame = media::MakeFrame();
  frame->format = AV_PIX_FMT_BGRA;
  frame->width = 64;
  frame->height = 32;
  ASSERT_GE(ff::av_frame_get_buffer(frame.get(), 4), 0);
  ASSERT_EQ(frame->linesize[0], 256);
  fixtures::DrawPatternRGB(frame->data[0], frame->linesize[0], 32, 64, 32, 7);

  TRGBConvertContext ctx(32);
  ASSERT_TRUE(ctx.ConvertToRGB(frame.get()));
  ASSERT_TRUE(ctx.InPlace());
  EXPECT_EQ(BitmapNumber(*ctx.Bitmap()), 7);
  fixtures::DrawPatternRGB(ctx.Bitmap()->Bits(), ctx.Bitmap()->BytesPerLine(), 32, 64, 32, 99);
  ctx.BitmapToRGB();
  ASSERT_TRUE(ctx.ConvertFromRGB(frame.get()));
  EXPECT_EQ(fixtures::ReadFrameNumberRGB(frame->data[0], frame->linesize[0], 32, 64, 32), 99);
}

TEST_F(RGBConvert, NothingToConvertBack) {
  TRGBConvertContext ctx(24);
  const media::FramePtr frame = MakeBarsFrame(16, 16);
  EXPECT_FALSE(ctx.ConvertFromRGB(frame.get()));
  ctx.BitmapToRGB();  // no bitmap yet: nothing happens
}

class DecoderBitmaps : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::LoadLibraries();
    fixtures::ClipSpec spec = fixtures::Preset("mkv");
    spec.seconds = 0.4;
    spec.first_number = 500;
    ASSERT_TRUE(dec_.LoadFile(ClipCache::Get().Clip("bitmaps.mkv", spec))) << dec_.LastErrMsg();
  }
  TFFDecoder dec_;
};

TEST_F(DecoderBitmaps, NoPictureYet) {
  test::LogCapture log;
  log.Allow(msg::kPictureNotReady);
  TBitmap bmp;
  EXPECT_FALSE(dec_.CopyToBitmap(bmp));
  EXPECT_EQ(dec_.LastErrMsg(), msg::kPictureNotReady);
  EXPECT_EQ(dec_.GetBitmapPtr(), nullptr);
}

TEST_F(DecoderBitmaps, DecodedPatternAtEveryDepth) {
  test::LogCapture log;
  ASSERT_TRUE(dec_.Decode());
  ASSERT_TRUE(dec_.Decode());  // frame 501
  for (const Depth& d : kDepths) {
    SCOPED_TRACE(d.bits);
    dec_.SetBitmapBitsPixel(d.bits);
    EXPECT_EQ(dec_.BitmapBitsPixel(), d.bits);
    TBitmap bmp;
    ASSERT_TRUE(dec_.CopyToBitmap(bmp)) << dec_.LastErrMsg();
    EXPECT_EQ(bmp.PixelFormat(), d.format);
    EXPECT_EQ(bmp.Width(), 320);
    EXPECT_EQ(bmp.Height(), 240);
    EXPECT_EQ(BitmapNumber(bmp), 501);
    // The top-left cell is white, the one beside it black.
    EXPECT_TRUE(Near(MeanColor(bmp, 20, 30, 3), runtime::clWhite, d.tolerance));
    EXPECT_TRUE(Near(MeanColor(bmp, 60, 30, 3), runtime::clBlack, d.tolerance));

    const TDIB* dib = dec_.GetBitmapPtr();
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->bmWidth, 320);
    EXPECT_EQ(dib->bmHeight, 240);
    EXPECT_EQ(dib->bmBitsPixel, d.storage_bits);
    if (d.storage_bits >= 24) {
      EXPECT_EQ(fixtures::ReadFrameNumberRGB(static_cast<const uint8_t*>(dib->bmBits),
                                             dib->bmWidthBytes, d.storage_bits, 320, 240),
                501);
    }
  }
}

TEST_F(DecoderBitmaps, OddSizedPicture) {
  test::LogCapture log;
  const std::string png = ClipCache::Get().File("odd.png");
  fixtures::MakePatternPng(png, 99, 45, 77);
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(png));
  ASSERT_TRUE(dec.Decode());
  TBitmap bmp;
  ASSERT_TRUE(dec.CopyToBitmap(bmp));
  EXPECT_EQ(bmp.Width(), 99);
  EXPECT_EQ(bmp.Height(), 45);
  EXPECT_EQ(BitmapNumber(bmp), 77);
}

// ---- Phone clips: the bitmaps show the picture as it is seen

struct TurnCase {
  int rotation;
  bool mirror;
};

void PrintTo(const TurnCase& c, std::ostream* os) {
  *os << c.rotation << (c.mirror ? " mirrored" : "");
}

class TurnedClipBitmaps : public ::testing::TestWithParam<TurnCase> {
 protected:
  void SetUp() override { testing::LoadLibraries(); }
  test::TempDir dir_;
};

// The stored picture again: the mirror undone, then the turn.
QImage TurnedBack(const QImage& shown, const TurnCase& c) {
  const QImage unmirrored = c.mirror ? shown.mirrored(true, false) : shown;
  return unmirrored.transformed(QTransform().rotate(-c.rotation));
}

int ImageNumber(const QImage& image) {
  const QImage img = image.convertToFormat(QImage::Format_ARGB32);
  return fixtures::ReadFrameNumberRGB(img.constBits(), static_cast<int>(img.bytesPerLine()), 32,
                                      img.width(), img.height());
}

TEST_P(TurnedClipBitmaps, AreUprightAtEveryDepth) {
  const TurnCase c = GetParam();
  const std::string clip = dir_.File("phone.mp4");
  fixtures::MakeRotatedClip(clip, c.rotation,
                            {.container = "mp4",
                             .video_codec = "mpeg4",
                             .width = 320,
                             .height = 180,
                             .seconds = 0.2,
                             .gop = 1,
                             .first_number = 300},
                            c.mirror);
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(clip)) << dec.LastErrMsg();
  ASSERT_TRUE(dec.Decode());
  ASSERT_TRUE(dec.Decode());  // frame 301
  // The record keeps the stored picture.
  EXPECT_EQ(dec.FrameInfo().Width, 320);
  EXPECT_EQ(dec.FrameInfo().Height, 180);
  const bool quarter = c.rotation % 180 != 0;
  const int width = quarter ? 180 : 320;
  const int height = quarter ? 320 : 180;
  TBitmap bmp;  // reused from depth to depth, as a caller grabbing pictures reuses it
  for (const Depth& d : kDepths) {
    SCOPED_TRACE(d.bits);
    dec.SetBitmapBitsPixel(d.bits);
    ASSERT_TRUE(dec.CopyToBitmap(bmp)) << dec.LastErrMsg();
    EXPECT_EQ(bmp.PixelFormat(), d.format);
    ASSERT_EQ(bmp.Width(), width);
    ASSERT_EQ(bmp.Height(), height);
    EXPECT_EQ(ImageNumber(TurnedBack(bmp.ToImage(), c)), 301);
    if (quarter) {
      EXPECT_LT(ImageNumber(bmp.ToImage()), 0);  // as stored it does not read
    }

    const TDIB* dib = dec.GetBitmapPtr();
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->bmWidth, width);
    EXPECT_EQ(dib->bmHeight, height);
    EXPECT_EQ(dib->bmBitsPixel, d.storage_bits);
    if (d.storage_bits >= 24) {
      const QImage view(static_cast<const uchar*>(dib->bmBits), dib->bmWidth, dib->bmHeight,
                        dib->bmWidthBytes,
                        d.storage_bits == 32 ? QImage::Format_RGB32 : QImage::Format_BGR888);
      EXPECT_EQ(ImageNumber(TurnedBack(view, c)), 301);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Turns, TurnedClipBitmaps,
                         ::testing::Values(TurnCase{90, false}, TurnCase{270, false},
                                           TurnCase{180, false}, TurnCase{90, true}),
                         [](const auto& info) {
                           return std::to_string(info.param.rotation) +
                                  (info.param.mirror ? "_mirrored" : "");
                         });

}  // namespace
}  // namespace trelvix::decoder
