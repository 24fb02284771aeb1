#include "engine/preview_window.h"

#include <mutex>

namespace trelvix::engine {
namespace {

struct TFactorySlot {
  std::mutex lock;
  TPreviewWindowFactory factory;
};

TFactorySlot& Slot() {
  static TFactorySlot slot;
  return slot;
}

}  // namespace

void SetPreviewWindowFactory(TPreviewWindowFactory factory) {
  TFactorySlot& s = Slot();
  std::lock_guard lock(s.lock);
  s.factory = std::move(factory);
}

std::unique_ptr<TPreviewWindow> CreatePreviewWindow() {
  TPreviewWindowFactory f;
  {
    TFactorySlot& s = Slot();
    std::lock_guard lock(s.lock);
    f = s.factory;
  }
  return f ? f() : nullptr;
}

}  // namespace trelvix::engine
