// The SDL2 entry points, reached through the loader's slots in namespace sdl (see ffapi.h).
#pragma once

#include <SDL.h>

#include "media/ff_slot.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"
namespace sdl {
#define TRELVIX_FN(name) extern ::trelvix::media::FnSlot<decltype(&::name)> name;
#include "media/bind/sdl.inc"
#undef TRELVIX_FN
}  // namespace sdl
#pragma GCC diagnostic pop
