// ImageProgress: the thin bar under the preview, painted by ProgressBar(column) from two tiled
// patterns (ImgT left of the column, ImgN right of it; the column itself keeps what it had), and
// a seek bar for presses. The picture is kept between paints and changed only by ProgressBar.
// GUI thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

namespace trelvix::app {

class TProgressImage : public QWidget {
 public:
  using TMouseDownEvent = std::function<void(TProgressImage* Sender, Qt::MouseButton button,
                                             Qt::KeyboardModifiers shift, int x, int y)>;

  explicit TProgressImage(QWidget* parent = nullptr);

  // The two fill patterns: done (ImgT) and not done (ImgN).
  void SetPatterns(const QImage& done, const QImage& todo);
  // Fills x = 0 .. column - 1 with the done pattern and column + 1 .. width - 1 with the other,
  // and makes column the bar's current column (Tag). A negative column fills the whole bar with
  // the not-done pattern; one of the width or more with the done pattern.
  void ProgressBar(int column);
  // The bar's current column.
  int Tag() const { return FTag; }
  void SetTag(int v) { FTag = v; }
  // The painted picture (1 bar pixel = 1 picture pixel; transparent where never painted).
  const QImage& Picture() const { return FPicture; }
  // How many times ProgressBar painted (for the test of repaint-only-on-change).
  int PaintCount() const { return FPaintCount; }

  void SetOnMouseDown(TMouseDownEvent e) { FOnMouseDown = std::move(e); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QImage FPicture;
  QImage FDone, FTodo;
  int FTag = 0;
  int FPaintCount = 0;
  TMouseDownEvent FOnMouseDown;
};

}  // namespace trelvix::app
