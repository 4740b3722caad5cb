#pragma once

// Minimal writers of the Shrink, Reduce and Implode formats, for tests only. No tool on Linux
// makes these streams, so the tests make their own: each writer is simple (greedy matching, fixed
// code-length profiles) but produces a stream that is valid by the format's description, and each
// reaches the variant's rarer paths: Shrink widens its codes to 13 bits and clears its dictionary
// partially, Reduce codes lengths that need the extra byte, Implode uses long matches and, when
// asked, the literal tree and the 8 KiB window.

#include <string>
#include <string_view>

namespace vellum::testing {

struct ShrinkStatistics {
    int widenings = 0;
    int partialClears = 0;
    int codesDefinedByUse = 0; // codes used in the same step that defines them
};

std::string shrinkEncode(std::string_view data, ShrinkStatistics* statistics = nullptr);

// factor 1..4, as methods 2..5.
std::string reduceEncode(std::string_view data, int factor);

// The general-purpose flags of an imploded entry with these options.
int implodeFlags(bool largeWindow, bool literalTree);
std::string implodeEncode(std::string_view data, bool largeWindow, bool literalTree);

} // namespace vellum::testing
