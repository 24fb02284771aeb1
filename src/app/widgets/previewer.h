// TPreviewer: the engine's own preview window. The engine calls PaintFrame on a conversion
// thread; the painting runs on the GUI thread (through the main-thread queue) while the caller
// waits. The window appears with the first frame: always on top, a tool window with only a close
// box, centred on the screen, its client area the size of the frame; its caption is the frame's
// time; it can be dragged by its picture. Once the user closes it, PaintFrame returns false for
// the rest of the job.
#pragma once

#include <QImage>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/preview_window.h"

class QWidget;

namespace trelvix::app {

class TPreviewer final : public engine::TPreviewWindow {
 public:
  TPreviewer();
  // Frees the window on the GUI thread (waiting for it when called from another thread).
  ~TPreviewer() override;
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Any thread. bitmap is the engine's and is only read during the call.
  bool PaintFrame(runtime::TBitmap* bitmap, int frame_number, int64_t pts) override;

  // The window, null before the first frame. GUI thread.
  QWidget* Window() const;
  bool Closed() const { return FClosed.load(); }
  int FrameNumber() const { return FFrameNumber; }
  int64_t PTS() const { return FPTS; }

 private:
  class TForm;

  void PaintStep(const runtime::TBitmap& bitmap);

  std::unique_ptr<TForm> FForm;  // GUI thread only
  std::atomic<bool> FClosed{false};
  int FFrameNumber = 0;
  int64_t FPTS = 0;
};

// Makes the engine open a TPreviewer for each job that asks for a preview window. Call once on
// the GUI thread after the application object exists.
void InstallPreviewerFactory();

}  // namespace trelvix::app
