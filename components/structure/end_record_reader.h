#pragma once

// Finds the end of central directory record, and the zip64 records when there are any, and works
// out where the central directory really lies: the first step of every check. It takes two steps,
// because a split set's end records lie in its last part and point into the others: the first
// reads the end of the file at hand, which tells whether other parts belong to it; the second runs
// once those parts are joined to it (or at once, for an archive in one file) and finds the rest.

#include "base/byte_window.h"
#include "base/fault_log.h"
#include "structure/zip_format.h"

#include <cstdint>

namespace vellum {

// The end record as stored (saturated fields still saturated), and the zip64 locator before it
// when that is taken for one.
struct ZipEndRecords {
    std::uint64_t offset = 0; // in the file at hand, the last part of a split set
    std::uint32_t disk = 0;
    std::uint32_t directoryDisk = 0;
    std::uint64_t entriesOnDisk = 0;
    std::uint64_t entries = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
    bool zip64Needed = false; // a field is saturated: its value is in the zip64 end record
    bool locator = false;
    std::uint32_t locatorRecordDisk = 0;
    std::uint64_t locatorRecordOffset = 0;
    // The number of the last disk: 0 for an archive in one file, else the parts 1 to lastDisk must
    // be joined before it.
    std::uint32_t lastDisk = 0;
};

// Reads the end record and the zip64 locator at the end of the file (fileSize bytes). False when
// the archive cannot be checked any further (no end record, unreadable, disk numbers that
// contradict each other); the reason is in log.
bool findEndRecords(ByteWindow& window, FaultLog& log, std::uint64_t fileSize, ZipEndRecords& records);

// Fills layout from the end records, the zip64 end record and the directory's place. For a split
// set, window reads the joined parts and layout.diskStarts says where each starts. False when the
// directory cannot be found; the reason is in log.
bool locateDirectory(ByteWindow& window, FaultLog& log, const ZipEndRecords& records,
                     ZipArchiveLayout& layout);

} // namespace vellum
