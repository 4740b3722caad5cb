#include "structure/end_record_reader.h"

#include "base/little_endian_reader.h"
#include "structure/split_set.h"

#include <algorithm>
#include <array>
#include <optional>

namespace vellum {

namespace {

using namespace zipformat;

// The values of the end record once the zip64 end record has filled its saturated fields.
struct EndValues {
    std::uint64_t disk = 0;
    std::uint64_t directoryDisk = 0;
    std::uint64_t entriesOnDisk = 0;
    std::uint64_t entries = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
};

std::uint32_t signatureAt(std::span<const std::uint8_t> bytes, std::size_t position) {
    LittleEndianReader reader(bytes.subspan(position));
    return reader.need(4) ? reader.u32() : 0;
}

// Searches the last 64 KiB and a record's length backwards for the end record. A record whose
// comment reaches exactly to the end of the file is taken (a signature inside its comment is
// text); failing that, the last signature in the file is the end record, whatever its comment
// length says, and even when the file ends before the record does. Falling back to an earlier one
// when the last is damaged or cut would test whatever lies before it, an archive stored as the
// last entry for one, and call the damaged archive good.
struct EndRecordSearch {
    bool found = false;
    std::uint64_t offset = 0;
    bool bytesAfter = false;
    bool commentOverruns = false;
    bool truncated = false; // the file ends inside the record: offset is where it starts
};

// A prefix of the end record's signature, the first `length` bytes of "PK\5\6".
bool signaturePrefix(std::span<const std::uint8_t> bytes) {
    constexpr std::uint8_t Signature[] = {'P', 'K', 5, 6};
    return bytes.size() < 4 && std::equal(bytes.begin(), bytes.end(), Signature);
}

// When the file is cut within the first four bytes of its end record (or right before it), no
// signature of it is left to find, and the last one found lies before the archive's end: inside an
// entry's data, a nested archive's. What follows that one then ends, but for those 0 to 3 bytes of
// a signature, with a complete central header or zip64 locator: the archive's own directory runs
// up to where its end record should start. Returns that place.
std::optional<std::size_t> cutAfterDirectory(std::span<const std::uint8_t> tail, std::size_t from) {
    for (std::size_t left = 0; left < 4 && left <= tail.size() - from; ++left) {
        const std::size_t end = tail.size() - left;
        if (!signaturePrefix(tail.subspan(end)))
            continue;
        if (end - from >= Zip64LocatorSize &&
            signatureAt(tail, end - Zip64LocatorSize) == Zip64LocatorSignature)
            return end;
        for (std::size_t header = from; header + CentralHeaderSize <= end; ++header) {
            if (tail[header] != 'P' || signatureAt(tail, header) != CentralHeaderSignature)
                continue;
            LittleEndianReader reader(tail.subspan(header + 28, 6));
            const std::size_t length =
                CentralHeaderSize + std::size_t{reader.u16()} + std::size_t{reader.u16()} + reader.u16();
            if (length == end - header)
                return end;
        }
    }
    return std::nullopt;
}

EndRecordSearch searchEndRecord(std::span<const std::uint8_t> tail, std::uint64_t tailStart) {
    EndRecordSearch last;
    std::size_t lastPosition = 0;
    for (std::size_t position = tail.size() - 4 + 1; position-- > 0;) {
        if (tail[position] != 'P' || signatureAt(tail, position) != EndRecordSignature)
            continue;
        const std::uint64_t offset = tailStart + position;
        const std::size_t rest = tail.size() - position;
        if (rest < EndRecordSize) {
            // A record cut short, unless an earlier record's comment holds these bytes.
            if (!last.found)
                last = {true, offset, false, false, true};
            continue;
        }
        LittleEndianReader reader(tail.subspan(position + 20, 2));
        const std::size_t commentLength = reader.u16();
        const std::size_t after = rest - EndRecordSize;
        if (commentLength == after)
            return {true, offset, false, false, false};
        if (!last.found) {
            last = {true, offset, commentLength<after, commentLength> after, false};
            lastPosition = position;
        }
    }
    if (last.found && last.bytesAfter) {
        if (const std::optional<std::size_t> cut = cutAfterDirectory(tail, lastPosition + EndRecordSize))
            last = {true, tailStart + *cut, false, false, true};
    }
    return last;
}

void parseEndRecord(std::span<const std::uint8_t> bytes, ZipEndRecords& records) {
    LittleEndianReader reader(bytes);
    reader.skip(4);
    records.disk = reader.u16();
    records.directoryDisk = reader.u16();
    records.entriesOnDisk = reader.u16();
    records.entries = reader.u16();
    records.directorySize = reader.u32();
    records.directoryOffset = reader.u32();
    records.zip64Needed = records.disk == Saturated16 || records.directoryDisk == Saturated16 ||
                          records.entriesOnDisk == Saturated16 || records.entries == Saturated16 ||
                          records.directorySize == Saturated32 || records.directoryOffset == Saturated32;
}

bool zip64RecordAt(ByteWindow& window, std::uint64_t offset) {
    const auto bytes = window.view(offset, 4);
    return bytes && signatureAt(*bytes, 0) == Zip64EndRecordSignature;
}

// Reads the locator right before the end record, when its signature is there. A locator is taken
// only when its disk numbers fit the end record's (the zip64 end record on one of the archive's
// disks, the disk count one more than the last disk's number) and the end record needs it or a
// zip64 end record lies right before it. Anything else is not a locator but the end of the last
// central header, whose name, extra field or comment may hold the same four bytes. False when it
// is a locator but a damaged one.
bool readLocator(ByteWindow& window, FaultLog& log, ZipEndRecords& records) {
    if (records.offset < Zip64LocatorSize)
        return true;
    const std::uint64_t locatorOffset = records.offset - Zip64LocatorSize;
    const auto bytes = window.view(locatorOffset, Zip64LocatorSize);
    if (!bytes) {
        log.addArchiveFault(ZipFaultKind::CannotRead, locatorOffset);
        return false;
    }
    LittleEndianReader reader(*bytes);
    if (reader.u32() != Zip64LocatorSignature)
        return true;
    const std::uint32_t recordDisk = reader.u32();
    const std::uint64_t recordOffset = reader.u64();
    const std::uint32_t diskCount = reader.u32();
    const bool consistent = diskCount >= 1 && recordDisk < diskCount &&
                            (records.disk == Saturated16 || diskCount == std::uint64_t{records.disk} + 1);
    const bool recordBefore =
        locatorOffset >= Zip64EndRecordSize && zip64RecordAt(window, locatorOffset - Zip64EndRecordSize);
    if (!consistent) {
        if (!records.zip64Needed && !recordBefore)
            return true;
        log.addArchiveFault(ZipFaultKind::Zip64LocatorDamaged, locatorOffset);
        return false;
    }
    records.locator = true;
    records.locatorRecordDisk = recordDisk;
    records.locatorRecordOffset = recordOffset;
    if (records.disk == Saturated16)
        records.lastDisk = diskCount - 1;
    return true;
}

enum class Zip64Outcome { Read, Missing, Failed };

// Reads the zip64 end record that the locator points to, checks it against the end record and puts
// its values where the end record's fields are saturated. In one file the record is looked for
// where the locator says and, when prepended data has moved the archive, directly before the
// locator; in a split set only where the locator says, on the disk it names.
Zip64Outcome readZip64Record(ByteWindow& window, FaultLog& log, const ZipEndRecords& records,
                             ZipArchiveLayout& layout, EndValues& values) {
    const std::uint64_t locatorOffset = layout.endRecordOffset - Zip64LocatorSize;
    const std::uint64_t declaredBase = layout.split() ? layout.diskStarts[records.locatorRecordDisk] : 0;
    if (records.locatorRecordOffset > UINT64_MAX - declaredBase)
        return Zip64Outcome::Missing;
    const std::uint64_t declaredOffset = declaredBase + records.locatorRecordOffset;

    auto recordAt = [&](std::uint64_t offset) {
        return offset <= locatorOffset && locatorOffset - offset >= Zip64EndRecordSize &&
               zip64RecordAt(window, offset);
    };
    std::uint64_t recordOffset = declaredOffset;
    if (!recordAt(recordOffset)) {
        recordOffset = locatorOffset - Zip64EndRecordSize;
        if (layout.split() || locatorOffset < Zip64EndRecordSize || !recordAt(recordOffset))
            return Zip64Outcome::Missing;
        if (recordOffset < declaredOffset) {
            log.addArchiveFault(ZipFaultKind::Zip64LocatorDamaged, locatorOffset);
            return Zip64Outcome::Failed;
        }
    }
    const auto bytes = window.view(recordOffset, Zip64EndRecordSize);
    if (!bytes) {
        log.addArchiveFault(ZipFaultKind::CannotRead, recordOffset);
        return Zip64Outcome::Failed;
    }
    LittleEndianReader reader(*bytes);
    reader.skip(4);
    const std::uint64_t recordSize = reader.u64();
    reader.skip(4); // versions
    EndValues wide;
    wide.disk = reader.u32();
    wide.directoryDisk = reader.u32();
    wide.entriesOnDisk = reader.u64();
    wide.entries = reader.u64();
    wide.directorySize = reader.u64();
    wide.directoryOffset = reader.u64();

    // The record, with any extensible data it declares, must end exactly where the locator starts,
    // it must lie on the last disk, and every end-record field that is not saturated must say the
    // same as its zip64 counterpart.
    bool consistent = recordSize == locatorOffset - recordOffset - 12 && wide.disk == records.lastDisk;
    auto merge = [&](std::uint64_t& narrow, std::uint64_t value, std::uint64_t saturated) {
        if (narrow == saturated)
            narrow = value;
        else if (narrow != value)
            consistent = false;
    };
    merge(values.disk, wide.disk, Saturated16);
    merge(values.directoryDisk, wide.directoryDisk, Saturated16);
    merge(values.entriesOnDisk, wide.entriesOnDisk, Saturated16);
    merge(values.entries, wide.entries, Saturated16);
    merge(values.directorySize, wide.directorySize, Saturated32);
    merge(values.directoryOffset, wide.directoryOffset, Saturated32);
    if (!consistent)
        log.addArchiveFault(ZipFaultKind::Zip64RecordInconsistent, recordOffset);
    layout.directoryEnd = recordOffset;
    // The zip64 record moved by prepended data must have moved exactly as far as the directory.
    const std::uint64_t recordShift = recordOffset - declaredOffset;
    if (!layout.split() && values.directorySize <= recordOffset &&
        recordOffset - values.directorySize >= values.directoryOffset &&
        recordOffset - values.directorySize - values.directoryOffset != recordShift) {
        log.addArchiveFault(ZipFaultKind::Zip64LocatorDamaged, locatorOffset);
    }
    return Zip64Outcome::Read;
}

// A file without an end record that starts with a local header, or holds one near its end, is an
// archive cut short (a download or a copy that stopped), not some other kind of file: the fault
// says so with found = 1.
void addMissingEndRecord(ByteWindow& window, FaultLog& log, std::uint64_t fileSize,
                         std::span<const std::uint8_t> tail) {
    constexpr std::array<std::uint8_t, 4> LocalHeaderSignature{'P', 'K', 3, 4};
    const auto holdsLocalHeader = [&](std::span<const std::uint8_t> bytes) {
        return std::search(bytes.begin(), bytes.end(), LocalHeaderSignature.begin(),
                           LocalHeaderSignature.end()) != bytes.end();
    };
    const auto start = window.view(0, static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 4)));
    const bool cutShort = (start && start->size() == 4 && holdsLocalHeader(*start)) || holdsLocalHeader(tail);
    ZipFault fault{ZipFaultKind::EndRecordMissing, -1, fileSize < EndRecordSize ? 0 : fileSize};
    if (cutShort)
        fault.found = 1;
    log.add(std::move(fault));
}

} // namespace

bool findEndRecords(ByteWindow& window, FaultLog& log, std::uint64_t fileSize, ZipEndRecords& records) {
    if (fileSize < EndRecordSize) {
        addMissingEndRecord(window, log, fileSize, {});
        return false;
    }
    const std::uint64_t tailLength = std::min<std::uint64_t>(fileSize, EndRecordSize + MaximumCommentLength);
    const std::uint64_t tailStart = fileSize - tailLength;
    const auto tail = window.view(tailStart, static_cast<std::size_t>(tailLength));
    if (!tail) {
        log.addArchiveFault(ZipFaultKind::CannotRead, tailStart);
        return false;
    }
    const EndRecordSearch search = searchEndRecord(*tail, tailStart);
    if (!search.found) {
        addMissingEndRecord(window, log, fileSize, *tail);
        return false;
    }
    if (search.truncated) {
        log.addArchiveFault(ZipFaultKind::EndRecordTruncated, search.offset);
        return false;
    }
    if (search.bytesAfter)
        log.addArchiveFault(ZipFaultKind::BytesAfterEndRecord, search.offset);
    if (search.commentOverruns)
        log.addArchiveFault(ZipFaultKind::EndRecordCommentLength, search.offset);
    records = ZipEndRecords{};
    records.offset = search.offset;
    parseEndRecord(tail->subspan(static_cast<std::size_t>(search.offset - tailStart)), records);
    records.lastDisk = records.disk;
    if (!readLocator(window, log, records))
        return false;

    // Saturated fields wait for the zip64 end record; the others must already agree. A flipped bit
    // in a disk field of an archive in one file ends here rather than in a search for parts that
    // were never written.
    const bool diskFieldsKnown = records.disk != Saturated16 && records.directoryDisk != Saturated16 &&
                                 records.entriesOnDisk != Saturated16 && records.entries != Saturated16;
    if (diskFieldsKnown &&
        !diskFieldsAgree({records.disk, records.directoryDisk, records.entriesOnDisk, records.entries})) {
        log.addArchiveFault(ZipFaultKind::EndRecordDisksDisagree, records.offset);
        return false;
    }
    return true;
}

bool locateDirectory(ByteWindow& window, FaultLog& log, const ZipEndRecords& records,
                     ZipArchiveLayout& layout) {
    const std::uint64_t lastDiskStart = layout.split() ? layout.diskStarts.back() : 0;
    layout.endRecordOffset = lastDiskStart + records.offset;
    layout.directoryEnd = layout.endRecordOffset;
    EndValues values{records.disk,    records.directoryDisk, records.entriesOnDisk,
                     records.entries, records.directorySize, records.directoryOffset};
    if (records.locator) {
        const Zip64Outcome outcome = readZip64Record(window, log, records, layout, values);
        if (outcome == Zip64Outcome::Failed)
            return false;
        // A locator that points at nothing is only believed when the end record needs it; else its
        // bytes were the end of the last central header after all.
        if (outcome == Zip64Outcome::Missing && records.zip64Needed) {
            log.addArchiveFault(ZipFaultKind::Zip64RecordMissing,
                                lastDiskStart + records.locatorRecordOffset);
            return false;
        }
    }
    // Now with the zip64 values in place of saturated fields; and the directory's disk must be one
    // of the archive's.
    if (!diskFieldsAgree({values.disk, values.directoryDisk, values.entriesOnDisk, values.entries}) ||
        !layout.hasDisk(values.directoryDisk)) {
        log.addArchiveFault(ZipFaultKind::EndRecordDisksDisagree, layout.endRecordOffset);
        return false;
    }

    layout.declaredEntries = values.entries;
    layout.directorySize = values.directorySize;
    if (!layout.split() && values.entriesOnDisk != values.entries)
        log.addArchiveFault(ZipFaultKind::EntryCountMismatch, layout.endRecordOffset);
    if (values.entries > values.directorySize / CentralHeaderSize) {
        log.addArchiveFault(ZipFaultKind::DirectorySizeTooSmall, layout.endRecordOffset);
        return false;
    }
    if (values.directorySize > layout.directoryEnd) {
        log.addArchiveFault(ZipFaultKind::DirectorySizeWrong, layout.endRecordOffset);
        return false;
    }
    // The directory ends where the end records start; its size says where it really starts. In one
    // file, data before the archive moves that start later than the offset the record declares; a
    // split set's offsets count from the start of the disk they name, and nothing comes before it.
    layout.directoryStart = layout.directoryEnd - values.directorySize;
    layout.shift = 0;
    if (layout.split()) {
        const std::uint64_t diskStart = layout.diskStarts[values.directoryDisk];
        if (values.directoryOffset > UINT64_MAX - diskStart ||
            diskStart + values.directoryOffset != layout.directoryStart)
            log.addArchiveFault(ZipFaultKind::DirectoryOffsetWrong, layout.endRecordOffset);
    } else if (layout.directoryStart < values.directoryOffset) {
        log.addArchiveFault(ZipFaultKind::DirectoryOffsetWrong, layout.endRecordOffset);
    } else {
        layout.shift = layout.directoryStart - values.directoryOffset;
    }
    return true;
}

} // namespace vellum
