#include "engine/deinterlacer.h"

namespace trelvix::engine {

TDeinterlacer::TDeinterlacer() {
  // A format the filter does not take is refused rather than converted there and back.
  filter_.SetChain("pp=fd", false);
}

bool TDeinterlacer::Process(const AVFrame* src, AVFrame* dst) {
  // The post-processing library reads outside pictures of 16 to 31 lines; anything that low is
  // left as it is.
  if (src->height < kMinHeight) {
    ff::av_frame_unref(dst);
    return false;
  }
  if (!filter_.Run(src, dst)) return false;
  dst->interlaced_frame = 0;
  return true;
}

}  // namespace trelvix::engine
