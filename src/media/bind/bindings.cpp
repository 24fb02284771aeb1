// Definitions of every slot and the binding table of each library, in binding order.
#include "media/bind/bindings.h"

#include "media/ffapi.h"
#include "media/sdlapi.h"

#pragma GCC diagnostic ignored "-Wignored-attributes"
#define TRELVIX_FN(name) ::trelvix::media::FnSlot<decltype(&::name)> name;
#define TRELVIX_VAR(type, name) ::trelvix::media::VarSlot<type> name;
namespace ff {
#include "media/bind/avcodec.inc"
#include "media/bind/avdevice.inc"
#include "media/bind/avfilter.inc"
#include "media/bind/avformat.inc"
#include "media/bind/avutil.inc"
#include "media/bind/swresample.inc"
#include "media/bind/swscale.inc"
}  // namespace ff
namespace sdl {
#include "media/bind/sdl.inc"
}  // namespace sdl
#undef TRELVIX_FN
#undef TRELVIX_VAR

namespace trelvix::media {
namespace {

#define TRELVIX_FN(name) SlotEntry{#name, NS::name.address(), false, false},
#define TRELVIX_VAR(type, name) SlotEntry{#name, NS::name.address(), true, false},
#define NS ff
const std::vector<SlotEntry> kAvCodec = {
#include "media/bind/avcodec.inc"
};
const std::vector<SlotEntry> kAvDevice = {
#include "media/bind/avdevice.inc"
};
const std::vector<SlotEntry> kAvFilter = {
#include "media/bind/avfilter.inc"
};
const std::vector<SlotEntry> kAvFormat = {
#include "media/bind/avformat.inc"
};
const std::vector<SlotEntry> kAvUtil = {
#include "media/bind/avutil.inc"
};
const std::vector<SlotEntry> kSwScale = {
#include "media/bind/swscale.inc"
};
const std::vector<SlotEntry> kSwResample = {
#include "media/bind/swresample.inc"
};
#undef NS
#define NS sdl
const std::vector<SlotEntry> kSdl = {
#include "media/bind/sdl.inc"
};
#undef NS
#undef TRELVIX_FN
#undef TRELVIX_VAR

const std::vector<SlotEntry> kNone;

}  // namespace

const std::vector<SlotEntry>& BindingTable(TLibrary lib) {
  switch (lib) {
    case avCodec: return kAvCodec;
    case avDevice: return kAvDevice;
    case avFilter: return kAvFilter;
    case avFormat: return kAvFormat;
    case avUtil: return kAvUtil;
    case swScale: return kSwScale;
    case swResample: return kSwResample;
    case lbSDL: return kSdl;
    case myUtil: break;
  }
  return kNone;
}

}  // namespace trelvix::media
