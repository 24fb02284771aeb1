#include "decoder/rgb_convert.h"

#include <algorithm>
#include <cstring>

#include "media/ffapi.h"

namespace trelvix::decoder {
namespace {

// RGB pictures and bitmaps keep 32-bit aligned rows.
constexpr int kRowAlign = 4;

int AlignedRowBytes(int width, int bits) {
  return ((width * bits + 31) / 32) * 4;
}

// Columns of a part converted on its own start and end on this many pixels, which keeps the
// scaler's rows aligned and covers every chroma subsampling.
constexpr int kPartColumns = 32;

// Plane pointers of a picture at pixel (x, y), for formats whose planes hold whole pixels (x and
// y multiples of the chroma subsampling); false for others (bit-packed, palette, hardware).
bool PlanesAt(const AVFrame* frame, int x, int y, uint8_t* data[4]) {
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (!d ||
      (d->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL)))
    return false;
  for (int p = 0; p < 4; ++p) {
    data[p] = frame->data[p];
    if (!data[p]) continue;
    // The bytes from one pixel to the next in this plane: the step of its first component.
    int step = 0;
    for (int c = d->nb_components - 1; c >= 0; --c)
      if (d->comp[c].plane == p) step = d->comp[c].step;
    const bool chroma = (p == 1 || p == 2) && !(d->flags & AV_PIX_FMT_FLAG_RGB);
    const int px = chroma ? x >> d->log2_chroma_w : x;
    const int py = chroma ? y >> d->log2_chroma_h : y;
    data[p] += static_cast<ptrdiff_t>(py) * frame->linesize[p] + static_cast<ptrdiff_t>(px) * step;
  }
  return true;
}

}  // namespace

TRGBConvertContext::~TRGBConvertContext() = default;

void TRGBConvertContext::ResetRGBContext(int bits) {
  FBitmap.reset();
  FRGBBuf.reset();
  FToRGB.reset();
  FFromRGB.reset();
  switch (bits) {
    case 8:
      FBitsPixel = 8;
      FRGBPixFmt = AV_PIX_FMT_BGR8;
      FBMPPixFmt = runtime::TPixelFormat::pf8bit;
      break;
    case 15:
      FBitsPixel = 16;
      FRGBPixFmt = AV_PIX_FMT_RGB555LE;
      FBMPPixFmt = runtime::TPixelFormat::pf15bit;
      break;
    case 16:
      FBitsPixel = 16;
      FRGBPixFmt = AV_PIX_FMT_RGB565LE;
      FBMPPixFmt = runtime::TPixelFormat::pf16bit;
      break;
    case 32:
      FBitsPixel = 32;
      FRGBPixFmt = AV_PIX_FMT_BGRA;
      FBMPPixFmt = runtime::TPixelFormat::pf32bit;
      break;
    default:
      FBitsPixel = 24;
      FRGBPixFmt = AV_PIX_FMT_BGR24;
      FBMPPixFmt = runtime::TPixelFormat::pf24bit;
      break;
  }
  FRGBBufSize = 0;
  FDIB = TDIB{};
  FRGBPicture = TAVPicture{};
  FRGBPictureRef = TAVPicture{};
  FInPlace = false;
}

bool TRGBConvertContext::ConvertToRGB(const uint8_t* const src_data[4], const int src_linesize[4],
                                      AVPixelFormat src_fmt, bool skip_bitmap, int height,
                                      int width) {
  if (width <= 0 || height <= 0) return false;
  if (!skip_bitmap) {
    if (!FBitmap) {
      FBitmap = std::make_unique<runtime::TBitmap>(width, height, FBMPPixFmt);
      FBitmap->Canvas().Brush().style = runtime::TBrushStyle::bsClear;
    } else {
      FBitmap->SetSize(width, height);
    }
  }

  const bool needed = src_fmt != FRGBPixFmt || (width % 2) != 0 || (height % 2) != 0 ||
                      src_linesize[0] != AlignedRowBytes(width, FBitsPixel);
  if (needed) {
    const int size = ff::av_image_get_buffer_size(FRGBPixFmt, width, height, kRowAlign);
    if (size < 0) return false;
    if (!FRGBBuf || FRGBBufSize < size) {
      FRGBBuf.reset();
      FRGBBuf.reset(static_cast<uint8_t*>(ff::av_malloc(static_cast<size_t>(size))));
      FRGBBufSize = FRGBBuf ? size : 0;
      if (!FRGBBuf) return false;
    }
    ff::av_image_fill_arrays(FRGBPicture.data, FRGBPicture.linesize, FRGBBuf.get(), FRGBPixFmt,
                             width, height, kRowAlign);
    FToRGB.reset(ff::sws_getCachedContext(FToRGB.release(), width, height, src_fmt, width, height,
                                          FRGBPixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!FToRGB) return false;
    ff::sws_scale(FToRGB.get(), src_data, src_linesize, 0, height, FRGBPicture.data,
                  FRGBPicture.linesize);
    FRGBPictureRef = FRGBPicture;
    FInPlace = false;
  } else {
    for (int i = 0; i < 4; ++i) {
      FRGBPictureRef.data[i] = const_cast<uint8_t*>(src_data[i]);
      FRGBPictureRef.linesize[i] = src_linesize[i];
    }
    FInPlace = true;
  }

  FDIB.bmType = 0;
  FDIB.bmWidth = width;
  FDIB.bmHeight = height;
  FDIB.bmWidthBytes = FRGBPictureRef.linesize[0];
  FDIB.bmPlanes = 1;
  FDIB.bmBitsPixel = static_cast<uint16_t>(FBitsPixel);
  FDIB.bmBits = FRGBPictureRef.data[0];

  if (!skip_bitmap) RGBToBitmap();
  return true;
}

bool TRGBConvertContext::ConvertToRGB(const AVFrame* frame, bool skip_bitmap) {
  return ConvertToRGB(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format),
                      skip_bitmap, frame->height, frame->width);
}

bool TRGBConvertContext::ConvertRectToRGB(const AVFrame* frame, const runtime::TRect& rect) {
  const int width = frame->width, height = frame->height;
  const AVPixFmtDescriptor* d = ff::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (width <= 0 || height <= 0 || !d) return false;
  const int rows = 1 << d->log2_chroma_h;
  const int left = std::clamp(rect.left, 0, width) / kPartColumns * kPartColumns;
  const int right = std::min(
      width, (std::clamp(rect.right, 0, width) + kPartColumns - 1) / kPartColumns * kPartColumns);
  const int top = std::clamp(rect.top, 0, height) / rows * rows;
  const int bottom =
      std::min(height, (std::clamp(rect.bottom, 0, height) + rows - 1) / rows * rows);
  if (right <= left || bottom <= top) return false;
  uint8_t* src[4];
  if (!PlanesAt(frame, left, top, src)) return false;
  if (!FBitmap) {
    FBitmap = std::make_unique<runtime::TBitmap>(width, height, FBMPPixFmt);
    FBitmap->Canvas().Brush().style = runtime::TBrushStyle::bsClear;
  } else {
    FBitmap->SetSize(width, height);
  }
  FToRGB.reset(ff::sws_getCachedContext(
      FToRGB.release(), right - left, bottom - top, static_cast<AVPixelFormat>(frame->format),
      right - left, bottom - top, FRGBPixFmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!FToRGB) return false;
  uint8_t* const dst[4] = {FBitmap->ScanLine(top) + left * (FBitsPixel / 8), nullptr, nullptr,
                           nullptr};
  const int dst_linesize[4] = {FBitmap->BytesPerLine(), 0, 0, 0};
  ff::sws_scale(FToRGB.get(), src, frame->linesize, 0, bottom - top, dst, dst_linesize);
  FRect = {left, top, right, bottom};
  FInPlace = false;
  return true;
}

bool TRGBConvertContext::ConvertRectFromRGB(AVFrame* frame) {
  const int w = FRect.Width(), h = FRect.Height();
  if (!FBitmap || w <= 0 || h <= 0 || FRect.right > frame->width || FRect.bottom > frame->height ||
      FRect.right > FBitmap->Width() || FRect.bottom > FBitmap->Height())
    return false;
  uint8_t* dst[4];
  if (!PlanesAt(frame, FRect.left, FRect.top, dst)) return false;
  FFromRGB.reset(ff::sws_getCachedContext(FFromRGB.release(), w, h, FRGBPixFmt, w, h,
                                          static_cast<AVPixelFormat>(frame->format), SWS_BICUBIC,
                                          nullptr, nullptr, nullptr));
  if (!FFromRGB) return false;
  const uint8_t* const src[4] = {FBitmap->ScanLine(FRect.top) + FRect.left * (FBitsPixel / 8),
                                 nullptr, nullptr, nullptr};
  const int src_linesize[4] = {FBitmap->BytesPerLine(), 0, 0, 0};
  ff::sws_scale(FFromRGB.get(), src, src_linesize, 0, h, dst, frame->linesize);
  return true;
}

bool TRGBConvertContext::ConvertFromRGB(uint8_t* const dst_data[4], const int dst_linesize[4],
                                        AVPixelFormat dst_fmt, int height, int width) {
  if (!FRGBPictureRef.data[0] || width <= 0 || height <= 0) return false;
  // A picture used in place already holds the pixels.
  if (FInPlace && dst_fmt == FRGBPixFmt && dst_data[0] == FRGBPictureRef.data[0]) return true;
  FFromRGB.reset(ff::sws_getCachedContext(FFromRGB.release(), width, height, FRGBPixFmt, width,
                                          height, dst_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!FFromRGB) return false;
  ff::sws_scale(FFromRGB.get(), FRGBPictureRef.data, FRGBPictureRef.linesize, 0, height, dst_data,
                dst_linesize);
  return true;
}

bool TRGBConvertContext::ConvertFromRGB(AVFrame* frame) {
  return ConvertFromRGB(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format),
                        frame->height, frame->width);
}

void TRGBConvertContext::BitmapToRGB() {
  if (!FBitmap || !FRGBPictureRef.data[0]) return;
  const int rows = std::min(FBitmap->Height(), FDIB.bmHeight);
  const int bytes = std::min(FRGBPictureRef.linesize[0], FBitmap->BytesPerLine());
  for (int y = 0; y < rows; ++y)
    std::memcpy(FRGBPictureRef.data[0] + static_cast<ptrdiff_t>(y) * FRGBPictureRef.linesize[0],
                FBitmap->ScanLine(y), static_cast<size_t>(bytes));
}

void TRGBConvertContext::RGBToBitmap() {
  if (!FBitmap || !FRGBPictureRef.data[0]) return;
  const int rows = std::min(FBitmap->Height(), FDIB.bmHeight);
  const int bytes = std::min(FRGBPictureRef.linesize[0], FBitmap->BytesPerLine());
  for (int y = 0; y < rows; ++y)
    std::memcpy(FBitmap->ScanLine(y),
                FRGBPictureRef.data[0] + static_cast<ptrdiff_t>(y) * FRGBPictureRef.linesize[0],
                static_cast<size_t>(bytes));
}

}  // namespace trelvix::decoder
