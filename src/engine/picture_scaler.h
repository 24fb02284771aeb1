// Scaling a picture, or a cropped part of it, to the encoder's size and pixel format. The same
// scaling runs on the conversion thread or on the video encoder's thread (whichever has room),
// with identical results for an identical description; each user keeps a scaler of its own.
#pragma once

#include "media/ff_ptr.h"

struct AVFrame;

namespace trelvix::engine {

// What is scaled into what: the part of the source pictures from (crop_left, crop_top) on, of
// src_width x src_height in src_format, into dst_width x dst_height in dst_format, with the
// scaler's flags.
struct TScaleSpec {
  int src_width = 0, src_height = 0, src_format = -1;
  int crop_left = 0, crop_top = 0;
  int dst_width = 0, dst_height = 0, dst_format = -1;
  int flags = 0;
  bool operator==(const TScaleSpec&) const = default;
};

// One thread at a time. The scaler context is made for a description and kept while it stays.
class TPictureScaler {
 public:
  // Makes (or keeps) the scaler context for the description; false when it cannot be made.
  bool Prepare(const TScaleSpec& spec);
  // Scales the described part of `in` into `out` (writable, of the output size and format).
  // With a band (a picture of the same format and width), the rows of `in` from `band_top` on
  // are taken from the band instead, as many as it has: the picture is scaled as if they had
  // been copied into it. The band's rows start and end at whole chroma rows. False when no
  // scaler context can be made.
  bool Scale(const TScaleSpec& spec, const AVFrame* in, AVFrame* out, const AVFrame* band = nullptr,
             int band_top = 0);

 private:
  media::SwsPtr ctx_;
  TScaleSpec spec_;
};

}  // namespace trelvix::engine
