// A subtitle drawn once into a picture of its own and laid onto each frame while it is shown.
//
// Render takes the drawings one by one, each with its coverage and colour, and stacks them into
// a premultiplied picture of the area that received ink; BlendOnto lays that onto frames (source
// over), which gives a frame what the same drawings made straight onto it would have given, up
// to a rounding step at smoothed glyph edges. One thread at a time.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/bitmap.h"
#include "runtime/ink_overlay.h"

namespace trelvix::subtitles {

class TSubtitleOverlay {
 public:
  // Draws the subtitle anew, one drawing (a text, a box) at a time: `draw` paints each onto
  // `layer`, a transparent bitmap of the size of `area` (frame coordinates) on which frame
  // coordinates are shifted by (dx, dy) = -(area.left, area.top), and lays it down with `lay`:
  // Lay(colour, x, y) lays the drawing now on the layer onto the overlay, moved by (x, y) pixels,
  // in that colour, as it would go onto a frame (a drawing may be laid down several times, as
  // the copies of an outline); Clear() empties the layer for the next drawing. Ink outside the
  // frame (frame_width x frame_height) is dropped, as it would be on the frame.
  struct TLayer {
    std::function<void(runtime::TColor color, int x, int y)> Lay;
    std::function<void()> Clear;
  };
  using TDraw = std::function<void(runtime::TBitmap& layer, int dx, int dy, const TLayer& lay)>;
  void Render(const runtime::TRect& area, int frame_width, int frame_height, const TDraw& draw);
  // Forgets the picture: Area() becomes empty.
  void Clear();

  // The part of the frame that holds ink; empty when there is nothing to lay on.
  const runtime::TRect& Area() const { return picture_.Area; }
  bool Empty() const { return picture_.Empty(); }
  // The picture itself, for laying it onto frames of other layouts; valid until the next Render
  // or Clear.
  const runtime::TInkOverlay& Picture() const { return picture_; }
  // How often Render ran since the overlay was made.
  int Renders() const { return renders_; }

  // Lays the picture onto a frame of 24 or 32 bits per pixel. False for other frames, whose
  // fewer colour steps need the drawings made onto them one by one, for a frame too small for
  // it, and when it is empty.
  bool BlendOnto(runtime::TBitmap& frame) const;

 private:
  // Premultiplied ARGB of the pixels with ink, row by row: the only pixels laid onto frames.
  runtime::TInkOverlay picture_;
  std::vector<std::uint8_t> ink_bgr_;  // the ink as B, G, R bytes, for copying opaque runs
  int renders_ = 0;
};

}  // namespace trelvix::subtitles
