#include "app/widgets/previewer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstring>
#include <functional>

#include "media/ff_utils.h"
#include "runtime/bitmap.h"
#include "runtime/main_thread.h"

namespace trelvix::app {

// The preview window: shows the last frame, reports the user's close request, and moves when
// dragged by its picture.
class TPreviewer::TForm final : public QWidget {
 public:
  explicit TForm(std::function<void()> on_close)
      : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                             Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
        on_close_(std::move(on_close)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
  }

  // Keeps a copy of the picture (the caller's is only lent), reusing the buffer while the size
  // and layout stay the same.
  void SetFrame(const QImage& image) {
    if (frame_.size() == image.size() && frame_.format() == image.format() &&
        frame_.bytesPerLine() == image.bytesPerLine() && !frame_.isNull()) {
      std::memcpy(frame_.bits(), image.constBits(), static_cast<size_t>(image.sizeInBytes()));
      if (image.format() == QImage::Format_Indexed8) frame_.setColorTable(image.colorTable());
    } else {
      frame_ = image.copy();
    }
    update();
  }
  const QImage& Frame() const { return frame_; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (frame_.isNull()) {
      painter.fillRect(rect(), Qt::black);
      return;
    }
    painter.drawImage(QPoint(0, 0), frame_);
    // A window larger than the frame (a window manager's minimum size) stays black around it.
    const QRegion rest = QRegion(rect()) - QRegion(frame_.rect());
    for (const QRect& r : rest) painter.fillRect(r, Qt::black);
  }

  void closeEvent(QCloseEvent* event) override {
    if (on_close_) on_close_();
    event->accept();
  }

  // The window moves with its picture: the window manager moves it where it can, otherwise the
  // window follows the pointer itself.
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    dragging_ = true;
    drag_offset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (dragging_ && (event->buttons() & Qt::LeftButton))
      move(event->globalPosition().toPoint() - drag_offset_);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) dragging_ = false;
  }

 private:
  std::function<void()> on_close_;
  QImage frame_;
  bool dragging_ = false;
  QPoint drag_offset_;
};

TPreviewer::TPreviewer() = default;

TPreviewer::~TPreviewer() {
  if (!FForm) return;
  if (runtime::IsMainThread())
    FForm.reset();
  else
    runtime::CallInMainThread([this] { FForm.reset(); });
}

QWidget* TPreviewer::Window() const {
  return FForm.get();
}

bool TPreviewer::PaintFrame(runtime::TBitmap* bitmap, int frame_number, int64_t pts) {
  if (FClosed.load()) return false;
  if (!bitmap) return true;
  FFrameNumber = frame_number;
  FPTS = pts;
  runtime::CallInMainThread([this, bitmap] { PaintStep(*bitmap); });
  return true;
}

void TPreviewer::PaintStep(const runtime::TBitmap& bitmap) {
  if (FClosed.load()) return;
  const QImage& image = bitmap.Image();
  if (!FForm) {
    FForm = std::make_unique<TForm>([this] { FClosed.store(true); });
    FForm->setFixedSize(image.size());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect frame(QPoint(), image.size());
      frame.moveCenter(screen->availableGeometry().center());
      FForm->move(frame.topLeft());
    }
    FForm->show();
  } else if (FForm->size() != image.size()) {
    FForm->setFixedSize(image.size());
  }
  FForm->setWindowTitle(QString::fromStdString(media::TimeText(FPTS)));
  FForm->SetFrame(image);
}

void InstallPreviewerFactory() {
  engine::SetPreviewWindowFactory(
      []() -> std::unique_ptr<engine::TPreviewWindow> { return std::make_unique<TPreviewer>(); });
}

}  // namespace trelvix::app
