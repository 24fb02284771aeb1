// The program's id on the desktop: the name of its desktop entry, AppStream metadata and icon
// (resources/desktop/), and what notifications and the window name so that the desktop ties
// them to the installed entry.
#pragma once

namespace trelvix::app {

inline constexpr char kDesktopId[] = "com.trelvix.TrelvixToiPhone";

}  // namespace trelvix::app
