#include "results_tasks.h"

#include "absolute_path.h"
#include "escaped_text.h"
#include "fault_text.h"
#include "file_list.h"
#include "ledger.h"
#include "result_stream.h"
#include "results_file.h"
#include "run_observer.h"
#include "terminal_run.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unordered_set>

namespace vellum {

namespace {

// "1 results file", "3 archives": a count with its noun.
std::string countOf(std::uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void note(const std::string& text) {
    std::fprintf(stderr, "vellum: %s\n", text.c_str());
}

// The identity a results line gives of its archive as it was tested; none in lines written before
// results carried it.
std::optional<FileIdentity> identityIn(const Json& object) {
    for (const char* key : {"size", "mtime_ns", "ctime_ns", "device", "inode"}) {
        const auto value = object.find(key);
        if (value == object.end() || !value->is_number_integer())
            return std::nullopt;
    }
    return FileIdentity{object["device"].get<std::uint64_t>(), object["inode"].get<std::uint64_t>(),
                        object["size"].get<std::int64_t>(), object["mtime_ns"].get<std::int64_t>(),
                        object["ctime_ns"].get<std::int64_t>()};
}

// The identity to record for an archive another machine tested. The store is mounted elsewhere
// under another device number (and, for a network file system, its own change times): when this
// machine sees the same size and modification time, it records what it sees itself, so that its
// next run finds the archive unchanged; otherwise what the tester saw, which a later run here finds
// changed, as it may well be.
FileIdentity identityToRecord(const std::string& path, const FileIdentity& tested) {
    const std::optional<FileIdentity> here = fileIdentityOf(path);
    if (here && here->size == tested.size && here->modifiedNs == tested.modifiedNs)
        return *here;
    return tested;
}

} // namespace

int checkResults(const CommandLine& commandLine, const std::function<int()>& stopSignal) {
    const std::function<bool()> stopped = [&] { return stopSignal() != 0; };
    std::signal(SIGPIPE, SIG_IGN);
    const std::string& listPath = commandLine.paths.front();
    std::unordered_set<std::string> judged;
    std::uint64_t faultyFiles = 0;
    for (std::size_t index = 1; index < commandLine.paths.size(); ++index) {
        const std::string& results = commandLine.paths[index];
        const ResultsFileEnd end = readResultsFile(
            results,
            [&](const ResultLine& line) {
                // An archive deleted before its test has nothing left to test: it is accounted for.
                if (isJudged(line.verdict) || line.verdict == "vanished")
                    judged.insert(line.path);
            },
            stopped);
        if (end.interrupted)
            return 128 + stopSignal();
        if (const std::string fault = resultsFileFault(end); !fault.empty()) {
            ++faultyFiles;
            note(platform::escapedText(results) + " " + fault);
        }
    }

    const char separator = commandLine.nullSeparated ? '\0' : '\n';
    FileList list(listPath == "-" ? "-" : absolutePath(listPath), separator);
    ResultStream output(STDOUT_FILENO);
    std::uint64_t listed = 0;
    std::uint64_t unjudged = 0;
    std::string name;
    FileList::Step step;
    while ((step = list.next(name, true, [&] { return !stopped(); })) == FileList::Step::Name) {
        if (stopped())
            return 128 + stopSignal();
        ++listed;
        if (judged.contains(absolutePath(name)))
            continue;
        ++unjudged;
        output.writeLine(name + separator);
    }
    if (step == FileList::Step::Stopped)
        return 128 + stopSignal();
    int status = unjudged == 0 && faultyFiles == 0 ? 0 : 2;
    if (step == FileList::Step::Failed) {
        note("cannot read the list " + platform::escapedText(listPath) + ": " + list.failure());
        status = 2;
    }
    if (output.state() == ResultStream::State::Failed) {
        note(std::string("cannot write the names to standard output: ") + std::strerror(output.error()));
        status = 3;
    } else if (output.state() == ResultStream::State::Closed) {
        return 128 + SIGPIPE; // as the reader that went away would have had it
    }
    if (!commandLine.quiet || status != 0) {
        note(std::to_string(unjudged) + " of " + countOf(listed, "listed archive", "listed archives") +
             (unjudged == 1 ? " has" : " have") + " no verdict in " +
             countOf(commandLine.paths.size() - 1, "results file", "results files") +
             (faultyFiles == 0 ? ""
                               : "; " + countOf(faultyFiles, "results file is", "results files are") +
                                     " not of a complete run"));
    }
    return status;
}

int importResults(const CommandLine& commandLine, const std::function<int()>& stopSignal) {
    OpenedLedger opened = openLedgerOf(commandLine);
    if (!opened.ledger) {
        note(opened.failure);
        return 3;
    }
    Ledger& ledger = *opened.ledger;
    std::uint64_t recorded = 0;
    std::uint64_t known = 0;
    bool unreadable = false;
    bool ledgerFailed = false;
    for (const std::string& results : commandLine.paths) {
        std::uint64_t unusableHere = 0;
        const ResultsFileEnd end = readResultsFile(
            results,
            [&](const ResultLine& line) {
                if (!isJudged(line.verdict) || ledgerFailed)
                    return;
                const std::optional<FileIdentity> tested = identityIn(line.object);
                const auto testedText = line.object.find("tested");
                const std::optional<std::int64_t> testedAt =
                    testedText != line.object.end() && testedText->is_string()
                        ? secondsOfIsoUtcTime(testedText->get<std::string>())
                        : std::nullopt;
                if (!tested || !testedAt) {
                    ++unusableHere;
                    return;
                }
                const std::optional<LedgerEntry> last = ledger.lastVerdict(line.path);
                if (last && last->testedAt >= *testedAt) {
                    ++known;
                    return;
                }
                const FileIdentity identity = identityToRecord(line.path, *tested);
                // Decay is told as a run tells it.
                if (last &&
                    verdictChangeOf(*last, line.verdict == "bad", &identity) == VerdictChange::NewlyBad)
                    note(platform::escapedText(line.path) + " " +
                         verdictChangeText(VerdictChange::NewlyBad, last->testedAt));
                const Json faults{{"faults", line.object.value("faults", Json::array())},
                                  {"notes", line.object.value("notes", Json::array())}};
                const double seconds = line.object.value("seconds", 0.0);
                if (!ledger.record({line.path, identity, line.verdict, jsonText(faults), *testedAt, seconds}))
                    ledgerFailed = true;
                else
                    ++recorded;
            },
            [&] { return stopSignal() != 0; });
        // Written before the next file is read, so that a verdict it holds again is known as such.
        if (!ledgerFailed && !ledger.flush())
            ledgerFailed = true;
        if (end.interrupted && !ledgerFailed) {
            note("stopped: recorded " + countOf(recorded, "verdict", "verdicts") + " before the stop");
            return 128 + stopSignal();
        }
        if (!end.failure.empty()) {
            unreadable = true;
            note("cannot read " + platform::escapedText(results) + ": " + end.failure);
        } else if (end.malformedLines != 0 || unusableHere != 0) {
            unreadable = true;
            note(platform::escapedText(results) + ": " +
                 countOf(end.malformedLines + unusableHere, "line", "lines") +
                 " without a verdict that can be recorded (not a result, or written without the "
                 "archive's identity)");
        }
    }
    if (ledgerFailed) {
        note(platform::escapedText(ledger.error()));
        return 3;
    }
    if (!commandLine.quiet)
        note("recorded " + countOf(recorded, "verdict", "verdicts") + " from " +
             countOf(commandLine.paths.size(), "results file", "results files") + " in " +
             platform::escapedText(ledger.path()) +
             (known == 0 ? "" : " (" + std::to_string(known) + " already there or older than the ledger's)"));
    return unreadable ? 2 : 0;
}

} // namespace vellum
