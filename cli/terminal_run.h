#pragma once

// A run started from the command line: what it tests, what it prints while it works, and what it
// tells its caller at the end. runInTerminal runs it without any window or GUI application, so it
// runs anywhere; a plain `vellum FOLDER` on a display shows its window instead and prints the same.

#include "closing_line.h"
#include "command_line.h"
#include "progress_line.h"
#include "result_output.h"
#include "run_core.h"
#include "run_tally.h"
#include "standard_error_notes.h"

#include <optional>
#include <string>

namespace vellum {

namespace platform {
class ExitDeadline;
class StopSignals;
} // namespace platform

// The paths and the list made absolute, as the reports name them.
RunInputs runInputsOf(const CommandLine& commandLine);
// --report-dir made absolute (it is told in messages), without a trailing '/'; empty when not given.
std::string reportFolderOf(const CommandLine& commandLine);
// Whether the run belongs to the terminal alone, even on a display: any option of the command-line
// tester, several paths or a single archive.
bool runsInTerminalOnly(const CommandLine& commandLine);

// What a command-line run prints: the progress line on a terminal's standard error, the reasons or
// the JSON lines on standard output, the notes on standard error, and without --json a closing
// line on a terminal's standard error. Attached to a run before anything else that observes it,
// so that the progress line is cleared before a note is written.
// A reader of the results that has gone stops the run as Cancel does; results that cannot be
// written are told on standard error.
class TerminalPrinters {
public:
    // stopRequested: whether a stop came, asked while a reader of the results keeps a line waiting.
    TerminalPrinters(const CommandLine& commandLine, std::function<bool()> stopRequested = {});
    TerminalPrinters(const TerminalPrinters&) = delete;
    TerminalPrinters& operator=(const TerminalPrinters&) = delete;
    void attachTo(RunCore& run);
    // Open, or what ended the results on standard output.
    ResultStream::State resultsState() const;
    // The archives judged, by the verdicts printed.
    const RunTally& tally() const { return m_tally; }
    // Whether every archive due was listed: a name with a line break cannot be without -0.
    bool listedEveryDueArchive() const { return !m_dueLines || m_dueLines->unlisted() == 0; }

private:
    RunTally m_tally;
    std::optional<ResultStream> m_results;
    std::optional<ProgressLine> m_progress;
    std::optional<JsonLines> m_jsonLines;
    std::optional<ReasonLines> m_reasonLines;
    std::optional<DueLines> m_dueLines;
    StandardErrorNotes m_notes;
    std::optional<ClosingLine> m_closingLine;
};

// What a command-line run tells its caller; when several apply, the highest wins. tally: the
// verdicts the run printed, when they may count more archives bad than the report does (--strict).
int exitStatusOf(const RunSummary& summary, int stopSignal,
                 ResultStream::State results = ResultStream::State::Open, const RunTally* tally = nullptr);

// The ledger a run keeps, as the command line asks: the default one, --ledger FILE, or none with
// --no-ledger. One that cannot be used is no ledger, and why is told with the run's failures.
struct OpenedLedger {
    std::unique_ptr<Ledger> ledger;
    std::string failure;
};
OpenedLedger openLedgerOf(const CommandLine& commandLine);
// The settings of a run from the command line's options; the ledger outlives the run.
RunSettings runSettingsOf(const CommandLine& commandLine, const std::string& applicationFolder,
                          bool startedFromCommandLine, OpenedLedger& ledger);

// What a program that cannot wait for its run to end says before it ends: the run's record as it
// stands, when the run has not written it, and any failure to write it.
std::function<void()> lastWordsOf(RunCore& run);

// Runs the command line's inputs to their end, or until a stop signal, and answers the exit status.
// After a stop, the program ends by the deadline whatever the run is stuck in.
int runInTerminal(const CommandLine& commandLine, const platform::StopSignals& stopSignals,
                  platform::ExitDeadline& deadline);

} // namespace vellum
