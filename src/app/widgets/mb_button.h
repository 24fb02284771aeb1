// TMBButton: the skinned image button. A control without a background of its own (while
// Transparent) that paints one of four glyphs on its parent's surface according to its state:
// up, mouse over, pressed, disabled. A button of a normal style acts once per click; a latching
// style (btSpeed, btSpeedFlat) toggles Down with every click.
//
// Built on QWidget rather than QAbstractButton: the press, move and release rules below (a press
// that follows the pointer, a release outside that neither toggles nor clicks, a double click
// that only counts while Down) are the button's own and would fight QAbstractButton's.
//
// GUI thread only.
#pragma once

#include <QColor>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

namespace trelvix::app {

// Which glyph is shown; gsNone shows none.
enum class TGlyphState { gsDisabled, gsDown, gsUp, gsOver, gsNone };
// Latching styles: btSpeed and btSpeedFlat. Flat styles: btFlat and btSpeedFlat.
enum class TButtonStyle { btFlat, btSpeed, btNormal, btSpeedFlat };
// The press state; bsExclusive = latched down and not being pressed.
enum class TButtonState { bsUp, bsDisabled, bsDown, bsExclusive };
// Where the caption goes; tpNone draws none.
enum class TTextPos { tpNone, tpLeft, tpRight, tpAbove, tpBelow, tpOnGlyph };
enum class TDropDownMenuPos { dmpBottom, dmpRight };

class TMBButton : public QWidget {
 public:
  using TNotifyEvent = std::function<void(TMBButton* Sender)>;
  // A press or release: the button that changed, the keyboard modifiers, the point in the
  // button's coordinates.
  using TMouseEvent = std::function<void(TMBButton* Sender, Qt::MouseButton Button,
                                         Qt::KeyboardModifiers Shift, int X, int Y)>;
  // A move: the buttons held, the keyboard modifiers, the point in the button's coordinates.
  using TMouseMoveEvent = std::function<void(TMBButton* Sender, Qt::MouseButtons Buttons,
                                             Qt::KeyboardModifiers Shift, int X, int Y)>;

  explicit TMBButton(QWidget* parent = nullptr);
  ~TMBButton() override;

  // Glyphs. Assigning copies the picture (a null image empties the glyph). A picture's logical
  // size is its size divided by its device pixel ratio, so skins render at the screen's ratio.
  const QImage& GlyphUp() const { return FBmpUp; }
  void SetGlyphUp(const QImage& value);
  const QImage& GlyphOver() const { return FBmpOver; }
  void SetGlyphOver(const QImage& value);
  const QImage& GlyphDown() const { return FBmpDown; }
  void SetGlyphDown(const QImage& value);
  const QImage& GlyphDisable() const { return FBmpDisable; }
  void SetGlyphDisable(const QImage& value);

  TGlyphState GlyphState() const { return FGlyphState; }
  void SetGlyphState(TGlyphState value);
  TButtonStyle ButtonStyle() const { return FButtonStyle; }
  void SetButtonStyle(TButtonStyle value);
  // Always false for a style that does not latch.
  bool Down() const { return FDown; }
  void SetDown(bool value);
  bool Border() const { return FBorder; }
  void SetBorder(bool value);
  // When false the button is opaque and fills itself with its background colour first.
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);
  // When true the glyph is drawn without the pixels of its transparent colour (the colour of
  // its bottom-left pixel).
  bool GlyphTransparent() const { return FGlyphTransparent; }
  void SetGlyphTransparent(bool value);
  // -1 centres the glyph; another value is added to its left edge. Values below -1 are ignored.
  int Margin() const { return FMargin; }
  void SetMargin(int value);
  TTextPos TextPosition() const { return FTextPosition; }
  void SetTextPosition(TTextPos value);
  bool Shadow() const { return FShadow; }
  void SetShadow(bool value);
  QColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(const QColor& value);
  bool MarkDropDown() const { return FMarkDropDown; }
  void SetMarkDropDown(bool value);
  TDropDownMenuPos MenuPosition() const { return FMenuPosition; }
  void SetMenuPosition(TDropDownMenuPos value) { FMenuPosition = value; }
  // Not owned; the button forgets the menu when it is destroyed.
  QMenu* DropDownMenu() const { return FDropDownMenu.data(); }
  void SetDropDownMenu(QMenu* value);
  // Given to the enclosing dialog on click (QDialog::done) when not 0.
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int value) { FModalResult = value; }
  QString Caption() const { return FCaption; }
  void SetCaption(const QString& value);

  // State, read-only.
  TButtonState State() const { return FState; }
  bool MouseInControl() const { return FMouseInControl; }
  // The colour left out of the last drawn glyph (its bottom-left pixel).
  QColor TransparentColor() const { return FTransparentColor; }

  void SetOnClick(TNotifyEvent fn) { FOnClick = std::move(fn); }
  void SetOnDblClick(TNotifyEvent fn) { FOnDblClick = std::move(fn); }
  void SetOnMouseDown(TMouseEvent fn) { FOnMouseDown = std::move(fn); }
  void SetOnMouseMove(TMouseMoveEvent fn) { FOnMouseMove = std::move(fn); }
  void SetOnMouseUp(TMouseEvent fn) { FOnMouseUp = std::move(fn); }
  void SetOnMouseEnter(TNotifyEvent fn) { FOnMouseEnter = std::move(fn); }
  void SetOnMouseLeave(TNotifyEvent fn) { FOnMouseLeave = std::move(fn); }

  // What a click does: the modal result to the enclosing dialog, then OnClick.
  void Click();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The glyph as drawn: the picture with its transparent colour left out when GlyphTransparent.
  struct TDrawnGlyph {
    QImage image;
    QColor transparent_color;
  };

  void SetGlyph(QImage& glyph, TDrawnGlyph& drawn, const QImage& value);
  void PrepareDrawn(const QImage& glyph, TDrawnGlyph& drawn) const;
  void UpdateStateForPaint();
  const TDrawnGlyph* GlyphForState() const;
  bool IsLatching() const;
  bool IsFlat() const;
  bool Inside(const QPoint& p) const;
  void DblClick();
  void PopUpMenu();
  void PaintCaption(QPainter& painter, const QRect& glyph_rect);

  QImage FBmpDisable;
  QImage FBmpDown;
  QImage FBmpUp;
  QImage FBmpOver;
  TDrawnGlyph FDrawnDisable;
  TDrawnGlyph FDrawnDown;
  TDrawnGlyph FDrawnUp;
  TDrawnGlyph FDrawnOver;
  bool FDragging = false;  // a left press is in progress
  TTextPos FTextPosition = TTextPos::tpNone;
  bool FTransparent = true;
  bool FGlyphTransparent = true;
  TGlyphState FGlyphState = TGlyphState::gsUp;
  TButtonStyle FButtonStyle = TButtonStyle::btSpeed;
  bool FDown = false;
  bool FBorder = true;
  TNotifyEvent FOnMouseEnter;
  TNotifyEvent FOnMouseLeave;
  bool FMouseInControl = false;
  QPointer<QMenu> FDropDownMenu;
  bool FMarkDropDown = true;
  TDropDownMenuPos FMenuPosition = TDropDownMenuPos::dmpBottom;
  bool FMenuTracking = false;  // inside the press handling
  QColor FTransparentColor;
  int FMargin = -1;
  int FModalResult = 0;
  bool FShadow = false;
  QColor FShadowColor{128, 128, 128};
  TButtonState FState = TButtonState::bsUp;
  QString FCaption;

  TNotifyEvent FOnClick;
  TNotifyEvent FOnDblClick;
  TMouseEvent FOnMouseDown;
  TMouseMoveEvent FOnMouseMove;
  TMouseEvent FOnMouseUp;
};

}  // namespace trelvix::app
