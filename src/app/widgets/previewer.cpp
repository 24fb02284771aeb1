#include "app/widgets/previewer.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>
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

  // Keeps the picture (the caller's is only lent) as 32-bit pixels in a buffer that is reused
  // while the size stays the same, so painting is a plain copy. 24-bit frames, the usual case,
  // are converted here row by row: QImage's own conversion and the painter's would allocate a
  // new picture or hand the rows to a thread pool on every frame.
  void SetFrame(const QImage& image) {
    if (frame_.size() != image.size()) frame_ = QImage(image.size(), QImage::Format_RGB32);
    switch (image.format()) {
      case QImage::Format_BGR888:  // bytes B, G, R
        for (int y = 0; y < image.height(); ++y) {
          const uchar* src = image.constScanLine(y);
          auto* dst = reinterpret_cast<QRgb*>(frame_.scanLine(y));
          for (int x = 0; x < image.width(); ++x, src += 3) dst[x] = qRgb(src[2], src[1], src[0]);
        }
        break;
      case QImage::Format_RGB32:
      case QImage::Format_ARGB32:
        for (int y = 0; y < image.height(); ++y) {
          const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
          auto* dst = reinterpret_cast<QRgb*>(frame_.scanLine(y));
          for (int x = 0; x < image.width(); ++x) dst[x] = src[x] | 0xff000000u;
        }
        break;
      default: {
        QPainter painter(&frame_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), image);
      }
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
