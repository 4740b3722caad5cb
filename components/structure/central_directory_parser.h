#pragma once

// Reads the central directory header by header into compact entry records, checking that every
// header lies inside the directory, that its extra fields tile, that zip64 values are present
// where fields are saturated, that an encrypted entry's sizes leave room for its encryption, and
// that the headers fill the directory and match the entry count.

#include "base/byte_window.h"
#include "base/fault_log.h"
#include "base/progress_pacer.h"
#include "structure/entry_table.h"
#include "structure/zip_format.h"

#include <string_view>

namespace vellum {

enum class ParseOutcome { Completed, Stopped, ReadFailed };

// Appends one record per central header to entries (cleared first), then, once the whole directory
// is read, arranges them by local header offset. fileFilter marks the entries it selects (an empty
// filter selects none). Stopped means abort (also while waiting for the memory of a large
// directory) or a stop at the first fault.
ParseOutcome parseCentralDirectory(ByteWindow& window, FaultLog& log, ProgressPacer& pacer,
                                   const ZipArchiveLayout& layout, std::string_view fileFilter,
                                   EntryTable& entries);

// True when a deflated entry claims more output than deflate can produce from its input.
bool implausibleRatio(std::uint16_t method, std::uint64_t compressedSize, std::uint64_t uncompressedSize);

} // namespace vellum
