// An image control of the main window: shows a picture (as it is, or stretched over the control)
// and reports mouse presses, moves and clicks. Paints nothing where it has no picture, so what
// lies below shows through (the preview player's picture under Image1). GUI thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

namespace trelvix::app {

class TImageControl : public QWidget {
 public:
  using TMouseEvent = std::function<void(TImageControl* Sender, QMouseEvent* event)>;
  using TNotifyEvent = std::function<void(TImageControl* Sender)>;

  explicit TImageControl(QWidget* parent = nullptr);

  const QImage& Picture() const { return FPicture; }
  // Shows a copy of image (a null image shows nothing). Its device pixel ratio sets its logical
  // size.
  void SetPicture(const QImage& image);
  // Draws image stretched into the control's picture, reusing its buffer (no allocation once the
  // buffer exists): for pictures that change often.
  void StretchFrom(const QImage& image);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool v);
  // A free integer, as every control has.
  int Tag() const { return FTag; }
  void SetTag(int v) { FTag = v; }

  void SetOnMouseDown(TMouseEvent e) { FOnMouseDown = std::move(e); }
  void SetOnMouseMove(TMouseEvent e) { FOnMouseMove = std::move(e); }
  void SetOnClick(TNotifyEvent e) { FOnClick = std::move(e); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage FPicture;
  bool FStretch = false;
  int FTag = 0;
  bool FPressed = false;
  TMouseEvent FOnMouseDown, FOnMouseMove;
  TNotifyEvent FOnClick;
};

}  // namespace trelvix::app
