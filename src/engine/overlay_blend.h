// Laying a ready overlay (runtime/ink_overlay.h) straight onto a planar 8-bit YUV picture
// (yuv420p, yuvj420p, yuv422p, yuv444p and the like), over its ink only: the picture needs no
// conversion to a bitmap and back. The overlay's colours become Y, U and V once per overlay and
// picture layout, with the coefficients and the range the bitmap conversion uses (ITU-R BT.601;
// full range for the "j" formats and pictures marked full range), so the picture gets what laying
// the overlay onto its bitmap would give. A chroma sample takes the average of the premultiplied
// colours and coverages of the pixels it stands for: source over is linear, so that is the
// average of what those pixels become.
//
// One object per job, used on the conversion thread only.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "media/ff_ptr.h"
#include "runtime/ink_overlay.h"

struct AVFrame;

namespace trelvix::engine {

// A picture handed on as its base picture with the rows from `top` on replaced by the band's.
struct TPictureBand {
  const AVFrame* base = nullptr;
  AVFrame* band = nullptr;
  int top = 0;
  bool For(const AVFrame* picture) const { return band && base == picture; }
  // Copies the band's rows into `whole`, a copy of the base picture.
  void PutInto(AVFrame* whole) const;
};

class TOverlayBlender {
 public:
  // Whether pictures of the frame's layout can take an overlay here.
  static bool Supports(const AVFrame* frame);

  // Lays the overlay onto the frame, whose pixels must be writable. False, leaving the frame as
  // it was, when its layout is not supported or the overlay reaches past it.
  bool Blend(const runtime::TInkOverlay& overlay, AVFrame* frame);
  // Lays the overlay onto a copy of just the rows of `src` it covers, from a whole chroma row to
  // a whole chroma row (or the last row): a band of the picture's format and width whose first
  // row is row *top of the picture. The band belongs to the blender and stays untouched while
  // anyone else holds a reference to it (the encoder's thread, which scales it) and until the
  // next call otherwise. Null when the layout is not supported, the overlay reaches past the
  // picture, or memory runs out.
  AVFrame* BlendBand(const runtime::TInkOverlay& overlay, const AVFrame* src, int* top);

 private:
  // A run of samples of one row of a plane that the overlay covers: `length` samples from
  // (x, y) on, whose values and coverages start at index `first`.
  struct TRun {
    int y, x, length, first;
  };
  // The overlay in the picture's layout: Y values, and U and V values sharing their runs.
  struct TPlaneInk {
    std::vector<TRun> runs;
    std::vector<std::uint8_t> value[2], alpha;
    void Clear();
  };
  void Convert(const runtime::TInkOverlay& overlay, const AVFrame* frame);
  // Checks that the overlay fits the picture and converts it for its layout when needed.
  bool Ready(const runtime::TInkOverlay& overlay, const AVFrame* picture);
  // Lays the converted overlay onto `frame`, whose first row is row `top` of the picture.
  void Lay(AVFrame* frame, int top) const;

  // What the converted overlay was made for.
  std::uint64_t serial_ = 0;
  int format_ = -1, width_ = 0, height_ = 0;
  bool full_range_ = false;
  TPlaneInk luma_, chroma_;
  // Bands, taken in turn: the encoder's thread may still hold the last few.
  std::array<media::FramePtr, 5> bands_;
  // Scratch of Convert, reused: luma (value, coverage) and chroma sums (U, V, coverage).
  std::vector<std::uint8_t> luma_samples_;
  std::vector<double> sums_;
};

}  // namespace trelvix::engine
