#include "structure/split_set.h"

namespace vellum {

bool diskFieldsAgree(const DiskFields& fields) {
    if (fields.directoryDisk > fields.disk)
        return false;
    if (fields.disk == 0)
        return true;
    if (fields.entriesOnDisk > fields.entries)
        return false;
    if (fields.directoryDisk == fields.disk)
        return fields.entriesOnDisk == fields.entries;
    return fields.entries == 0 || fields.entriesOnDisk < fields.entries;
}

} // namespace vellum
