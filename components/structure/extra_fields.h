#pragma once

// The extra-field area of a local or central header: a run of (id, size, data) fields that must
// fill the area exactly, save for padding, among them the zip64 extended-information field
// (APPNOTE 4.5.3) and the AES encryption field, and the fields that both headers carry as copies of
// one another.

#include <cstdint>
#include <optional>
#include <span>

namespace vellum {

struct ExtraFieldScan {
    bool tiles = true;                       // the fields fill the area exactly (padding allowed)
    std::span<const std::uint8_t> zip64Data; // the zip64 field's data, when it was found
    bool hasZip64 = false;
    std::span<const std::uint8_t> aesData; // the AES field's data, when it was found
    bool hasAes = false;
};

// Aligning archivers (zipalign for Android packages among them) pad a local header's extra area
// with 1 to 3 zero bytes so that the data starts on a 4-byte boundary; readers take a central
// area padded alike just as well. Such a tail, too short for a field header, is padding in either
// header; any other left-over bytes break the tiling.
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

// The AES field's content: the encryption strength and the method the data was compressed with
// before it was encrypted.
struct AesParameters {
    std::uint64_t saltSize = 0;
    std::uint16_t method = 0;
};

// std::nullopt when the field is too short, names another vendor or an unknown strength.
std::optional<AesParameters> readAesParameters(std::span<const std::uint8_t> data);

// Some extra fields appear in both headers with one meaning (times, owner, the Unicode name, AES
// parameters), although a header may carry less of a field than the other (the central copy of
// the extended timestamp holds only the modification time). A digest of those parts of an area,
// equal for two areas whose shared parts are equal and that carry the same such fields.
std::uint16_t copiedFieldsDigest(std::span<const std::uint8_t> area);

// True when the area holds a field with a part that the other header may copy.
bool hasCopiedFields(std::span<const std::uint8_t> area);

// True when a field both areas carry says something different in each.
bool copiedFieldsDiffer(std::span<const std::uint8_t> localArea, std::span<const std::uint8_t> centralArea);

} // namespace vellum
