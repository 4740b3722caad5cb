#pragma once

#include <isa-l/crc.h>

#include <cstdint>
#include <span>

namespace vellum {

// Continues the zip CRC-32 (the reflected IEEE polynomial, as gzip uses) over more bytes; start
// with 0. Streaming over pieces gives the same value as one call over the whole.
inline std::uint32_t crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    return bytes.empty() ? crc : crc32_gzip_refl(crc, bytes.data(), bytes.size());
}

} // namespace vellum
