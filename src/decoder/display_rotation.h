// How a video stream is to be turned for display: phones store the picture as the sensor gave
// it and add a display matrix that turns (and sometimes mirrors) it. Any thread.
#pragma once

#include <cstdint>
#include <string>

struct AVStream;

namespace trelvix::decoder {

struct TDisplayRotation {
  // Clockwise turn that shows the stored picture upright: 0, 90, 180 or 270.
  int Degrees = 0;
  // After the turn, the picture is mirrored left to right.
  bool Mirror = false;

  bool IsIdentity() const { return Degrees == 0 && !Mirror; }
  // True when the turn swaps width and height.
  bool SwapsSides() const { return Degrees == 90 || Degrees == 270; }
  bool operator==(const TDisplayRotation&) const = default;
};

// The turn a display matrix (nine 16.16 and 2.30 fixed-point values, the library's layout)
// describes, to the nearest quarter turn.
TDisplayRotation RotationOfDisplayMatrix(const int32_t matrix[9]);
// The turn of a stream's display matrix; no turn when the stream has none.
TDisplayRotation StreamDisplayRotation(const AVStream* st);

// The filter chain (for the filter library) that applies the turn: "transpose=clock",
// "hflip,vflip", "transpose=cclock", with ",hflip" after it for a mirror; empty for none.
std::string RotationFilterChain(const TDisplayRotation& r);

}  // namespace trelvix::decoder
