#include "decoder/bitmap_rotation.h"

#include <cstring>

namespace trelvix::decoder {

void TurnBitmap(const runtime::TBitmap& src, const TDisplayRotation& r, runtime::TBitmap& dst) {
  const int w = src.Width();
  const int h = src.Height();
  const int dw = r.SwapsSides() ? h : w;
  const int dh = r.SwapsSides() ? w : h;
  if (dst.PixelFormat() != src.PixelFormat()) dst.SetPixelFormat(src.PixelFormat());
  dst.SetSize(dw, dh);
  if (src.Empty()) return;
  const int bpp = (src.BitsPerPixel() + 7) / 8;
  for (int y = 0; y < dh; ++y) {
    uint8_t* out = dst.ScanLine(y);
    for (int x = 0; x < dw; ++x) {
      // The pixel of the turned picture at (tx, y), before the mirror.
      const int tx = r.Mirror ? dw - 1 - x : x;
      int sx = tx;
      int sy = y;
      switch (r.Degrees) {
        case 90:  // source (sx, sy) lands on (h - 1 - sy, sx)
          sx = y;
          sy = h - 1 - tx;
          break;
        case 180:
          sx = w - 1 - tx;
          sy = h - 1 - y;
          break;
        case 270:  // source (sx, sy) lands on (sy, w - 1 - sx)
          sx = w - 1 - y;
          sy = tx;
          break;
        default:
          break;
      }
      std::memcpy(out + x * bpp, src.ScanLine(sy) + sx * bpp, bpp);
    }
  }
}

}  // namespace trelvix::decoder
