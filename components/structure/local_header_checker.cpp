#include "structure/local_header_checker.h"

#include "base/little_endian_reader.h"
#include "structure/extra_fields.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace vellum {

namespace {

using namespace zipformat;

// Headers are read with this much read-ahead rather than a full window: enough to take the headers
// of many small entries in one read, little enough not to read large entries' data here and again
// when they are decompressed.
constexpr std::size_t HeaderReadAhead = 32 * 1024;

struct LocalSizes {
    std::uint64_t compressed = 0;
    std::uint64_t uncompressed = 0;
    bool zip64 = false;
};

// The local header's sizes: each 32-bit field, or where it is saturated the zip64 field's value. A
// zip64 field there must hold both sizes (APPNOTE 4.5.3), but a field holding only the saturated
// one is read too, as some writers produce it. A 32-bit size that is not saturated is the one
// readers use, so it is the one compared, whatever the zip64 field holds.
LocalSizes localSizes(std::uint32_t compressed32, std::uint32_t uncompressed32, const ExtraFieldScan& scan) {
    LocalSizes sizes{compressed32, uncompressed32, false};
    if (!scan.hasZip64 || (compressed32 != Saturated32 && uncompressed32 != Saturated32))
        return sizes;
    Zip64Needs needs;
    needs.uncompressedSize = uncompressed32 == Saturated32 || scan.zip64Data.size() >= 16;
    needs.compressedSize = compressed32 == Saturated32 || scan.zip64Data.size() >= 16;
    if (const std::optional<Zip64Values> values = readZip64Values(scan.zip64Data, needs)) {
        sizes.zip64 = true;
        if (uncompressed32 == Saturated32)
            sizes.uncompressed = values->uncompressedSize;
        if (compressed32 == Saturated32)
            sizes.compressed = values->compressedSize;
    }
    return sizes;
}

// Flags that change how an entry is found or decoded: the two headers must agree on them.
constexpr std::uint16_t SharedFlags = FlagEncrypted | FlagDataDescriptor | FlagStrongEncryption;

// With a data descriptor the local header is written before the values are known: a local value
// is then either left zero or already the final one.
bool deferredValueFits(std::uint64_t local, std::uint64_t central) {
    return local == 0 || local == central;
}

// Whether the local CRC fits the central one when the data descriptor carries the real value.
// Writers that stream an encrypted entry put the modification time in the CRC's high half, as
// the encryption header's check byte then comes from the time.
bool deferredCrcFits(std::uint32_t local, std::uint32_t central, std::uint32_t dosDateTime, bool encrypted) {
    return deferredValueFits(local, central) || (encrypted && local == (dosDateTime & 0xFFFFu) << 16);
}

// One of the four data descriptor layouts: with or without its signature, 4- or 8-byte sizes.
struct DescriptorForm {
    bool signature;
    bool wide;
    std::uint8_t length() const {
        return static_cast<std::uint8_t>((signature ? 4 : 0) + 4 + (wide ? 16 : 8));
    }
};

bool descriptorMatches(std::span<const std::uint8_t> bytes, DescriptorForm form,
                       const ZipEntryRecord& entry) {
    if (bytes.size() < form.length())
        return false;
    LittleEndianReader reader(bytes);
    if (form.signature && reader.u32() != DataDescriptorSignature)
        return false;
    const std::uint32_t crc = reader.u32();
    const std::uint64_t compressed = form.wide ? reader.u64() : reader.u32();
    const std::uint64_t uncompressed = form.wide ? reader.u64() : reader.u32();
    return crc == entry.crc && compressed == entry.compressedSize && uncompressed == entry.uncompressedSize;
}

// Finds the data descriptor after the entry's data. The expected form (8-byte sizes for a zip64
// entry) is tried first, but any form that matches the central record is accepted. Returns false
// with the entry's descriptor length left 0 when none matches.
bool checkDescriptor(ByteWindow& window, FaultLog& log, std::int64_t index, std::uint64_t dataEnd,
                     std::uint64_t limit, bool wide, ZipEntryRecord& entry, bool& readFailed) {
    const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(limit - dataEnd, 24));
    const auto bytes = window.view(dataEnd, available, HeaderReadAhead);
    if (!bytes) {
        readFailed = true;
        log.addArchiveFault(ZipFaultKind::CannotRead, dataEnd);
        return false;
    }
    const std::array<DescriptorForm, 4> forms{DescriptorForm{true, wide}, DescriptorForm{true, !wide},
                                              DescriptorForm{false, wide}, DescriptorForm{false, !wide}};
    for (const DescriptorForm form : forms) {
        if (descriptorMatches(*bytes, form, entry)) {
            entry.descriptorLength = form.length();
            return true;
        }
    }
    const bool present = available >= DescriptorForm{false, false}.length();
    log.add(present ? ZipFaultKind::DataDescriptorMismatch : ZipFaultKind::DataDescriptorMissing, index,
            dataEnd);
    return false;
}

// An AES entry's data can be read only with the strength and real method its AES field gives, and
// a reader that streams the archive takes them from the local header: its copy must be whole too.
// A length cut short would otherwise pass unseen, its cut-off zero bytes taken for padding.
bool needsAesField(const ZipEntryRecord& entry) {
    return entry.method == MethodAes && (entry.flags & FlagEncrypted) != 0 &&
           (entry.flags & FlagStrongEncryption) == 0;
}

// The fields of a local header that repeat the central header's without any reader needing them.
struct LocalCopies {
    std::uint16_t versionNeeded = 0;
    std::uint32_t dosDateTime = 0;
    std::span<const std::uint8_t> extra;
};

// The central header's extra area, read again: only the digest of its copied fields was kept.
std::optional<std::vector<std::uint8_t>> centralExtraArea(ByteWindow& window, const ZipEntryRecord& entry) {
    std::array<std::uint8_t, CentralHeaderSize> fixed{};
    if (!window.copy(entry.centralHeaderOffset, fixed))
        return std::nullopt;
    LittleEndianReader reader(fixed);
    reader.skip(28);
    const std::uint16_t nameLength = reader.u16();
    std::vector<std::uint8_t> extra(reader.u16());
    if (!window.copy(entry.centralHeaderOffset + CentralHeaderSize + nameLength, extra))
        return std::nullopt;
    return extra;
}

// Disagreeing copies change nothing a reader extracts, so they are notes, not damage. A writer
// that fills the copies differently does so for every entry, so each kind is noted once, at the
// first entry it is seen in. False only when the file could not be read.
bool noteCopiesThatDiffer(ByteWindow& window, FaultLog& log, std::int64_t index, std::uint64_t offset,
                          const ZipEntryRecord& entry, const LocalCopies& local) {
    const auto noteOnce = [&](ZipFaultKind kind) {
        if (!log.has(kind))
            log.add(kind, index, offset);
    };
    if (local.versionNeeded != entry.versionNeeded)
        noteOnce(ZipFaultKind::LocalVersionNeededDiffers);
    if (local.dosDateTime != entry.dosDateTime)
        noteOnce(ZipFaultKind::LocalTimeDiffers);
    // Equal digests mean equal copies. Different ones may come from a field that only one header
    // carries (7-Zip keeps NTFS times in the central header alone), so the central area is read
    // again to compare the fields both carry.
    if (log.has(ZipFaultKind::LocalExtraFieldDiffers) || !hasCopiedFields(local.extra) ||
        copiedFieldsDigest(local.extra) == entry.copiedFieldsDigest)
        return true;
    const std::optional<std::vector<std::uint8_t>> central = centralExtraArea(window, entry);
    if (!central) {
        log.addArchiveFault(ZipFaultKind::CannotRead, entry.centralHeaderOffset);
        return false;
    }
    if (copiedFieldsDiffer(local.extra, *central))
        noteOnce(ZipFaultKind::LocalExtraFieldDiffers);
    return true;
}

// Checks one entry; false only when the file could not be read.
bool checkEntry(ByteWindow& window, FaultLog& log, const ZipArchiveLayout& layout, std::int64_t index,
                ZipEntryRecord& entry) {
    const std::uint64_t limit = layout.directoryStart;
    const std::uint64_t offset = entry.localHeaderOffset;
    auto fail = [&](ZipFaultKind kind, std::uint64_t where) {
        log.add(kind, index, where);
        entry.damaged = true;
    };
    if (offset > limit || limit - offset < LocalHeaderSize) {
        fail(ZipFaultKind::EntryOutsideFile, offset);
        return true;
    }
    const auto fixed = window.view(offset, LocalHeaderSize, HeaderReadAhead);
    if (!fixed) {
        log.addArchiveFault(ZipFaultKind::CannotRead, offset);
        return false;
    }
    LittleEndianReader reader(*fixed);
    if (reader.u32() != LocalHeaderSignature) {
        fail(ZipFaultKind::LocalHeaderMissing, offset);
        return true;
    }
    const std::uint16_t versionNeeded = reader.u16();
    const std::uint16_t flags = reader.u16();
    const std::uint16_t method = reader.u16();
    const std::uint32_t dosDateTime = reader.u32();
    const std::uint32_t crc = reader.u32();
    const std::uint32_t compressed32 = reader.u32();
    const std::uint32_t uncompressed32 = reader.u32();
    const std::uint16_t nameLength = reader.u16();
    const std::uint16_t extraLength = reader.u16();
    const std::uint64_t headerLength = LocalHeaderSize + std::uint64_t{nameLength} + extraLength;
    if (headerLength > limit - offset) {
        fail(ZipFaultKind::EntryOutsideFile, offset);
        return true;
    }
    const auto whole = window.view(offset, static_cast<std::size_t>(headerLength), HeaderReadAhead);
    if (!whole) {
        log.addArchiveFault(ZipFaultKind::CannotRead, offset);
        return false;
    }
    LittleEndianReader variable(whole->subspan(LocalHeaderSize));
    const std::span<const std::uint8_t> name = variable.take(nameLength);
    const std::span<const std::uint8_t> extra = variable.take(extraLength);
    const ExtraFieldScan scan = scanExtraFields(extra);

    if (nameLength != entry.nameLength || zipNameHash(name) != entry.nameHash)
        fail(ZipFaultKind::LocalHeaderNameMismatch, offset);
    if (method != entry.method)
        fail(ZipFaultKind::LocalHeaderMethodMismatch, offset);
    if ((flags ^ entry.flags) & SharedFlags)
        fail(ZipFaultKind::LocalHeaderFlagsMismatch, offset);
    if (!scan.tiles)
        fail(ZipFaultKind::ExtraFieldsDamaged, offset);
    if (needsAesField(entry) && !(scan.hasAes && readAesParameters(scan.aesData)))
        fail(ZipFaultKind::AesFieldMissing, offset);
    const LocalSizes sizes = localSizes(compressed32, uncompressed32, scan);
    const bool hasDescriptor = (flags & FlagDataDescriptor) != 0;
    if (!hasDescriptor) {
        if (crc != entry.crc)
            fail(ZipFaultKind::LocalHeaderCrcMismatch, offset);
        if (sizes.compressed != entry.compressedSize || sizes.uncompressed != entry.uncompressedSize)
            fail(ZipFaultKind::LocalHeaderSizeMismatch, offset);
    } else {
        if (!deferredCrcFits(crc, entry.crc, dosDateTime, (flags & FlagEncrypted) != 0))
            fail(ZipFaultKind::LocalHeaderCrcMismatch, offset);
        if (!deferredValueFits(sizes.compressed, entry.compressedSize) ||
            !deferredValueFits(sizes.uncompressed, entry.uncompressedSize))
            fail(ZipFaultKind::LocalHeaderSizeMismatch, offset);
    }
    if (!noteCopiesThatDiffer(window, log, index, offset, entry,
                              LocalCopies{versionNeeded, dosDateTime, extra}))
        return false;

    const std::uint64_t dataOffset = offset + headerLength;
    if (entry.compressedSize > limit - dataOffset) {
        fail(ZipFaultKind::EntryOutsideFile, dataOffset);
        return true;
    }
    entry.dataDelta = static_cast<std::uint32_t>(headerLength);
    if (hasDescriptor) {
        bool readFailed = false;
        if (!checkDescriptor(window, log, index, dataOffset + entry.compressedSize, limit,
                             sizes.zip64 || entry.zip64, entry, readFailed)) {
            entry.damaged = true;
            if (readFailed)
                return false;
        }
    }
    entry.spanKnown = true;
    return true;
}

// What a look at a place where an unlisted entry may start found.
enum class UnlistedLook { NotAHeader, Header, ReadFailed };

// Whether a local header of a real entry starts at offset: its signature, a name of at least one
// byte without NUL bytes, extra fields that fill their area, and all of it, with the data when its
// size is known, before limit. A stub's bytes rarely pass all of that by chance. On Header, end is
// where its data ends (where it starts when only a data descriptor after it gives its size) and
// sizeKnown says which.
UnlistedLook lookForUnlistedHeader(ByteWindow& window, std::uint64_t offset, std::uint64_t limit,
                                   std::uint64_t& end, bool& sizeKnown) {
    if (offset > limit || limit - offset < LocalHeaderSize)
        return UnlistedLook::NotAHeader;
    const auto fixed = window.view(offset, LocalHeaderSize, HeaderReadAhead);
    if (!fixed)
        return UnlistedLook::ReadFailed;
    LittleEndianReader reader(*fixed);
    if (reader.u32() != LocalHeaderSignature)
        return UnlistedLook::NotAHeader;
    reader.skip(2);
    const std::uint16_t flags = reader.u16();
    reader.skip(10);
    const std::uint32_t compressed32 = reader.u32();
    const std::uint32_t uncompressed32 = reader.u32();
    const std::uint16_t nameLength = reader.u16();
    const std::uint16_t extraLength = reader.u16();
    const std::uint64_t headerLength = LocalHeaderSize + std::uint64_t{nameLength} + extraLength;
    if (nameLength == 0 || headerLength > limit - offset)
        return UnlistedLook::NotAHeader;
    const auto whole = window.view(offset, static_cast<std::size_t>(headerLength), HeaderReadAhead);
    if (!whole)
        return UnlistedLook::ReadFailed;
    LittleEndianReader variable(whole->subspan(LocalHeaderSize));
    const std::span<const std::uint8_t> name = variable.take(nameLength);
    const ExtraFieldScan scan = scanExtraFields(variable.take(extraLength));
    if (std::find(name.begin(), name.end(), std::uint8_t{0}) != name.end() || !scan.tiles)
        return UnlistedLook::NotAHeader;
    const std::uint64_t dataOffset = offset + headerLength;
    const LocalSizes sizes = localSizes(compressed32, uncompressed32, scan);
    sizeKnown = (flags & FlagDataDescriptor) == 0 || sizes.compressed != 0;
    if (sizeKnown && sizes.compressed > limit - dataOffset)
        return UnlistedLook::NotAHeader;
    end = dataOffset + (sizeKnown ? sizes.compressed : 0);
    return UnlistedLook::Header;
}

// Whether central headers follow one another from offset up to exactly limit: a directory that the
// end record no longer counts or points at.
UnlistedLook centralHeadersRunTo(ByteWindow& window, std::uint64_t offset, std::uint64_t limit) {
    while (offset < limit) {
        if (limit - offset < CentralHeaderSize)
            return UnlistedLook::NotAHeader;
        const auto fixed = window.view(offset, CentralHeaderSize, HeaderReadAhead);
        if (!fixed)
            return UnlistedLook::ReadFailed;
        LittleEndianReader reader(*fixed);
        if (reader.u32() != CentralHeaderSignature)
            return UnlistedLook::NotAHeader;
        reader.skip(24);
        const std::uint64_t variable = std::uint64_t{reader.u16()} + reader.u16() + reader.u16();
        offset += CentralHeaderSize + variable;
    }
    return offset == limit ? UnlistedLook::Header : UnlistedLook::NotAHeader;
}

// Entries whose local headers lie before the directory where no central header points: a directory
// (or an end record) that lost them hides them from every reader, so the archive is damaged however
// sound the listed entries are. Only the bytes that no listed entry covers are looked at, so an
// archive whose entries follow one another up to the directory costs nothing more.
class UnlistedEntrySearch {
public:
    UnlistedEntrySearch(ByteWindow& window, ProgressSink& progress)
        : m_window(window), m_progress(progress) {}

    std::uint64_t count() const { return m_count; }
    std::uint64_t firstOffset() const { return m_firstOffset; }

    // Before the first listed entry lies either a stub (data before the archive) or entries the
    // directory lost. Lost ones start right at the archive's start and follow one another up to the
    // first listed entry (or the directory), perhaps with the central headers that no longer count
    // them after them: only such an unbroken run counts, so that a stub, even one holding a whole
    // archive of its own (whose end record would stand between), never does.
    ParseOutcome searchLeading(std::uint64_t from, std::uint64_t limit) {
        std::uint64_t at = from;
        std::uint64_t run = 0;
        while (at < limit) {
            std::uint64_t end = 0;
            bool sizeKnown = false;
            const UnlistedLook look = lookForUnlistedHeader(m_window, at, limit, end, sizeKnown);
            if (look == UnlistedLook::ReadFailed)
                return ParseOutcome::ReadFailed;
            if (look == UnlistedLook::Header && sizeKnown) {
                ++run;
                at = end;
                continue;
            }
            const UnlistedLook directory = run > 0 && look == UnlistedLook::NotAHeader
                                               ? centralHeadersRunTo(m_window, at, limit)
                                               : UnlistedLook::NotAHeader;
            if (directory == UnlistedLook::ReadFailed)
                return ParseOutcome::ReadFailed;
            if (directory == UnlistedLook::NotAHeader)
                return ParseOutcome::Completed;
            break;
        }
        if (run > 0)
            found(from, run);
        return ParseOutcome::Completed;
    }

    // Between listed entries and after the last one, any local header of a real entry counts. The
    // data of each one found is passed over, so that an archive stored inside it is not counted.
    ParseOutcome searchGap(std::uint64_t from, std::uint64_t limit, std::size_t entryIndex) {
        static constexpr std::array<std::uint8_t, 4> Signature{'P', 'K', 3, 4};
        std::uint64_t at = from;
        while (limit - at >= LocalHeaderSize) {
            if (!m_progress.advance(entryIndex, 0))
                return ParseOutcome::Stopped;
            const std::size_t length =
                static_cast<std::size_t>(std::min<std::uint64_t>(limit - at, m_window.capacity()));
            const auto bytes = m_window.view(at, length);
            if (!bytes)
                return ParseOutcome::ReadFailed;
            const auto hit = std::search(bytes->begin(), bytes->end(), Signature.begin(), Signature.end());
            if (hit == bytes->end()) {
                // A signature cut by the view's end is found by the next view.
                at += length - (Signature.size() - 1);
                continue;
            }
            const std::uint64_t candidate = at + static_cast<std::uint64_t>(hit - bytes->begin());
            std::uint64_t end = 0;
            bool sizeKnown = false;
            const UnlistedLook look = lookForUnlistedHeader(m_window, candidate, limit, end, sizeKnown);
            if (look == UnlistedLook::ReadFailed)
                return ParseOutcome::ReadFailed;
            if (look == UnlistedLook::Header) {
                found(candidate, 1);
                at = std::max(end, candidate + LocalHeaderSize);
            } else {
                at = candidate + 1;
            }
        }
        return ParseOutcome::Completed;
    }

private:
    void found(std::uint64_t offset, std::uint64_t count) {
        if (m_count == 0)
            m_firstOffset = offset;
        m_count += count;
    }

    ByteWindow& m_window;
    ProgressSink& m_progress;
    std::uint64_t m_count = 0;
    std::uint64_t m_firstOffset = 0;
};

ParseOutcome findUnlistedEntries(ByteWindow& window, FaultLog& log, ProgressSink& progress,
                                 const ZipArchiveLayout& layout, const EntryTable& entries) {
    // An archive already damaged is bad whatever else is found; a listed entry whose span is
    // unknown would leave its bytes looking unlisted.
    if (log.hasDamage())
        return ParseOutcome::Completed;
    const std::uint64_t limit = layout.directoryStart;
    UnlistedEntrySearch search(window, progress);
    std::optional<std::uint64_t> furthestEnd;
    std::size_t previous = 0;
    for (const std::uint32_t index : entries.order()) {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        if (!entries.span(index, start, end))
            return ParseOutcome::Completed;
        ParseOutcome outcome = ParseOutcome::Completed;
        if (!furthestEnd)
            outcome = search.searchLeading(layout.diskBase(0), start);
        else if (start > *furthestEnd)
            outcome = search.searchGap(*furthestEnd, start, previous);
        if (outcome != ParseOutcome::Completed)
            return outcome;
        furthestEnd = std::max(furthestEnd.value_or(0), end);
        previous = index;
    }
    ParseOutcome outcome = furthestEnd ? search.searchGap(*furthestEnd, limit, previous)
                                       : search.searchLeading(layout.diskBase(0), limit);
    // With no entry listed, bytes between the declared directory offset and the end record read as
    // data before the archive. When the file starts with entries that run up to that declared
    // offset, those bytes are a directory the end record no longer counts, not a stub.
    // An end record that points past its directory, or at nothing at all, leaves the whole file
    // before it looking like such data: entries from the file's start up to the end record's own
    // directory place are lost in the same way.
    if (outcome == ParseOutcome::Completed && !furthestEnd && search.count() == 0 && !layout.split() &&
        layout.shift > 0)
        outcome = search.searchLeading(0, limit - layout.shift);
    if (outcome == ParseOutcome::Completed && !furthestEnd && search.count() == 0 && !layout.split() &&
        layout.diskBase(0) > 0)
        outcome = search.searchLeading(0, limit);
    if (outcome != ParseOutcome::Completed)
        return outcome;
    if (search.count() > 0) {
        ZipFault fault{ZipFaultKind::EntriesNotInDirectory, -1, search.firstOffset()};
        fault.found = search.count();
        log.add(fault);
    }
    return ParseOutcome::Completed;
}

} // namespace

ParseOutcome checkLocalHeaders(ByteWindow& window, FaultLog& log, ProgressSink& progress,
                               const ZipArchiveLayout& layout, EntryTable& entries) {
    for (const std::uint32_t index : entries.order()) {
        ZipEntryRecord entry = entries[index];
        const bool read = checkEntry(window, log, layout, index, entry);
        entries.update(index, entry);
        if (!read)
            return ParseOutcome::ReadFailed;
        if (!progress.advance(index, 1))
            return ParseOutcome::Stopped;
        if (log.stopRequested())
            return ParseOutcome::Stopped;
    }

    // Spans in offset order: each must start at or after the furthest end seen so far. Entries
    // sharing data (the trick of overlapping zip bombs) fail here.
    std::uint64_t furthestEnd = 0;
    for (const std::uint32_t index : entries.order()) {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        if (!entries.span(index, start, end))
            continue;
        if (start < furthestEnd) {
            log.add(ZipFaultKind::EntriesOverlap, index, start);
            entries.markDamaged(index);
            if (log.stopRequested())
                return ParseOutcome::Stopped;
        }
        furthestEnd = std::max(furthestEnd, end);
    }
    return findUnlistedEntries(window, log, progress, layout, entries);
}

} // namespace vellum
