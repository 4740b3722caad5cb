#pragma once

// Checks each entry's local header against its central record, its data descriptor when it has
// one, and that the entries' spans lie inside the file before the central directory without
// overlapping one another. Copies that no reader needs (times, version needed, extra fields both
// headers carry) are compared too, and a disagreement is noted without calling it damage.

#include "byte_window.h"
#include "central_directory_parser.h"
#include "fault_log.h"
#include "progress_pacer.h"
#include "zip_format.h"

#include <cstdint>
#include <vector>

namespace vellum {

// Fills order with the indices of the locatable entries sorted by local header offset (the order
// in which the file is best read), then checks them in that order. Each checked entry is reported
// to progress with an amount of 1.
ParseOutcome checkLocalHeaders(ByteWindow& window, FaultLog& log, ProgressSink& progress,
                               const ZipArchiveLayout& layout, std::vector<ZipEntryRecord>& entries,
                               std::vector<std::uint32_t>& order);

} // namespace vellum
