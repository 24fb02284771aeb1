// The skin sheet: every picture of the skin on one image, so a person can judge the whole skin
// at once: the window as it looks with a file loaded and while converting, the information
// pictures, every button's four glyphs side by side, the bar patterns tiled, and the icon.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <vector>

namespace trelvix::app::test {

// A control of the window: its name and its place (left, top, width, height).
struct TControlPlace {
  QString name;
  QRect rect;
};

// The window's image buttons at their places.
const std::vector<TControlPlace>& ButtonPlaces();
// The other controls of the visible area (the preview, the bar, the progress text).
const std::vector<TControlPlace>& OtherVisiblePlaces();

// The sheet at the given device pixel ratio. Needs a QApplication.
QImage RenderSkinSheet(qreal dpr);

}  // namespace trelvix::app::test
