#pragma once

// What the archive component tells its caller while an operation works: the status event.

#include <cstdint>
#include <string>

namespace vellum {

// The thirteen parameters of the status event. Completion is the percentage of the current
// operation that is done; the others describe the entry being worked on.
struct ZipStatus {
    std::string fileName;
    std::int64_t size = 0;
    std::int64_t packedSize = 0;
    std::int64_t processed = 0;
    std::int32_t attributes = 0;
    std::int64_t fileTime = 0;
    std::uint32_t crc = 0;
    std::int16_t ratio = 0;
    std::int16_t completion = 0;
    std::int16_t method = 0;
    bool encrypted = false;
    std::int16_t commentLength = 0;
    std::string comment;
};

} // namespace vellum
