// The engine's own preview window, painted from the conversion thread when a job's post hooks
// include phPreview. The engine knows only this interface; the window system front end installs
// a factory for its window once at start-up. Without one, phPreview has nothing to paint and
// leaves the job's post-hook set at its first run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace trelvix::runtime {
class TBitmap;
}

namespace trelvix::engine {

class TPreviewWindow {
 public:
  virtual ~TPreviewWindow() = default;
  // Shows the picture; called on a conversion thread (an implementation hands the painting to
  // the main thread). False once the user has closed the window: no more frames are sent.
  virtual bool PaintFrame(runtime::TBitmap* bitmap, int frame_number, int64_t pts) = 0;
};

using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>()>;

// Process-wide; thread-safe. An empty factory removes the installed one.
void SetPreviewWindowFactory(TPreviewWindowFactory factory);
// A new window from the installed factory; null when none is installed or it gave none.
std::unique_ptr<TPreviewWindow> CreatePreviewWindow();

}  // namespace trelvix::engine
