#pragma once

// What the program makes of its command line and its surroundings before any window exists.

#include "absolute_path.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

struct CommandLine {
    enum class Request { Run, Help, Version, UsageError };
    Request request = Request::Run;
    // What a run does: test, or one of the tasks that serve a collection's ledger.
    enum class Task {
        Test,
        ListDue,      // --list-due: print the archives that are due, test nothing
        CheckResults, // --check-results LIST RESULTS...: name the listed archives without a verdict
        Import,       // --import RESULTS...: record other machines' verdicts in the ledger
    };
    Task task = Task::Test;
    // The folders and archives to test, as given; none for a window start.
    std::vector<std::string> paths;
    // --files-from: the list of archives to test, as given ("-" for standard input); empty when
    // not given. --null: its names end in NUL bytes rather than newlines, and so do those a task
    // prints.
    std::string fileList;
    bool nullSeparated = false;
    // --report-dir: where the reports go instead of the usual place; empty when not given.
    std::string reportFolder;
    bool verbose = false;     // -v: a line with the reason for each bad or unverified archive
    bool json = false;        // --json: a JSON object for each archive, then a summary
    bool quiet = false;       // -q: no progress line on a terminal
    bool followLinks = false; // -L: walk into folders that symbolic links lead to
    // --strict: an unverified archive is printed as bad and makes the exit status 1; the report
    // files keep counting it good.
    bool strict = false;
    // The ledger of verdicts: another file than the default one, or none at all.
    std::string ledger;
    bool noLedger = false;
    // --due DAYS: test only what is new, changed, not good or last tested longer ago.
    std::optional<int> dueDays;
    // --time-limit: start no archive later than this, and test the most overdue first.
    std::optional<std::chrono::seconds> timeLimit;
    // --memory: the most the decoders may have, in bytes; 0 when not given.
    std::uint64_t memoryLimit = 0;
    // For a usage error, the line that says what was wrong.
    std::string error;

    // Whether the program works unattended rather than opening its window.
    bool unattended() const { return task != Task::Test || !paths.empty() || !fileList.empty(); }
};

// Every argument that begins with '-' is an option, until "--"; the others are paths. Options are
// answered in order: --help and --version at once, an unknown option or a missing value as a
// usage error. Short options may be grouped ("-vq"); a long option may be shortened to any prefix
// that no other long option shares ("--verb"). An option that only shapes an unattended run's
// output, given with nothing to test, is a usage error too.
CommandLine parseCommandLine(int argc, char** argv);

// A size as --memory takes it: a whole number with a binary unit, K, M, G or T, which may be
// followed by "iB" or "B" ("512M", "2G", "1536MiB"); nullopt for anything else, zero, or a size
// beyond 64 bits.
std::optional<std::uint64_t> parseMemorySize(std::string_view text);

// A duration as --time-limit takes it, as timeout(1) does: a whole number of seconds, or of minutes,
// hours or days with the suffix m, h or d ("90m", "2h"); nullopt for anything else or zero.
std::optional<std::chrono::seconds> parseDuration(std::string_view text);

std::string helpText();
std::string versionText();
// What follows a usage error on standard error.
std::string usageHint();

} // namespace vellum
