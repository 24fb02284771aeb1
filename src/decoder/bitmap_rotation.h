// Turning a bitmap upright by a display turn (and mirror), pixel for pixel at any bitmap depth,
// into a bitmap the caller keeps: a bitmap of a steady size is reused, so grabbing picture after
// picture allocates nothing. Any thread (one bitmap pair per thread).
#pragma once

#include "decoder/display_rotation.h"
#include "runtime/bitmap.h"

namespace trelvix::decoder {

// Writes `src` turned clockwise by r.Degrees, then mirrored left to right when r.Mirror, into
// `dst`, which takes src's pixel format and the turned size. `src` and `dst` must differ.
void TurnBitmap(const runtime::TBitmap& src, const TDisplayRotation& r, runtime::TBitmap& dst);

}  // namespace trelvix::decoder
