#include "app/image_control.h"

#include <QMouseEvent>
#include <QPainter>

namespace trelvix::app {

TImageControl::TImageControl(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_NoSystemBackground);
}

void TImageControl::SetPicture(const QImage& image) {
  FPicture = image;
  update();
}

void TImageControl::StretchFrom(const QImage& image) {
  const qreal dpr = devicePixelRatioF();
  const QSize size = (QSizeF(this->size()) * dpr).toSize();
  if (FPicture.size() != size || FPicture.format() != QImage::Format_RGB32) {
    FPicture = QImage(size, QImage::Format_RGB32);
    FPicture.setDevicePixelRatio(dpr);
  }
  {
    QPainter p(&FPicture);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(QPointF(0, 0), QSizeF(this->size())), image);
  }
  update();
}

void TImageControl::SetStretch(bool v) {
  if (FStretch == v) return;
  FStretch = v;
  update();
}

void TImageControl::paintEvent(QPaintEvent*) {
  if (FPicture.isNull()) return;
  QPainter p(this);
  if (FStretch) {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(rect(), FPicture);
  } else {
    p.drawImage(QPoint(0, 0), FPicture);
  }
}

void TImageControl::mousePressEvent(QMouseEvent* event) {
  FPressed = event->button() == Qt::LeftButton;
  if (FOnMouseDown) FOnMouseDown(this, event);
}

void TImageControl::mouseMoveEvent(QMouseEvent* event) {
  if (FOnMouseMove) FOnMouseMove(this, event);
}

void TImageControl::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  FPressed = false;
  if (click && FOnClick) FOnClick(this);
}

}  // namespace trelvix::app
