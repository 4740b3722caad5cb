#pragma once

// Checks each entry's local header against its central record, its data descriptor when it has
// one, and that the entries' spans lie inside the file before the central directory without
// overlapping one another. Copies that no reader needs (times, version needed, extra fields both
// headers carry) are compared too, and a disagreement is noted without calling it damage.

#include "base/byte_window.h"
#include "base/fault_log.h"
#include "base/progress_pacer.h"
#include "structure/central_directory_parser.h"
#include "structure/entry_table.h"
#include "structure/zip_format.h"

#include <cstdint>

namespace vellum {

// Checks the locatable entries in the order of their local header offsets (entries.order(), the
// order in which the file is best read, arranged when the directory was parsed). Each checked entry
// is reported to progress with an amount of 1.
ParseOutcome checkLocalHeaders(ByteWindow& window, FaultLog& log, ProgressSink& progress,
                               const ZipArchiveLayout& layout, EntryTable& entries);

} // namespace vellum
