#include "decoder/display_rotation.h"

#include <cmath>
#include <cstring>

#include "media/ffapi.h"

namespace trelvix::decoder {

TDisplayRotation RotationOfDisplayMatrix(const int32_t matrix[9]) {
  TDisplayRotation r;
  // A negative determinant of the 2x2 part is a mirror applied after the turn; undo it (negate
  // the first column) to read the turn itself.
  int32_t m[9];
  for (int i = 0; i < 9; ++i) m[i] = matrix[i];
  const double det = double(m[0]) * m[4] - double(m[1]) * m[3];
  if (det < 0) {
    r.Mirror = true;
    m[0] = -m[0];
    m[3] = -m[3];
    m[6] = -m[6];
  }
  // The library reports the counter-clockwise angle the matrix turns by, negated.
  const double ccw = ff::av_display_rotation_get(m);
  if (std::isnan(ccw)) return {};
  int quarter = static_cast<int>(std::lround(-ccw / 90.0)) % 4;
  if (quarter < 0) quarter += 4;
  r.Degrees = quarter * 90;
  return r;
}

TDisplayRotation StreamDisplayRotation(const AVStream* st) {
  if (!st) return {};
  size_t size = 0;
  const uint8_t* data = ff::av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!data || size < 9 * sizeof(int32_t)) return {};
  int32_t matrix[9];
  for (int i = 0; i < 9; ++i) {
    // Side data holds the values in native byte order.
    const uint8_t* p = data + i * sizeof(int32_t);
    std::memcpy(&matrix[i], p, sizeof(int32_t));
  }
  return RotationOfDisplayMatrix(matrix);
}

std::string RotationFilterChain(const TDisplayRotation& r) {
  std::string chain;
  switch (r.Degrees) {
    case 90:
      chain = "transpose=clock";
      break;
    case 180:
      chain = "hflip,vflip";
      break;
    case 270:
      chain = "transpose=cclock";
      break;
    default:
      break;
  }
  if (r.Mirror) chain += chain.empty() ? "hflip" : ",hflip";
  return chain;
}

}  // namespace trelvix::decoder
