// The post-hook set.
#include "engine/ffmpeg.h"
#include "media/ff_log.h"

namespace trelvix::engine {

// Stop, Pause, Resume, Abort and DoTerminate belong to the worker thread: ffmpeg_thread.cpp.

void TCustomFFmpeg::SetPostHooks(TPostHooks hooks) {
  std::lock_guard lock(PostHookLock());
  StorePostHooks(hooks);
}

void TCustomFFmpeg::StorePostHooks(TPostHooks hooks) {
  if (hooks == FPostHooks) return;
  if (!(hooks & PostHookBit(phPreview))) FPreviewer.reset();
  FPostHooks = hooks;
  FPostHooksChanged = true;
}

TPostHooks TCustomFFmpeg::PostHooks() const {
  std::lock_guard lock(PostHookLock());
  return FPostHooks;
}

}  // namespace trelvix::engine
