#pragma once

// What the archive component tells its caller while an operation works: the status event.

#include <cstdint>
#include <string>

namespace vellum {

struct ZipStatus {
    // The percentage of the current operation that is done.
    std::int16_t completion = 0;
    // The entry being worked on, its name as stored in its central header; empty before the first.
    std::string fileName;
};

} // namespace vellum
