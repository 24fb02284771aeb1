#include "app/progress_image.h"

#include <QBrush>
#include <QMouseEvent>
#include <QPainter>

namespace trelvix::app {

TProgressImage::TProgressImage(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_NoSystemBackground);
}

void TProgressImage::SetPatterns(const QImage& done, const QImage& todo) {
  FDone = done;
  FTodo = todo;
  // Tiles are laid in bar pixels whatever the patterns' own scale.
  FDone.setDevicePixelRatio(1);
  FTodo.setDevicePixelRatio(1);
}

void TProgressImage::ProgressBar(int column) {
  FTag = column;
  ++FPaintCount;
  if (FPicture.size() != size()) {
    QImage grown(size(), QImage::Format_ARGB32_Premultiplied);
    grown.fill(Qt::transparent);
    QPainter(&grown).drawImage(0, 0, FPicture);
    FPicture = std::move(grown);
  }
  QPainter p(&FPicture);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  const int w = FPicture.width(), h = FPicture.height();
  if (column > 0) p.fillRect(QRect(0, 0, std::min(column, w), h), QBrush(FDone));
  const int right = std::max(column + 1, 0);
  if (right < w) p.fillRect(QRect(right, 0, w - right, h), QBrush(FTodo));
  p.end();
  update();
}

void TProgressImage::paintEvent(QPaintEvent*) {
  if (FPicture.isNull()) return;
  QPainter(this).drawImage(0, 0, FPicture);
}

void TProgressImage::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (FOnMouseDown) FOnMouseDown(this, event->button(), event->modifiers(), at.x(), at.y());
}

void TProgressImage::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  update();
}

}  // namespace trelvix::app
