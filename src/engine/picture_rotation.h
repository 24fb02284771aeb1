// Turning decoded pictures upright: a phone clip's display matrix (a quarter, half or
// three-quarter turn, perhaps a mirror) applied to every picture before the input hook and the
// scaler, so what is drawn on the picture and what is encoded is the picture as it is seen. One
// object per input stream, used on the conversion thread only; its filter graph is rebuilt when
// the picture format or size changes.
#pragma once

#include "decoder/display_rotation.h"
#include "engine/picture_filter.h"

namespace trelvix::engine {

// A picture's size after the turn.
struct TPictureSize {
  int width = 0;
  int height = 0;
};
TPictureSize TurnedSize(const decoder::TDisplayRotation& r, int width, int height);

class TPictureRotation {
 public:
  void SetRotation(const decoder::TDisplayRotation& r);
  const decoder::TDisplayRotation& Rotation() const { return rotation_; }
  // True when pictures need turning.
  bool Active() const { return !rotation_.IsIdentity(); }

  // Writes the turned `src` into `dst` (whose previous picture is released): the same pixel
  // format, the properties of `src`, the sides and the sample aspect swapped by a quarter turn.
  // False when a library call fails; `dst` is then empty and `src` untouched.
  bool Process(const AVFrame* src, AVFrame* dst);

 private:
  decoder::TDisplayRotation rotation_;
  TPictureFilter filter_;
};

}  // namespace trelvix::engine
