#include "app/widgets/mb_button.h"

#include <QDialog>
#include <QEnterEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace trelvix::app {

namespace {

constexpr int kDefaultSize = 40;
constexpr int kCaptionSpacing = 4;
constexpr int kDropDownMarkSize = 4;

QSize LogicalSize(const QImage& image) {
  return image.isNull() ? QSize() : image.deviceIndependentSize().toSize();
}

QPoint EventPoint(const QMouseEvent* event) {
  return event->position().toPoint();
}

}  // namespace

TMBButton::TMBButton(QWidget* parent) : QWidget(parent) {
  resize(kDefaultSize, kDefaultSize);
  setFocusPolicy(Qt::NoFocus);
  // OnMouseMove reports moves over the button, not only while a button is held.
  setMouseTracking(true);
  // The button paints over its parent: no background of its own unless it is opaque.
  setAutoFillBackground(false);
}

TMBButton::~TMBButton() = default;

void TMBButton::PrepareDrawn(const QImage& glyph, TDrawnGlyph& drawn) const {
  if (glyph.isNull()) {
    drawn = {};
    return;
  }
  drawn.transparent_color = glyph.pixelColor(0, glyph.height() - 1);
  if (!FGlyphTransparent || drawn.transparent_color.alpha() == 0) {
    drawn.image = glyph;
    return;
  }
  // Leave out every pixel of the transparent colour, once per assignment instead of per paint.
  QImage image = glyph.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = image.pixel(0, image.height() - 1);
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (line[x] == key) line[x] = 0;
    }
  }
  image.setDevicePixelRatio(glyph.devicePixelRatio());
  drawn.image = std::move(image);
}

void TMBButton::SetGlyph(QImage& glyph, TDrawnGlyph& drawn, const QImage& value) {
  glyph = value.isNull() ? QImage() : value.copy();
  if (!glyph.isNull()) glyph.setDevicePixelRatio(value.devicePixelRatio());
  PrepareDrawn(glyph, drawn);
}

void TMBButton::SetGlyphUp(const QImage& value) {
  SetGlyph(FBmpUp, FDrawnUp, value);
  update();
}

void TMBButton::SetGlyphOver(const QImage& value) {
  SetGlyph(FBmpOver, FDrawnOver, value);
  if (FGlyphState == TGlyphState::gsOver) update();
}

void TMBButton::SetGlyphDown(const QImage& value) {
  SetGlyph(FBmpDown, FDrawnDown, value);
  if (FDown || FState == TButtonState::bsDown) update();
}

void TMBButton::SetGlyphDisable(const QImage& value) {
  SetGlyph(FBmpDisable, FDrawnDisable, value);
  if (!isEnabled()) update();
}

void TMBButton::SetGlyphState(TGlyphState value) {
  if (FGlyphState == value) return;
  FGlyphState = value;
  update();
}

void TMBButton::SetButtonStyle(TButtonStyle value) {
  if (FButtonStyle == value) return;
  FButtonStyle = value;
  if (!IsLatching()) SetDown(false);
  update();
}

void TMBButton::SetDown(bool value) {
  if (!IsLatching()) value = false;
  if (value == FDown) return;
  FDown = value;
  if (value) {
    if (FState == TButtonState::bsUp) update();
    FState = TButtonState::bsExclusive;
  } else {
    FState = TButtonState::bsUp;
    update();
  }
}

void TMBButton::SetBorder(bool value) {
  if (FBorder == value) return;
  FBorder = value;
  update();
}

void TMBButton::SetTransparent(bool value) {
  if (FTransparent == value) return;
  FTransparent = value;
  update();
}

void TMBButton::SetGlyphTransparent(bool value) {
  if (FGlyphTransparent == value) return;
  FGlyphTransparent = value;
  PrepareDrawn(FBmpUp, FDrawnUp);
  PrepareDrawn(FBmpOver, FDrawnOver);
  PrepareDrawn(FBmpDown, FDrawnDown);
  PrepareDrawn(FBmpDisable, FDrawnDisable);
  update();
}

void TMBButton::SetMargin(int value) {
  if (value < -1 || value == FMargin) return;
  FMargin = value;
  update();
}

void TMBButton::SetTextPosition(TTextPos value) {
  if (FTextPosition == value) return;
  FTextPosition = value;
  update();
}

void TMBButton::SetShadow(bool value) {
  if (FShadow == value) return;
  FShadow = value;
  update();
}

void TMBButton::SetShadowColor(const QColor& value) {
  FShadowColor = value;
  if (FShadow) update();
}

void TMBButton::SetMarkDropDown(bool value) {
  if (FMarkDropDown == value) return;
  FMarkDropDown = value;
  update();
}

void TMBButton::SetDropDownMenu(QMenu* value) {
  FDropDownMenu = value;
  update();
}

void TMBButton::SetCaption(const QString& value) {
  if (FCaption == value) return;
  FCaption = value;
  update();
}

bool TMBButton::IsLatching() const {
  return FButtonStyle == TButtonStyle::btSpeed || FButtonStyle == TButtonStyle::btSpeedFlat;
}

bool TMBButton::IsFlat() const {
  return FButtonStyle == TButtonStyle::btFlat || FButtonStyle == TButtonStyle::btSpeedFlat;
}

// The press and release test: the bottom edge counts as inside, the right edge does not.
bool TMBButton::Inside(const QPoint& p) const {
  return p.x() >= 0 && p.x() < width() && p.y() >= 0 && p.y() <= height();
}

void TMBButton::UpdateStateForPaint() {
  if (!isEnabled()) {
    FState = TButtonState::bsDisabled;
    if (FGlyphState != TGlyphState::gsNone) FGlyphState = TGlyphState::gsDisabled;
    FDragging = false;
  } else if (FState == TButtonState::bsDisabled) {
    FState = FDown ? TButtonState::bsExclusive : TButtonState::bsUp;
  }
  if (FDown && FState != TButtonState::bsDisabled) FState = TButtonState::bsDown;
  if (FGlyphState != TGlyphState::gsOver && FGlyphState != TGlyphState::gsNone) {
    switch (FState) {
      case TButtonState::bsDisabled:
        FGlyphState = TGlyphState::gsDisabled;
        break;
      case TButtonState::bsDown:
        FGlyphState = TGlyphState::gsDown;
        break;
      case TButtonState::bsUp:
      case TButtonState::bsExclusive:
        FGlyphState = TGlyphState::gsUp;
        break;
    }
  }
}

const TMBButton::TDrawnGlyph* TMBButton::GlyphForState() const {
  const TDrawnGlyph* drawn = nullptr;
  switch (FGlyphState) {
    case TGlyphState::gsDisabled:
      drawn = &FDrawnDisable;
      break;
    case TGlyphState::gsDown:
      drawn = &FDrawnDown;
      break;
    case TGlyphState::gsUp:
      drawn = &FDrawnUp;
      break;
    case TGlyphState::gsOver:
      drawn = &FDrawnOver;
      break;
    case TGlyphState::gsNone:
      return nullptr;
  }
  return drawn->image.isNull() ? &FDrawnUp : drawn;
}

void TMBButton::paintEvent(QPaintEvent*) {
  UpdateStateForPaint();
  QPainter painter(this);
  const QColor face = palette().color(backgroundRole());
  if (!FTransparent) painter.fillRect(rect(), face);

  const bool pressed_look = FState == TButtonState::bsDown || FState == TButtonState::bsExclusive;
  const bool border = (FBorder && !IsFlat()) || ((FMouseInControl || FDown) &&
                                                 FState != TButtonState::bsDisabled && IsFlat());
  if (border) {
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Dark);
    const QColor top_left = pressed_look ? dark : light;
    const QColor bottom_right = pressed_look ? light : dark;
    const QRect r = rect();
    if (!FTransparent) painter.fillRect(r.adjusted(1, 1, -1, -1), face);
    painter.setPen(top_left);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(bottom_right);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
  }

  const TDrawnGlyph* glyph = GlyphForState();
  const QSize glyph_size = glyph ? LogicalSize(glyph->image) : QSize();
  const bool with_caption = FTextPosition != TTextPos::tpNone && !FCaption.isEmpty();
  QRect glyph_rect(QPoint((width() - glyph_size.width()) / 2, (height() - glyph_size.height()) / 2),
                   glyph_size);
  if (with_caption) {
    const QSize text = fontMetrics().size(Qt::TextSingleLine, FCaption);
    switch (FTextPosition) {
      case TTextPos::tpLeft:
        glyph_rect.moveLeft((width() + text.width() + kCaptionSpacing - glyph_size.width()) / 2);
        break;
      case TTextPos::tpRight:
        glyph_rect.moveLeft((width() - text.width() - kCaptionSpacing - glyph_size.width()) / 2);
        break;
      case TTextPos::tpAbove:
        glyph_rect.moveTop((height() + text.height() + kCaptionSpacing - glyph_size.height()) / 2);
        break;
      case TTextPos::tpBelow:
        glyph_rect.moveTop((height() - text.height() - kCaptionSpacing - glyph_size.height()) / 2);
        break;
      case TTextPos::tpNone:
      case TTextPos::tpOnGlyph:
        break;
    }
  }
  if ((FState == TButtonState::bsDown || FDown) && FBorder) glyph_rect.translate(1, 1);
  if (FMargin != -1) glyph_rect.translate(FMargin, 0);
  if (glyph && !glyph->image.isNull()) {
    FTransparentColor = glyph->transparent_color;
    painter.drawImage(glyph_rect.topLeft(), glyph->image);
  }
  if (with_caption || FDropDownMenu) PaintCaption(painter, glyph_rect);
}

void TMBButton::PaintCaption(QPainter& painter, const QRect& glyph_rect) {
  if (FTextPosition != TTextPos::tpNone && !FCaption.isEmpty()) {
    const QSize text = fontMetrics().size(Qt::TextSingleLine, FCaption);
    QRect text_rect(QPoint(), text);
    text_rect.moveCenter(glyph_rect.isEmpty() ? rect().center() : glyph_rect.center());
    switch (FTextPosition) {
      case TTextPos::tpLeft:
        text_rect.moveRight(glyph_rect.left() - kCaptionSpacing);
        break;
      case TTextPos::tpRight:
        text_rect.moveLeft(glyph_rect.right() + 1 + kCaptionSpacing);
        break;
      case TTextPos::tpAbove:
        text_rect.moveBottom(glyph_rect.top() - kCaptionSpacing);
        break;
      case TTextPos::tpBelow:
        text_rect.moveTop(glyph_rect.bottom() + 1 + kCaptionSpacing);
        break;
      case TTextPos::tpNone:
      case TTextPos::tpOnGlyph:
        break;
    }
    if (FShadow) {
      painter.setPen(FShadowColor);
      painter.drawText(text_rect.translated(1, 1), Qt::AlignCenter, FCaption);
    }
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(text_rect, Qt::AlignCenter, FCaption);
  }
  if (FDropDownMenu && FMarkDropDown) {
    // A small filled triangle in the corner, pointing where the menu opens.
    const int s = kDropDownMarkSize;
    const QPoint c(width() - s - 2, height() - s - 2);
    QPolygon mark;
    if (FMenuPosition == TDropDownMenuPos::dmpBottom) {
      mark << QPoint(c.x() - s / 2, c.y()) << QPoint(c.x() + s / 2, c.y())
           << QPoint(c.x(), c.y() + s / 2);
    } else {
      mark << QPoint(c.x(), c.y() - s / 2) << QPoint(c.x(), c.y() + s / 2)
           << QPoint(c.x() + s / 2, c.y());
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::ButtonText));
    painter.drawPolygon(mark);
  }
}

void TMBButton::enterEvent(QEnterEvent*) {
  QWidget* grabber = QWidget::mouseGrabber();
  if (FMouseInControl || !isEnabled() || FDragging || (grabber && grabber != this)) return;
  FMouseInControl = true;
  if (IsFlat()) update();
  if (FGlyphState != TGlyphState::gsNone && !FBmpOver.isNull() && !FDown) {
    FGlyphState = TGlyphState::gsOver;
    update();
  }
  if (FOnMouseEnter) FOnMouseEnter(this);
}

void TMBButton::leaveEvent(QEvent*) {
  if (!FMouseInControl || !isEnabled() || FDragging) return;
  FMouseInControl = false;
  if (IsFlat()) update();
  if (FGlyphState != TGlyphState::gsNone && !FBmpOver.isNull()) {
    FGlyphState = TGlyphState::gsUp;
    update();
  }
  if (FOnMouseLeave) FOnMouseLeave(this);
}

void TMBButton::mousePressEvent(QMouseEvent* event) {
  if (FDragging) return;
  const QPoint p = EventPoint(event);
  QPointer<TMBButton> self(this);  // a handler may delete the button
  if (FOnMouseDown) FOnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y());
  if (!self) return;
  if (!FMouseInControl && isEnabled()) {
    FMouseInControl = true;
    update();
  }
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  if (!FDown) {
    FState = TButtonState::bsDown;
    if (FGlyphState != TGlyphState::gsNone) FGlyphState = TGlyphState::gsDown;
    update();
  }
  FDragging = true;
  if (FDropDownMenu) {
    FMenuTracking = true;
    PopUpMenu();
    if (!self) return;
    FMenuTracking = false;
  }
}

void TMBButton::PopUpMenu() {
  const QPoint at =
      FMenuPosition == TDropDownMenuPos::dmpBottom ? QPoint(0, height()) : QPoint(width(), 0);
  QPointer<TMBButton> self(this);
  FDropDownMenu->exec(mapToGlobal(at));
  if (!self) return;
  // The menu took the release: end the press here, without a click.
  FDragging = false;
  FState = FDown ? TButtonState::bsExclusive : TButtonState::bsUp;
  update();
}

void TMBButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = EventPoint(event);
  QPointer<TMBButton> self(this);
  if (FOnMouseMove) FOnMouseMove(this, event->buttons(), event->modifiers(), p.x(), p.y());
  if (!self || !FDragging) return;
  TButtonState state = FDown ? TButtonState::bsExclusive : TButtonState::bsUp;
  if (Inside(p)) state = FDown ? TButtonState::bsExclusive : TButtonState::bsDown;
  if (state != FState) {
    FState = state;
    update();
  }
}

void TMBButton::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = EventPoint(event);
  QPointer<TMBButton> self(this);
  if (FOnMouseUp) FOnMouseUp(this, event->button(), event->modifiers(), p.x(), p.y());
  if (!self || event->button() != Qt::LeftButton || !FDragging) return;
  FDragging = false;
  FState = TButtonState::bsUp;
  if (Inside(p)) {
    if (IsLatching()) {
      FDown = !FDown;
      if (FDown) FState = TButtonState::bsDown;
    }
    update();
    Click();
  } else {
    FMouseInControl = false;
    if (FDown) FState = TButtonState::bsExclusive;
    update();
  }
}

// Qt gives a widget the second press of a double click as this event alone: the double click
// first, then the press it also is.
void TMBButton::mouseDoubleClickEvent(QMouseEvent* event) {
  QPointer<TMBButton> self(this);
  DblClick();
  if (self) mousePressEvent(event);
}

void TMBButton::DblClick() {
  if (FDragging) return;
  if (FDown && FOnDblClick) FOnDblClick(this);
}

void TMBButton::Click() {
  if (FModalResult != 0) {
    if (auto* dialog = qobject_cast<QDialog*>(window())) dialog->done(FModalResult);
  }
  if (FOnClick) FOnClick(this);
}

void TMBButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange ||
      event->type() == QEvent::PaletteChange) {
    update();
  }
  QWidget::changeEvent(event);
}

}  // namespace trelvix::app
