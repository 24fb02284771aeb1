#include "engine/codec_alias.h"

#include "media/ffapi.h"

namespace trelvix::engine {
namespace {

struct TCodecAlias {
  const char* name;
  bool encoder;
  const char* replacements[2];  // tried in order
};

constexpr TCodecAlias kAliases[] = {
    {"libfaac", true, {"libfdk_aac", "aac"}},
    {"libfaad", false, {"libfdk_aac", "aac"}},
    {"libxvid", true, {"libxvid", "mpeg4"}},
};

const AVCodec* Find(const std::string& name, bool encoder) {
  if (name.empty()) return nullptr;
  const auto by_name =
      encoder ? ff::avcodec_find_encoder_by_name : ff::avcodec_find_decoder_by_name;
  if (const AVCodec* c = by_name(name.c_str())) return c;
  for (const TCodecAlias& a : kAliases) {
    if (a.encoder != encoder || name != a.name) continue;
    for (const char* r : a.replacements)
      if (r)
        if (const AVCodec* c = by_name(r)) return c;
  }
  return nullptr;
}

}  // namespace

const AVCodec* FindEncoderByName(const std::string& name) {
  return Find(name, true);
}
const AVCodec* FindDecoderByName(const std::string& name) {
  return Find(name, false);
}

}  // namespace trelvix::engine
