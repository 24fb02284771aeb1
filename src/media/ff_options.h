// TFFOptions: the option set of one conversion job. Generic codec options per media type, format
// options and scaler options are set by name into stand-alone contexts here, remembered, and
// later copied into the real codec, format and scaler contexts with ApplyContextOptions.
// One job's thread at a time.
#pragma once

#include <string>
#include <vector>

#include "media/ff_ptr.h"

namespace trelvix::media {

// Codec-option flags per media type (video, audio, data, subtitle, attachment).
inline constexpr int kMediaTypeOptionFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM,
                                                 0, AV_OPT_FLAG_SUBTITLE_PARAM, 0};

class TFFOptions {
 public:
  TFFOptions() = default;
  TFFOptions(const TFFOptions&) = delete;
  TFFOptions& operator=(const TFFOptions&) = delete;
  ~TFFOptions() { FreeOptions(); }

  void InitOptions(int sws_flags);
  void FreeOptions();
  bool Initialized() const { return avformat_opts != nullptr; }

  // Sets a generic codec, format or scaler option by name; "vb", "ab", "sfoo" retry without the
  // a/v/s prefix in that type's context. False when no context knows the name or the value is
  // refused (then logged at the error level).
  bool OptionSetDefault(const std::string& name, const std::string& value);

  // Copies every option set so far that `source` has and whose flags include `flags` into
  // `target` (both AVClass-enabled contexts).
  void ApplyContextOptions(void* target, void* source, int flags) const;

  const std::vector<std::string>& opt_names() const { return names_; }

  AVCodecContext* avcodec_opts[5] = {};      // Owned.
  AVFormatContext* avformat_opts = nullptr;  // Owned.
  SwsContext* sws_opts = nullptr;            // Owned.

 private:
  std::vector<std::string> names_;
};

}  // namespace trelvix::media
