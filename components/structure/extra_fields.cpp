#include "extra_fields.h"

#include "little_endian_reader.h"
#include "zip_format.h"

namespace vellum {

ExtraFieldScan scanExtraFields(std::span<const std::uint8_t> area) {
    ExtraFieldScan scan;
    LittleEndianReader reader(area);
    while (reader.remaining() > 0) {
        // Fewer than four bytes cannot hold another field header: left-over bytes break the tiling.
        if (!reader.need(4)) {
            scan.tiles = false;
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

} // namespace vellum
