#pragma once

// Reading back the JSON lines a run wrote with --json: one object per archive (or per path it
// could not read), then one summary object. Results files from many machines are checked and
// imported through this one reader.

#include "fault_json.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vellum {

// One archive's line, its path as the exact bytes the file system gave (path_b64 when present).
struct ResultLine {
    std::string path;
    // good, bad or unverified as judged, without --strict's merging of the last two; vanished,
    // missing or unreadable.
    std::string verdict;
    const Json& object;
};

// Whether a verdict word is a verdict on the archive's content.
bool isJudged(std::string_view verdict);

// How a results file ended.
struct ResultsFileEnd {
    std::string failure;              // why it could not be read to its end; empty when it could
    std::uint64_t lines = 0;          // all of them, whatever they hold
    std::uint64_t malformedLines = 0; // lines that are not the JSON objects a run writes
    bool hasSummary = false;          // the run that wrote it ended and said so
    bool complete = false;            // and judged all it was asked to
    std::string stopped;              // what stopped it, when its summary says
    bool interrupted = false;         // the reading was given up at the caller's request
};

// Reads the file at `path` line by line, telling each archive line to `onLine`, until its end or
// until `interrupted` says to stop.
ResultsFileEnd readResultsFile(const std::string& path, const std::function<void(const ResultLine&)>& onLine,
                               const std::function<bool()>& interrupted = {});

// What a results file's end says is wrong with it, as a note names it; empty when nothing is.
std::string resultsFileFault(const ResultsFileEnd& end);

// ISO 8601 in UTC as isoUtcTime writes it, back to seconds since the epoch.
std::optional<std::int64_t> secondsOfIsoUtcTime(const std::string& text);

} // namespace vellum
