#include "player/host_binding.h"

#include <QEvent>
#include <QPainter>
#include <QResizeEvent>

#include "player/video_surface.h"

namespace trelvix::player {

THostBinding::THostBinding(QWidget* host, std::shared_ptr<TVideoSurface> surface,
                           TResizeFn on_resize, TExposeFn on_expose)
    : FHost(host),
      FSurface(std::move(surface)),
      FOnResize(std::move(on_resize)),
      FOnExpose(std::move(on_expose)) {
  if (host) host->installEventFilter(this);
}

THostBinding::~THostBinding() {
  if (FHost) FHost->removeEventFilter(this);
}

void THostBinding::RequestRepaint() {
  if (FRepaintPending.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        FRepaintPending = false;
        if (FHost) FHost->update();
      },
      Qt::QueuedConnection);
}

bool THostBinding::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FHost.data()) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Paint: {
      const QImage img = FSurface->Snapshot();
      if (img.isNull()) break;
      QPainter p(FHost.data());
      p.fillRect(FHost->rect(), Qt::black);
      p.drawImage(0, 0, img);
      return true;
    }
    case QEvent::Resize:
      if (FActive && FOnResize) {
        const auto* re = static_cast<QResizeEvent*>(event);
        FOnResize(re->size().width(), re->size().height());
      }
      break;
    case QEvent::Show:
      if (FActive && FOnExpose) FOnExpose();
      break;
    case QEvent::Close:
      if (FActive) {
        event->ignore();
        return true;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace trelvix::player
