// TInkOverlay: a ready picture to lay over frames (source over), kept as the runs of pixels that
// carry ink, so that whoever lays it touches nothing else. Made by a drawing handler (the
// subtitle burn-in) and laid by whoever holds the frame, in the frame's own pixel layout.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/bitmap.h"

namespace trelvix::runtime {

struct TInkOverlay {
  // A run of pixels of one row that carry ink, all of them covering fully (opaque) or all
  // partly: Length pixels from Ink[First] on, at (X, Y) from the top-left corner of Area.
  struct TSpan {
    int Y = 0, X = 0, Length = 0, First = 0;
    bool Opaque = false;
  };

  // The part of the frame that holds ink (frame coordinates); empty when there is none.
  TRect Area;
  // The runs row by row, top to bottom and left to right within a row.
  std::vector<TSpan> Spans;
  // The ink pixels of the runs one after the other: premultiplied 0xAARRGGBB (the layout of
  // QRgb), colour × coverage with the coverage in the top byte.
  std::vector<std::uint32_t> Ink;
  // Tells pictures apart: every new picture gets a number no other picture of the process had,
  // so that a layer may keep what it derived from it (its colours in another layout) until the
  // number changes.
  std::uint64_t Serial = 0;

  bool Empty() const { return Area.Width() <= 0 || Area.Height() <= 0 || Spans.empty(); }
  // A number for a new picture.
  static std::uint64_t NewSerial();
};

// What a video hook handler answers before it is handed a frame: the part of the frame it will
// change, and, when all it does there is laying a ready overlay, that overlay, so that whoever
// holds the frame may lay it on in the frame's own layout instead of handing the frame over.
// The overlay belongs to the handler and stays valid until the handler is asked again.
struct TDrawArea {
  TDrawArea(TRect area = {}, const TInkOverlay* overlay = nullptr)  // NOLINT: a bare area converts
      : Area(area), Overlay(overlay) {}
  TRect Area;
  const TInkOverlay* Overlay;
};

}  // namespace trelvix::runtime
