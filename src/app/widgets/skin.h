// The program's skin: the window background with its shape, the glyphs of every image button,
// the progress bar's fill patterns, the information pictures and the program icon. The pictures
// are SVG files compiled into the program (resources/skin/), rendered at the device pixel ratio
// asked for, so they stay sharp on 2x screens while their logical sizes stay fixed.
//
// GUI thread (QSvgRenderer and QIcon need the application object); results may be cached by
// the caller.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRegion>
#include <QSize>
#include <QString>
#include <QStringList>

namespace trelvix::app {
class TMBButton;
}

namespace trelvix::app::skin {

// Logical size of the window background.
inline constexpr int kBackgroundWidth = 271;
inline constexpr int kBackgroundHeight = 500;

// The colour of everything outside the window's shape (also the background's bottom-left pixel).
QColor KeyColor();

// The window background, kBackgroundWidth x kBackgroundHeight logical pixels, rendered at the
// given device pixel ratio (the image carries that ratio). Outside the shape every pixel is
// KeyColor(); inside no pixel is, and the edges are blended onto the body, not onto the key.
QImage Background(qreal dpr);

// The window's shape in logical coordinates: the pixels of Background(1) that are not the key
// colour. Computed once.
QRegion WindowShape();

// The names of the image buttons the skin has glyphs for ("btnAdd", "btnStartConvert", ...).
QStringList ControlNames();
// The logical size of a control's glyphs (its size in the window); an empty size for a name the
// skin does not know.
QSize ControlSize(const QString& controlName);

// The four glyphs of one button, rendered at the control's logical size and the given ratio.
struct TGlyphSet {
  QImage up;
  QImage over;
  QImage down;
  QImage disabled;
};
// Empty images for a name the skin does not know.
TGlyphSet Glyphs(const QString& controlName, qreal dpr);

// Renders the four glyphs of the named control at the button's device pixel ratio and assigns
// them to the button. Call again when the button moves to a screen with another ratio. False
// (and the button left alone) for a name the skin does not know.
bool ApplyGlyphs(TMBButton& button, const QString& controlName);

// The progress bar's fill patterns, "ImgN" (the part still to do) and "ImgT" (the part done):
// 33 x 33 logical pixels that tile seamlessly. Null for another name.
QImage Pattern(const QString& name, qreal dpr = 1.0);

// The information picture, 223 x 281 logical pixels: English, or Polish when polish.
QImage InfoPicture(bool polish, qreal dpr);

// The program icon, at the usual sizes.
QIcon ProgramIcon();

}  // namespace trelvix::app::skin
