#pragma once

// The extra-field area of a local or central header: a run of (id, size, data) fields that must
// fill the area exactly, and among them the zip64 extended-information field (APPNOTE 4.5.3).

#include <cstdint>
#include <optional>
#include <span>

namespace vellum {

struct ExtraFieldScan {
    bool tiles = true;                       // the fields fill the area exactly
    std::span<const std::uint8_t> zip64Data; // the zip64 field's data, when it was found
    bool hasZip64 = false;
};

ExtraFieldScan scanExtraFields(std::span<const std::uint8_t> area);

// The values a zip64 field holds. Only the fields whose 32-bit (or 16-bit) counterpart in the
// header is saturated are present, in this order.
struct Zip64Values {
    std::uint64_t uncompressedSize = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint32_t diskStart = 0;
};

struct Zip64Needs {
    bool uncompressedSize = false;
    bool compressedSize = false;
    bool localHeaderOffset = false;
    bool diskStart = false;

    bool any() const { return uncompressedSize || compressedSize || localHeaderOffset || diskStart; }
};

// Reads the needed values in order; std::nullopt when the field is too short to hold them.
std::optional<Zip64Values> readZip64Values(std::span<const std::uint8_t> data, const Zip64Needs& needs);

} // namespace vellum
