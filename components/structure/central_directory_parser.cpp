#include "structure/central_directory_parser.h"

#include "base/little_endian_reader.h"
#include "base/wildcard_match.h"
#include "structure/extra_fields.h"

#include <algorithm>
#include <functional>
#include <string_view>

namespace vellum {

namespace {

using namespace zipformat;

// Polls the clock once per this many headers: often enough to yield in time on a directory of
// millions of entries, rarely enough to cost nothing.
constexpr std::size_t HeadersPerPoll = 512;

// Entries are indexed with 32 bits; a directory of more headers would need hundreds of gigabytes.
constexpr std::size_t MaximumEntries = UINT32_MAX;

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// What an encrypted entry's header must agree with, checked without the password: encryption adds
// a known number of bytes to the data, so a stored entry's sizes differ by exactly that many and
// any entry holds at least that many. A plain entry whose encryption flag was set by damage fails
// here as well. Strong encryption's headers vary in length and are left alone.
std::optional<ZipFaultKind> encryptionFault(const ZipEntryRecord& entry, const ExtraFieldScan& scan) {
    const bool encrypted = (entry.flags & FlagEncrypted) != 0;
    const bool strong = (entry.flags & FlagStrongEncryption) != 0;
    if ((strong && !encrypted) || (entry.method == MethodAes && !encrypted))
        return ZipFaultKind::EncryptionFlagsInconsistent;
    if (!encrypted || strong)
        return std::nullopt;
    std::uint64_t added = TraditionalEncryptionHeaderSize;
    std::uint16_t method = entry.method;
    if (entry.method == MethodAes) {
        const std::optional<AesParameters> aes = scan.hasAes ? readAesParameters(scan.aesData) : std::nullopt;
        if (!aes)
            return ZipFaultKind::AesFieldMissing;
        added = aes->saltSize + AesVerifierSize + AesAuthenticationCodeSize;
        method = aes->method;
    }
    if (entry.compressedSize < added)
        return ZipFaultKind::EncryptedSizeImpossible;
    if (method == MethodStored && entry.compressedSize - added != entry.uncompressedSize)
        return ZipFaultKind::EncryptedSizeImpossible;
    return std::nullopt;
}

// Parses the header at the start of bytes (which holds the whole header) into entry. Logs the
// entry's own faults; the header's placement was checked by the caller.
void parseHeader(std::span<const std::uint8_t> bytes, std::int64_t index, std::uint64_t offset, FaultLog& log,
                 const ZipArchiveLayout& layout, std::string_view fileFilter, ZipEntryRecord& entry) {
    LittleEndianReader reader(bytes);
    reader.skip(6); // signature, version made by
    entry.versionNeeded = reader.u16();
    entry.flags = reader.u16();
    entry.method = reader.u16();
    entry.dosDateTime = reader.u32();
    entry.crc = reader.u32();
    const std::uint32_t compressed32 = reader.u32();
    const std::uint32_t uncompressed32 = reader.u32();
    const std::uint16_t nameLength = reader.u16();
    const std::uint16_t extraLength = reader.u16();
    reader.skip(2); // comment length
    const std::uint16_t diskStart = reader.u16();
    reader.skip(6); // internal and external attributes
    const std::uint32_t localOffset32 = reader.u32();
    const std::span<const std::uint8_t> name = reader.take(nameLength);
    const std::span<const std::uint8_t> extra = reader.take(extraLength);

    entry.centralHeaderOffset = offset;
    entry.nameLength = nameLength;
    entry.nameHash = zipNameHash(name);
    // An empty filter selects nothing: the name need not be looked at.
    entry.matchesFilter = !fileFilter.empty() && wildcardMatch(fileFilter, entryFileName(asText(name)));
    entry.compressedSize = compressed32;
    entry.uncompressedSize = uncompressed32;
    std::uint64_t localOffset = localOffset32;
    std::uint64_t disk = diskStart;

    const ExtraFieldScan scan = scanExtraFields(extra);
    if (!scan.tiles) {
        log.add(ZipFaultKind::ExtraFieldsDamaged, index, offset);
        entry.damaged = true;
    }
    entry.copiedFieldsDigest = copiedFieldsDigest(extra);
    Zip64Needs needs;
    needs.uncompressedSize = uncompressed32 == Saturated32;
    needs.compressedSize = compressed32 == Saturated32;
    needs.localHeaderOffset = localOffset32 == Saturated32;
    needs.diskStart = diskStart == Saturated16;
    if (needs.any()) {
        const std::optional<Zip64Values> values =
            scan.hasZip64 ? readZip64Values(scan.zip64Data, needs) : std::nullopt;
        if (!values) {
            log.add(ZipFaultKind::Zip64FieldMissing, index, offset);
            entry.damaged = true;
            entry.unlocatable = true;
        } else {
            entry.zip64 = true;
            if (needs.uncompressedSize)
                entry.uncompressedSize = values->uncompressedSize;
            if (needs.compressedSize)
                entry.compressedSize = values->compressedSize;
            if (needs.localHeaderOffset)
                localOffset = values->localHeaderOffset;
            if (needs.diskStart)
                disk = values->diskStart;
        }
    }
    if (entry.unlocatable) {
        // Where its local header lies is unknown.
    } else if (!layout.hasDisk(disk)) {
        log.add(ZipFaultKind::EntryDiskWrong, index, offset);
        entry.damaged = true;
        entry.unlocatable = true;
    } else if (localOffset > UINT64_MAX - layout.diskBase(disk)) {
        log.add(ZipFaultKind::EntryOutsideFile, index, offset);
        entry.damaged = true;
        entry.unlocatable = true;
    } else {
        entry.localHeaderOffset = localOffset + layout.diskBase(disk);
    }
    if (implausibleRatio(entry.method, entry.compressedSize, entry.uncompressedSize)) {
        log.add(ZipFaultKind::ImplausibleRatio, index, offset);
        entry.damaged = true;
    }
    if (const std::optional<ZipFaultKind> fault = encryptionFault(entry, scan)) {
        log.add(*fault, index, offset);
        entry.damaged = true;
    }
}

} // namespace

bool implausibleRatio(std::uint16_t method, std::uint64_t compressedSize, std::uint64_t uncompressedSize) {
    if (method != MethodDeflated || uncompressedSize <= RatioAllowance)
        return false;
    if (compressedSize >= (UINT64_MAX - RatioAllowance) / MaximumDeflateRatio)
        return false;
    return uncompressedSize - RatioAllowance > compressedSize * MaximumDeflateRatio;
}

ParseOutcome parseCentralDirectory(ByteWindow& window, FaultLog& log, ProgressPacer& pacer,
                                   const ZipArchiveLayout& layout, std::string_view fileFilter,
                                   EntryTable& entries) {
    entries.clear(layout.directoryStart);
    // Waiting for the memory of a large directory polls as the parsing does.
    const std::function<bool()> keepWaiting = [&pacer] { return pacer.poll(); };
    const std::uint64_t end = layout.directoryStart + layout.directorySize;
    std::uint64_t position = layout.directoryStart;
    bool consumedExactly = true;
    ZipEntryRecord entry;
    while (position < end) {
        const std::uint64_t left = end - position;
        const auto index = static_cast<std::int64_t>(entries.size());
        if (left < CentralHeaderSize || entries.size() >= MaximumEntries) {
            log.addArchiveFault(ZipFaultKind::CentralDirectorySizeMismatch, position);
            consumedExactly = false;
            break;
        }
        const auto fixed = window.view(position, CentralHeaderSize);
        if (!fixed) {
            log.addArchiveFault(ZipFaultKind::CannotRead, position);
            return ParseOutcome::ReadFailed;
        }
        LittleEndianReader reader(*fixed);
        if (reader.u32() != CentralHeaderSignature) {
            log.add(ZipFaultKind::CentralHeaderSignature, index, position);
            consumedExactly = false;
            break;
        }
        reader.skip(24);
        const std::uint64_t total =
            CentralHeaderSize + std::uint64_t{reader.u16()} + std::uint64_t{reader.u16()} + reader.u16();
        if (total > left) {
            log.add(ZipFaultKind::CentralHeaderTruncated, index, position);
            consumedExactly = false;
            break;
        }
        const auto whole = window.view(position, static_cast<std::size_t>(total));
        if (!whole) {
            log.addArchiveFault(ZipFaultKind::CannotRead, position);
            return ParseOutcome::ReadFailed;
        }
        entry = ZipEntryRecord{};
        parseHeader(*whole, index, position, log, layout, fileFilter, entry);
        if (!entries.push(entry, keepWaiting))
            return ParseOutcome::Stopped;
        position += total;
        if (entries.size() % HeadersPerPoll == 0 && !pacer.poll())
            return ParseOutcome::Stopped;
        if (log.stopRequested())
            return ParseOutcome::Stopped;
    }
    if (consumedExactly && entries.size() != layout.declaredEntries)
        log.addArchiveFault(ZipFaultKind::EntryCountMismatch, layout.endRecordOffset);
    if (log.stopRequested())
        return ParseOutcome::Stopped;
    return entries.arrangeByOffset(keepWaiting) ? ParseOutcome::Completed : ParseOutcome::Stopped;
}

} // namespace vellum
