// TRGBConvertContext: library pictures to device-independent bitmaps and back, at 8, 15, 16, 24
// or 32 bits per pixel.
//
// Used by the decoder for its bitmap output, by the engine's video hooks (decoded frame ->
// bitmap for the handler, and the drawn bitmap -> back into the frame) and by the player. One
// context per user and thread; not thread-safe. The scaler contexts are cached and the RGB
// buffer only grows, so converting pictures of a steady size and format allocates nothing.
//
// A typical hook round trip:
//   ctx.ConvertToRGB(frame);        // frame -> ctx.Bitmap() (and ctx.RGBPictureRef())
//   draw on *ctx.Bitmap();
//   ctx.BitmapToRGB();              // bitmap rows -> RGB picture
//   ctx.ConvertFromRGB(frame);      // RGB picture -> frame, in the frame's own format
// When the source is already in the bitmap's pixel format with even size and 32-bit aligned
// lines, it is used in place: RGBPictureRef() then is the source's own planes, and BitmapToRGB
// writes into the source picture, which must then be writable and outlive that use.
//
// A user that changes only a part of the picture converts just that:
//   ctx.ConvertRectToRGB(frame, rect);  // that part -> the same part of ctx.Bitmap()
//   draw inside rect on *ctx.Bitmap();
//   ctx.ConvertRectFromRGB(copy);       // that part -> the same part of copy
#pragma once

#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "media/ff_ptr.h"
#include "runtime/bitmap.h"

struct AVFrame;

namespace trelvix::decoder {

// Four plane pointers and their line sizes in bytes.
struct TAVPicture {
  uint8_t* data[4] = {nullptr, nullptr, nullptr, nullptr};
  int linesize[4] = {0, 0, 0, 0};
};

// The description of a device-independent bitmap (the Windows BITMAP record): top-down rows of
// bmWidthBytes bytes each.
struct TDIB {
  int32_t bmType = 0;
  int32_t bmWidth = 0;
  int32_t bmHeight = 0;
  int32_t bmWidthBytes = 0;
  uint16_t bmPlanes = 0;
  uint16_t bmBitsPixel = 0;
  void* bmBits = nullptr;
};

class TRGBConvertContext {
 public:
  explicit TRGBConvertContext(int bits = 24) { ResetRGBContext(bits); }
  TRGBConvertContext(const TRGBConvertContext&) = delete;
  TRGBConvertContext& operator=(const TRGBConvertContext&) = delete;
  ~TRGBConvertContext();

  // Frees the bitmap, the buffer and both scaler contexts and sets the depth:
  //   8 -> BGR8 (3-3-2), 15 -> RGB555LE (16 bits), 16 -> RGB565LE, 32 -> BGRA, else 24 (BGR24).
  void ResetRGBContext(int bits);

  // Converts a picture of width x height into the RGB picture (or takes it in place) and,
  // unless skip_bitmap, copies it into Bitmap(). False when no scaler context can be made.
  bool ConvertToRGB(const uint8_t* const src_data[4], const int src_linesize[4],
                    AVPixelFormat src_fmt, bool skip_bitmap, int height, int width);
  bool ConvertToRGB(const AVFrame* frame, bool skip_bitmap = false);
  // Scales RGBPictureRef() into the destination picture of the same size. False when no scaler
  // context can be made or there is no RGB picture yet.
  bool ConvertFromRGB(uint8_t* const dst_data[4], const int dst_linesize[4], AVPixelFormat dst_fmt,
                      int height, int width);
  bool ConvertFromRGB(AVFrame* frame);

  // Converts the part `rect` of the picture straight into the same part of Bitmap(), which
  // takes the picture's size; the bitmap's other pixels keep what they held (an earlier picture,
  // or black). The part grows to whole chroma samples and 32-pixel columns, and is cut to the
  // picture; Rect() tells the part converted. Never in place. False when the part is empty or no
  // scaler context can be made.
  bool ConvertRectToRGB(const AVFrame* frame, const runtime::TRect& rect);
  // The part of the last ConvertRectToRGB: from Bitmap() into the same part of frame (a picture
  // of the size and format converted then); the frame's other pixels are not touched.
  bool ConvertRectFromRGB(AVFrame* frame);
  const runtime::TRect& Rect() const { return FRect; }

  // Row copies between Bitmap() and RGBPictureRef() plane 0 (no-ops without either).
  void BitmapToRGB();
  void RGBToBitmap();

  int BitsPixel() const { return FBitsPixel; }  // 8, 16, 24 or 32
  AVPixelFormat RGBPixFmt() const { return FRGBPixFmt; }
  runtime::TPixelFormat BMPPixFmt() const { return FBMPPixFmt; }
  const TDIB& DIB() const { return FDIB; }
  // The output bitmap, owned by the context (null before the first conversion with bitmap).
  runtime::TBitmap* Bitmap() const { return FBitmap.get(); }
  const TAVPicture& RGBPicture() const { return FRGBPicture; }
  // The picture holding the RGB pixels now: RGBPicture(), or the source's planes when it was
  // used in place.
  const TAVPicture& RGBPictureRef() const { return FRGBPictureRef; }
  bool InPlace() const { return FInPlace; }

 private:
  int FBitsPixel = 24;
  AVPixelFormat FRGBPixFmt = AV_PIX_FMT_BGR24;
  runtime::TPixelFormat FBMPPixFmt = runtime::TPixelFormat::pf24bit;
  TDIB FDIB;
  std::unique_ptr<runtime::TBitmap> FBitmap;
  media::AvMemPtr<uint8_t> FRGBBuf;
  int FRGBBufSize = 0;
  TAVPicture FRGBPicture;
  TAVPicture FRGBPictureRef;
  bool FInPlace = false;
  runtime::TRect FRect;
  media::SwsPtr FToRGB;    // toRGB_convert_ctx
  media::SwsPtr FFromRGB;  // fromRGB_convert_ctx
};

}  // namespace trelvix::decoder
