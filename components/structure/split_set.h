#pragma once

// The rules that the disk numbers of an archive follow. An archive in one file is disk 0 of one.
// A split set (Info-ZIP's zip -s) is written disk after disk, the end records last: they lie on
// the last disk and say its number, the disk the central directory starts on and how many of the
// directory's headers lie on the last disk. Each entry's header says the disk its local header
// lies on, and every offset counts from the start of its own disk.

#include <cstdint>

namespace vellum {

struct DiskFields {
    std::uint64_t disk = 0; // the last disk, the one holding the end records
    std::uint64_t directoryDisk = 0;
    std::uint64_t entriesOnDisk = 0;
    std::uint64_t entries = 0;
};

// Whether the fields can describe one archive: the directory starts on the last disk or an earlier
// one; starting on the last disk, all its headers lie there; starting earlier, not all of them do
// (its first header lies on the disk it starts on), and never more than all. For an archive in one
// file this asks that the directory start on disk 0; its per-disk count is checked with the
// directory itself. A split set's count is not compared with the headers found on its last disk:
// Info-ZIP's zip counts one fewer than it wrote there whenever its directory spans disks.
bool diskFieldsAgree(const DiskFields& fields);

} // namespace vellum
