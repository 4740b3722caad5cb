#pragma once

#include <isa-l/crc.h>
#include <zlib.h>

#include <cstdint>
#include <span>

namespace vellum {

// Continues the zip CRC-32 (the reflected IEEE polynomial, as gzip uses) over more bytes; start
// with 0. Streaming over pieces gives the same value as one call over the whole.
inline std::uint32_t crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    return bytes.empty() ? crc : crc32_gzip_refl(crc, bytes.data(), bytes.size());
}

// The CRC-32 of two pieces one after the other, from the CRC of each and the second's length: what
// lets pieces decoded apart be checked as one.
inline std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
    return static_cast<std::uint32_t>(crc32_combine64(first, second, static_cast<z_off64_t>(secondLength)));
}

} // namespace vellum
