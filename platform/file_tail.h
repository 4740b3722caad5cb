#pragma once

// Reading a file to show it, such as a report in the program's own viewer. A log grows with every
// run, so a long one is shown by its end, where the newest records are.

#include <cstdint>
#include <optional>
#include <string>

namespace vellum::platform {

struct FileTail {
    std::string text;                   // the file, or its last lines
    std::uint64_t leftOut = 0;          // bytes before `text` that were not read
    std::optional<std::string> failure; // why the file could not be read
};

// The regular file at `path` when it holds at most `limit` bytes; of a longer one, what follows the
// first line end in its last `limit` bytes. Opening never waits, so a FIFO in the file's place is
// refused ("not a regular file") instead of stopping the caller.
FileTail readFileTail(const std::string& path, std::size_t limit);

} // namespace vellum::platform
