// Deinterlacing of decoded pictures: a vertical low-pass over the lines of both fields ("fd" of
// the post-processing filter), picture in, picture out, with no delay. One object per job, used
// on the conversion thread only; it rebuilds its filter graph when the picture format or size
// changes.
#pragma once

#include "engine/picture_filter.h"

namespace trelvix::engine {

class TDeinterlacer {
 public:
  // Lower pictures are not deinterlaced.
  static constexpr int kMinHeight = 32;

  TDeinterlacer();

  // Writes the deinterlaced `src` into `dst` (whose previous picture is released), with the
  // properties of `src`. False when the format or size cannot be deinterlaced or a library call
  // fails; `dst` is then empty and `src` is untouched.
  bool Process(const AVFrame* src, AVFrame* dst);

 private:
  TPictureFilter filter_;
};

}  // namespace trelvix::engine
