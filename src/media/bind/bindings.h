// The binding table of each library: the slots its fix-up fills, in order.
#pragma once

#include <vector>

#include "media/ff_library.h"
#include "media/ff_slot.h"

namespace trelvix::media {

const std::vector<SlotEntry>& BindingTable(TLibrary lib);

}  // namespace trelvix::media
