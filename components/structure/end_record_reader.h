#pragma once

// Finds the end of central directory record, and the zip64 records when there are any, and works
// out where the central directory really lies: the first step of every check.

#include "byte_window.h"
#include "fault_log.h"
#include "zip_format.h"

namespace vellum {

// Fills layout from the end records. False when the archive cannot be checked any further (no end
// record, unreadable, or records too damaged to find the directory); the reason is in log.
bool readEndRecords(ByteWindow& window, FaultLog& log, ZipArchiveLayout& layout);

} // namespace vellum
