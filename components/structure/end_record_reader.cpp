#include "end_record_reader.h"

#include "little_endian_reader.h"

#include <algorithm>

namespace vellum {

namespace {

using namespace zipformat;

// The end record as stored, before zip64 values replace saturated fields.
struct EndRecord {
    std::uint32_t disk = 0;
    std::uint32_t directoryDisk = 0;
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
// comment reaches exactly to the end of the file is preferred; failing that the last one whose
// comment fits (bytes follow it: a note); failing that the last one whose comment overruns the file.
struct EndRecordSearch {
    bool found = false;
    std::uint64_t offset = 0;
    bool bytesAfter = false;
    bool commentOverruns = false;
};

EndRecordSearch searchEndRecord(std::span<const std::uint8_t> tail, std::uint64_t tailStart) {
    EndRecordSearch exact;
    EndRecordSearch fitting;
    EndRecordSearch overrunning;
    for (std::size_t position = tail.size() - EndRecordSize + 1; position-- > 0;) {
        if (tail[position] != 'P' || signatureAt(tail, position) != EndRecordSignature)
            continue;
        LittleEndianReader reader(tail.subspan(position + 20, 2));
        const std::size_t commentLength = reader.u16();
        const std::size_t after = tail.size() - position - EndRecordSize;
        const std::uint64_t offset = tailStart + position;
        if (commentLength == after) {
            exact = {true, offset, false, false};
            break;
        }
        if (commentLength < after && !fitting.found)
            fitting = {true, offset, true, false};
        if (commentLength > after && !overrunning.found)
            overrunning = {true, offset, false, true};
    }
    if (exact.found)
        return exact;
    return fitting.found ? fitting : overrunning;
}

EndRecord parseEndRecord(std::span<const std::uint8_t> bytes) {
    LittleEndianReader reader(bytes);
    reader.skip(4);
    EndRecord record;
    record.disk = reader.u16();
    record.directoryDisk = reader.u16();
    record.entriesOnDisk = reader.u16();
    record.entries = reader.u16();
    record.directorySize = reader.u32();
    record.directoryOffset = reader.u32();
    return record;
}

// Reads the zip64 end record that the locator before the end record points to, checks it against
// the end record and puts its values where the end record's fields are saturated. The record is
// looked for where the locator says and, when prepended data has moved the archive, directly before
// the locator. False when it cannot be found.
bool readZip64Records(ByteWindow& window, FaultLog& log, std::uint64_t locatorOffset, EndRecord& record,
                      ZipArchiveLayout& layout) {
    const auto locatorBytes = window.view(locatorOffset, Zip64LocatorSize);
    if (!locatorBytes) {
        log.addArchiveFault(ZipFaultKind::CannotRead, locatorOffset);
        return false;
    }
    LittleEndianReader locator(*locatorBytes);
    locator.skip(8);
    const std::uint64_t declaredOffset = locator.u64();

    auto recordAt = [&](std::uint64_t offset) -> bool {
        if (offset > locatorOffset || locatorOffset - offset < Zip64EndRecordSize)
            return false;
        const auto bytes = window.view(offset, 4);
        return bytes && signatureAt(*bytes, 0) == Zip64EndRecordSignature;
    };
    std::uint64_t recordOffset = declaredOffset;
    if (!recordAt(recordOffset)) {
        recordOffset = locatorOffset >= Zip64EndRecordSize ? locatorOffset - Zip64EndRecordSize : 0;
        if (!recordAt(recordOffset)) {
            log.addArchiveFault(ZipFaultKind::Zip64RecordMissing, declaredOffset);
            return false;
        }
        if (recordOffset < declaredOffset) {
            log.addArchiveFault(ZipFaultKind::Zip64LocatorDamaged, locatorOffset);
            return false;
        }
    }
    const auto bytes = window.view(recordOffset, Zip64EndRecordSize);
    if (!bytes) {
        log.addArchiveFault(ZipFaultKind::CannotRead, recordOffset);
        return false;
    }
    LittleEndianReader reader(*bytes);
    reader.skip(4);
    const std::uint64_t recordSize = reader.u64();
    reader.skip(4); // versions
    EndRecord wide;
    wide.disk = reader.u32();
    wide.directoryDisk = reader.u32();
    wide.entriesOnDisk = reader.u64();
    wide.entries = reader.u64();
    wide.directorySize = reader.u64();
    wide.directoryOffset = reader.u64();

    // The record, with any extensible data it declares, must end exactly where the locator starts,
    // and every end-record field that is not saturated must say the same as its zip64 counterpart.
    bool consistent = recordSize == locatorOffset - recordOffset - 12;
    auto merge16 = [&](std::uint64_t& narrow, std::uint64_t value) {
        if (narrow == Saturated16)
            narrow = value;
        else if (narrow != value)
            consistent = false;
    };
    auto merge32 = [&](std::uint64_t& narrow, std::uint64_t value) {
        if (narrow == Saturated32)
            narrow = value;
        else if (narrow != value)
            consistent = false;
    };
    std::uint64_t disk = record.disk;
    std::uint64_t directoryDisk = record.directoryDisk;
    merge16(disk, wide.disk);
    merge16(directoryDisk, wide.directoryDisk);
    merge16(record.entriesOnDisk, wide.entriesOnDisk);
    merge16(record.entries, wide.entries);
    merge32(record.directorySize, wide.directorySize);
    merge32(record.directoryOffset, wide.directoryOffset);
    record.disk = static_cast<std::uint32_t>(disk);
    record.directoryDisk = static_cast<std::uint32_t>(directoryDisk);
    if (!consistent)
        log.addArchiveFault(ZipFaultKind::Zip64RecordInconsistent, recordOffset);
    layout.directoryEnd = recordOffset;
    // The zip64 record moved by prepended data must have moved exactly as far as the directory.
    const std::uint64_t recordShift = recordOffset - declaredOffset;
    if (record.directorySize <= recordOffset &&
        recordOffset - record.directorySize >= record.directoryOffset &&
        recordOffset - record.directorySize - record.directoryOffset != recordShift) {
        log.addArchiveFault(ZipFaultKind::Zip64LocatorDamaged, locatorOffset);
    }
    return true;
}

} // namespace

bool readEndRecords(ByteWindow& window, FaultLog& log, ZipArchiveLayout& layout) {
    const std::uint64_t fileSize = layout.fileSize;
    if (fileSize < EndRecordSize) {
        log.addArchiveFault(ZipFaultKind::EndRecordMissing, 0);
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
        log.addArchiveFault(ZipFaultKind::EndRecordMissing, fileSize);
        return false;
    }
    if (search.bytesAfter)
        log.addArchiveFault(ZipFaultKind::BytesAfterEndRecord, search.offset);
    if (search.commentOverruns)
        log.addArchiveFault(ZipFaultKind::EndRecordCommentLength, search.offset);
    layout.endRecordOffset = search.offset;
    layout.directoryEnd = search.offset;
    EndRecord record = parseEndRecord(tail->subspan(static_cast<std::size_t>(search.offset - tailStart)));

    if (search.offset >= Zip64LocatorSize) {
        const std::uint64_t locatorOffset = search.offset - Zip64LocatorSize;
        const auto locator = window.view(locatorOffset, 4);
        if (!locator) {
            log.addArchiveFault(ZipFaultKind::CannotRead, locatorOffset);
            return false;
        }
        if (signatureAt(*locator, 0) == Zip64LocatorSignature &&
            !readZip64Records(window, log, locatorOffset, record, layout))
            return false;
    }

    layout.declaredEntries = record.entries;
    layout.directorySize = record.directorySize;
    if (record.disk != 0 || record.directoryDisk != 0) {
        // One part of a split archive. Its central directory can be checked only when it lies
        // wholly in this part; its entries' data may lie in any part, so none of it is checked.
        layout.split = true;
        layout.directoryHere = record.directoryDisk == record.disk && record.entriesOnDisk == record.entries;
        log.addArchiveFault(ZipFaultKind::SplitArchive, search.offset);
    } else if (record.entriesOnDisk != record.entries) {
        log.addArchiveFault(ZipFaultKind::EntryCountMismatch, search.offset);
    }
    if (!layout.directoryHere)
        return true;

    if (record.directorySize > layout.directoryEnd) {
        log.addArchiveFault(ZipFaultKind::DirectorySizeWrong, search.offset);
        return false;
    }
    // The directory ends where the end records start; its size says where it really starts. Data
    // before the archive moves that start later than the offset the record declares.
    layout.directoryStart = layout.directoryEnd - record.directorySize;
    if (layout.directoryStart < record.directoryOffset) {
        log.addArchiveFault(ZipFaultKind::DirectoryOffsetWrong, search.offset);
        layout.shift = 0;
    } else {
        layout.shift = layout.directoryStart - record.directoryOffset;
    }
    return true;
}

} // namespace vellum
