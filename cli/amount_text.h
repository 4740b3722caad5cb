#pragma once

// Sizes and lengths of time as a line on a terminal gives them: short, and no finer than a reader
// cares for.

#include <cstdint>
#include <string>

namespace vellum {

// Bytes in the decimal units the speed is given in: "512 bytes", "1.2 kB", "34.5 MB", "1.2 GB".
std::string byteAmountText(std::uint64_t bytes);
// How long a run took: "0.4 s", "12 min 5 s", "2 h 5 min".
std::string runTimeText(double seconds);
// A wait in whole seconds as a clock gives it: "0:07", "12:05", "2:05:00".
std::string clockTimeText(double seconds);

} // namespace vellum
