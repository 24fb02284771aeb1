// Codec lookup by name with the aliases of names that this library generation no longer has
// ("libfaac" is FFmpeg's own "aac" encoder, or "libfdk_aac" where the libraries provide it).
// The alias table is consulted only when a name is not found as it is.
#pragma once

#include <string>

extern "C" {
struct AVCodec;
}

namespace trelvix::engine {

const AVCodec* FindEncoderByName(const std::string& name);
const AVCodec* FindDecoderByName(const std::string& name);

}  // namespace trelvix::engine
