#include "structure/extra_fields.h"

#include "base/little_endian_reader.h"
#include "structure/zip_format.h"

#include <algorithm>

namespace vellum {

namespace {

constexpr std::uint16_t NtfsTimesId = 0x000a;
constexpr std::uint16_t ExtendedTimestampId = 0x5455;
constexpr std::uint16_t OldUnixId = 0x5855;
constexpr std::uint16_t UnicodePathId = 0x7075;
constexpr std::uint16_t UnixOwnerId = 0x7875;

struct ExtraField {
    std::uint16_t id = 0;
    std::span<const std::uint8_t> data;
};

// Calls visit for each whole field in order; stops at the first that runs past the area.
template <typename Visit> void forEachField(std::span<const std::uint8_t> area, Visit visit) {
    LittleEndianReader reader(area);
    while (reader.need(4)) {
        const std::uint16_t id = reader.u16();
        const std::uint16_t size = reader.u16();
        if (!reader.need(size))
            return;
        visit(ExtraField{id, reader.take(size)});
    }
}

// The part of a field that both headers carry with one meaning, or nothing for fields whose copies
// may rightly differ or whose layout is not known here.
std::optional<std::span<const std::uint8_t>> copiedPart(const ExtraField& field) {
    switch (field.id) {
    case ExtendedTimestampId:
        // Flags, then the modification time when flag 0 is set; the local copy may go on with the
        // access and creation times that the central copy leaves out.
        if (field.data.size() >= 5 && (field.data[0] & 1) != 0)
            return field.data.subspan(1, 4);
        return std::nullopt;
    case OldUnixId:
        // Access and modification times in both copies; owner only in the local one.
        if (field.data.size() >= 8)
            return field.data.first(8);
        return std::nullopt;
    case NtfsTimesId:
    case UnicodePathId:
    case UnixOwnerId:
    case zipformat::AesExtraId:
        return field.data;
    default:
        return std::nullopt;
    }
}

std::uint64_t fieldHash(std::uint16_t id, std::span<const std::uint8_t> part) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto mix = [&](std::uint8_t byte) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    };
    mix(static_cast<std::uint8_t>(id));
    mix(static_cast<std::uint8_t>(id >> 8));
    for (const std::uint8_t byte : part)
        mix(byte);
    return hash;
}

} // namespace

ExtraFieldScan scanExtraFields(std::span<const std::uint8_t> area) {
    ExtraFieldScan scan;
    LittleEndianReader reader(area);
    while (reader.remaining() > 0) {
        // Fewer than four bytes cannot hold another field header: left-over bytes break the tiling,
        // unless all of them are zero, the 1 to 3 bytes of alignment padding.
        if (!reader.need(4)) {
            const std::span<const std::uint8_t> rest = reader.take(reader.remaining());
            scan.tiles = std::all_of(rest.begin(), rest.end(), [](std::uint8_t byte) { return byte == 0; });
            break;
        }
        const std::uint16_t id = reader.u16();
        const std::uint16_t size = reader.u16();
        if (!reader.need(size)) {
            scan.tiles = false;
            break;
        }
        const std::span<const std::uint8_t> data = reader.take(size);
        if (id == zipformat::Zip64ExtraId && !scan.hasZip64) {
            scan.hasZip64 = true;
            scan.zip64Data = data;
        }
        if (id == zipformat::AesExtraId && !scan.hasAes) {
            scan.hasAes = true;
            scan.aesData = data;
        }
    }
    return scan;
}

std::optional<Zip64Values> readZip64Values(std::span<const std::uint8_t> data, const Zip64Needs& needs) {
    LittleEndianReader reader(data);
    Zip64Values values;
    const std::size_t length = (needs.uncompressedSize ? 8u : 0u) + (needs.compressedSize ? 8u : 0u) +
                               (needs.localHeaderOffset ? 8u : 0u) + (needs.diskStart ? 4u : 0u);
    if (!reader.need(length))
        return std::nullopt;
    if (needs.uncompressedSize)
        values.uncompressedSize = reader.u64();
    if (needs.compressedSize)
        values.compressedSize = reader.u64();
    if (needs.localHeaderOffset)
        values.localHeaderOffset = reader.u64();
    if (needs.diskStart)
        values.diskStart = reader.u32();
    return values;
}

std::optional<AesParameters> readAesParameters(std::span<const std::uint8_t> data) {
    // Vendor version (1 or 2), vendor "AE", strength (1 to 3 for 128-, 192- and 256-bit keys), method.
    LittleEndianReader reader(data);
    if (!reader.need(7))
        return std::nullopt;
    const std::uint16_t version = reader.u16();
    const std::uint16_t vendor = reader.u16();
    const std::uint8_t strength = reader.take(1)[0];
    const std::uint16_t method = reader.u16();
    if ((version != 1 && version != 2) || vendor != 0x4541 || strength < 1 || strength > 3)
        return std::nullopt;
    return AesParameters{std::uint64_t{4} + 4u * strength, method};
}

std::uint16_t copiedFieldsDigest(std::span<const std::uint8_t> area) {
    // A sum, so that the fields' order does not matter.
    std::uint64_t digest = 0;
    forEachField(area, [&](const ExtraField& field) {
        if (const auto part = copiedPart(field))
            digest += fieldHash(field.id, *part);
    });
    return static_cast<std::uint16_t>(digest ^ (digest >> 16) ^ (digest >> 32) ^ (digest >> 48));
}

bool hasCopiedFields(std::span<const std::uint8_t> area) {
    bool found = false;
    forEachField(area, [&](const ExtraField& field) { found = found || copiedPart(field).has_value(); });
    return found;
}

bool copiedFieldsDiffer(std::span<const std::uint8_t> localArea, std::span<const std::uint8_t> centralArea) {
    bool differ = false;
    forEachField(localArea, [&](const ExtraField& local) {
        const auto localPart = copiedPart(local);
        if (!localPart || differ)
            return;
        bool compared = false;
        forEachField(centralArea, [&](const ExtraField& central) {
            if (compared || central.id != local.id)
                return;
            compared = true;
            const auto centralPart = copiedPart(central);
            differ = centralPart && !std::ranges::equal(*localPart, *centralPart);
        });
    });
    return differ;
}

} // namespace vellum
