#pragma once

// Whether the window can be opened: asked before any window or GUI application exists.

#include "window_start.h"

namespace vellum {

// Whether a display server can be reached: none named (Missing), named but not answering
// (Unreachable), or Usable. A platform chosen through QT_QPA_PLATFORM is taken as usable.
DisplayReach probeDisplay();

} // namespace vellum
