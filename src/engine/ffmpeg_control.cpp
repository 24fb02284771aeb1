// The post-hook set.
#include "engine/ffmpeg.h"
#include "media/ff_log.h"

namespace trelvix::engine {

// Stop, Pause, Resume, Abort and DoTerminate belong to the worker thread: ffmpeg_thread.cpp.

void TCustomFFmpeg::SetPostHooks(TPostHooks hooks) {
  std::shared_ptr<TPreviewWindow> closed;
  {
    std::lock_guard lock(PostHookLock());
    closed = StorePostHooks(hooks);
  }
  // A closed window goes away here, outside the lock: its end may wait for the main thread.
}

std::shared_ptr<TPreviewWindow> TCustomFFmpeg::StorePostHooks(TPostHooks hooks) {
  std::shared_ptr<TPreviewWindow> closed;
  if (hooks == FPostHooks) return closed;
  if (!(hooks & PostHookBit(phPreview))) closed = std::move(FPreviewer);
  FPostHooks = hooks;
  FPostHooksChanged = true;
  return closed;
}

void TCustomFFmpeg::DropPostHooks(TPostHooks bits) {
  std::shared_ptr<TPreviewWindow> closed;
  std::lock_guard lock(PostHookLock());
  closed = StorePostHooks(static_cast<TPostHooks>(FPostHooks & ~bits));
  // Declared before the guard, so the window is let go of after the lock is released.
}

TPostHooks TCustomFFmpeg::PostHooks() const {
  return FPostHooks.load();
}

}  // namespace trelvix::engine
