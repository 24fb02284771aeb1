// THostBinding: ties the player's video surface to the host widget while a playback runs.
//
// An event filter on the host widget: paints the surface into the widget, reports resizes and
// exposures to the player (as the play thread's resize and expose events) and swallows close
// requests while the player owns the widget. Created, used and destroyed on the widget's (GUI)
// thread; the play thread only switches it off (SetActive) and asks for repaints
// (RequestRepaint), both from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace trelvix::player {

class TVideoSurface;

class THostBinding : public QObject {
 public:
  using TResizeFn = std::function<void(int w, int h)>;
  using TExposeFn = std::function<void()>;

  THostBinding(QWidget* host, std::shared_ptr<TVideoSurface> surface, TResizeFn on_resize,
               TExposeFn on_expose);
  ~THostBinding() override;

  QWidget* Host() const { return FHost.data(); }  // GUI thread
  void SetActive(bool v) { FActive = v; }
  bool Active() const { return FActive; }
  // Asks the GUI thread to repaint the host; repeated requests before it ran collapse into one.
  void RequestRepaint();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> FHost;
  std::shared_ptr<TVideoSurface> FSurface;
  TResizeFn FOnResize;
  TExposeFn FOnExpose;
  std::atomic<bool> FActive{true};
  std::atomic<bool> FRepaintPending{false};
};

}  // namespace trelvix::player
