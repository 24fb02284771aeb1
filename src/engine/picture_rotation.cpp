#include "engine/picture_rotation.h"

namespace trelvix::engine {

TPictureSize TurnedSize(const decoder::TDisplayRotation& r, int width, int height) {
  return r.SwapsSides() ? TPictureSize{height, width} : TPictureSize{width, height};
}

void TPictureRotation::SetRotation(const decoder::TDisplayRotation& r) {
  rotation_ = r;
  // A format the turning filters do not take is converted there and back.
  filter_.SetChain(decoder::RotationFilterChain(r), true);
}

bool TPictureRotation::Process(const AVFrame* src, AVFrame* dst) {
  if (!Active()) {
    ff::av_frame_unref(dst);
    return false;
  }
  if (!filter_.Run(src, dst)) return false;
  const AVRational sar = src->sample_aspect_ratio;
  if (rotation_.SwapsSides() && sar.num > 0 && sar.den > 0)
    dst->sample_aspect_ratio = {sar.den, sar.num};
  return true;
}

}  // namespace trelvix::engine
