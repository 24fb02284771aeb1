#include "runtime/ink_overlay.h"

#include <atomic>

namespace trelvix::runtime {

std::uint64_t TInkOverlay::NewSerial() {
  static std::atomic<std::uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace trelvix::runtime
