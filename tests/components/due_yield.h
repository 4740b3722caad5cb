#pragma once

// The component yields to its caller once its yield interval has passed since it last did, so that
// much time is the very condition for a yield. A callback of the caller's that lasts until then (a
// window repainting slowly) makes the next yield due, on any machine and under any load.

#include "base/progress_pacer.h"
#include "condition_wait.h"

namespace vellum::testing {

inline bool lastUntilYieldIsDue() {
    const ProgressPacer::Clock::time_point since = ProgressPacer::Clock::now();
    return waitUntil([&] { return ProgressPacer::Clock::now() - since >= ProgressPacer::YieldInterval; });
}

} // namespace vellum::testing
