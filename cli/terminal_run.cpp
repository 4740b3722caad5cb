#include "terminal_run.h"

#include "absolute_path.h"
#include "exit_deadline.h"
#include "program_folder.h"
#include "stop_signals.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace vellum {

RunInputs runInputsOf(const CommandLine& commandLine) {
    RunInputs inputs;
    for (const std::string& path : commandLine.paths)
        inputs.paths.push_back(absolutePath(path));
    if (!commandLine.fileList.empty())
        inputs.fileList = commandLine.fileList == "-" ? "-" : absolutePath(commandLine.fileList);
    inputs.nullSeparated = commandLine.nullSeparated;
    return inputs;
}

std::string reportFolderOf(const CommandLine& commandLine) {
    std::string folder =
        commandLine.reportFolder.empty() ? std::string() : absolutePath(commandLine.reportFolder);
    if (folder.size() > 1 && folder.ends_with('/'))
        folder.pop_back();
    return folder;
}

bool runsInTerminalOnly(const CommandLine& commandLine) {
    return commandLine.task != CommandLine::Task::Test || commandLine.timeLimit || commandLine.verbose ||
           commandLine.json || commandLine.quiet || commandLine.strict || !commandLine.fileList.empty() ||
           commandLine.paths.size() > 1 ||
           (commandLine.paths.size() == 1 && namesArchive(commandLine.paths.front()));
}

TerminalPrinters::TerminalPrinters(const CommandLine& commandLine, std::function<bool()> stopRequested)
    : m_tally(commandLine.strict) {
    const bool listing = commandLine.task == CommandLine::Task::ListDue;
    // --json holds the reasons too, so it takes standard output alone.
    const bool printsResults = commandLine.json || commandLine.verbose || listing;
    const bool onTerminal = !commandLine.quiet && !listing && ::isatty(STDERR_FILENO) == 1;
    if (onTerminal)
        m_progress.emplace(stderr, printsResults && ::isatty(STDOUT_FILENO) == 1, commandLine.strict);
    // The JSON summary already says it all, to whoever reads the JSON lines.
    if (onTerminal && !commandLine.json)
        m_closingLine.emplace(stderr, m_tally);
    if (printsResults)
        m_results.emplace(STDOUT_FILENO, std::move(stopRequested));
    if (listing)
        m_dueLines.emplace(*m_results, commandLine.nullSeparated ? '\0' : '\n');
    else if (commandLine.json)
        m_jsonLines.emplace(*m_results, commandLine.strict);
    else if (commandLine.verbose)
        m_reasonLines.emplace(*m_results, commandLine.strict);
}

ResultStream::State TerminalPrinters::resultsState() const {
    return m_results ? m_results->state() : ResultStream::State::Open;
}

void TerminalPrinters::attachTo(RunCore& run) {
    if (m_results) {
        m_results->onEnd = [&run](const ResultStream& results) {
            if (results.state() == ResultStream::State::Closed && run.isWalking())
                run.cancel(RunStop::OutputClosed);
            else if (results.state() == ResultStream::State::Failed)
                std::fprintf(stderr, "vellum: cannot write the results to standard output: %s\n",
                             std::strerror(results.error()));
        };
    }
    run.addObserver(m_tally);
    if (m_progress)
        run.addObserver(*m_progress);
    if (m_jsonLines)
        run.addObserver(*m_jsonLines);
    if (m_reasonLines)
        run.addObserver(*m_reasonLines);
    if (m_dueLines)
        run.addObserver(*m_dueLines);
    run.addObserver(m_notes);
    // Last, so that it closes what the run printed on standard error.
    if (m_closingLine)
        run.addObserver(*m_closingLine);
}

int exitStatusOf(const RunSummary& summary, int stopSignal, ResultStream::State results,
                 const RunTally* tally) {
    int status = summary.record.badArchives.empty() && (!tally || tally->bad() == 0) ? 0 : 1;
    if (!summary.complete())
        status = 2; // the run did not judge all it was asked to test
    if (!summary.report.failures.empty() || results == ResultStream::State::Failed ||
        !summary.ledgerFailure.empty())
        status = 3;
    // A reader that went away stops the run as the signal of a broken pipe would have.
    if (results == ResultStream::State::Closed)
        status = 128 + SIGPIPE;
    if (stopSignal != 0)
        status = 128 + stopSignal;
    return status;
}

OpenedLedger openLedgerOf(const CommandLine& commandLine) {
    OpenedLedger opened;
    if (commandLine.noLedger)
        return opened;
    const std::string path =
        commandLine.ledger.empty() ? Ledger::defaultPath() : absolutePath(commandLine.ledger);
    if (path.empty()) {
        opened.failure = "cannot use a ledger: the user has no home folder to keep it in (see --ledger)";
        return opened;
    }
    std::string error;
    opened.ledger = Ledger::open(path, error);
    if (!opened.ledger)
        opened.failure = "cannot use the ledger " + error;
    return opened;
}

RunSettings runSettingsOf(const CommandLine& commandLine, const std::string& applicationFolder,
                          bool startedFromCommandLine, OpenedLedger& ledger) {
    RunSettings settings{ReportPlace{applicationFolder, reportFolderOf(commandLine)}, startedFromCommandLine,
                         commandLine.followLinks};
    settings.ledger = ledger.ledger.get();
    settings.ledgerUnavailable = ledger.failure;
    settings.dueDays = commandLine.dueDays;
    settings.timeLimit = commandLine.timeLimit;
    if (commandLine.task == CommandLine::Task::ListDue)
        settings.purpose = RunPurpose::ListDue;
    return settings;
}

std::function<void()> lastWordsOf(RunCore& run) {
    return [&run] {
        if (const std::optional<ReportOutcome> outcome = run.writeRecordAsItStands()) {
            for (const platform::WriteFailure& failure : outcome->failures)
                std::fprintf(stderr, "vellum: %s\n", reportFailureText(failure).c_str());
        }
    };
}

int runInTerminal(const CommandLine& commandLine, const platform::StopSignals& stopSignals,
                  platform::ExitDeadline& deadline) {
    const std::string applicationFolder = platform::applicationFolder();
    if (platform::refusedInRootDirectory(applicationFolder))
        return 2;
    // A reader of the results that has gone is seen as a failed write, and stops the run as Cancel
    // does, so that the run's record is still written.
    std::signal(SIGPIPE, SIG_IGN);
    OpenedLedger ledger = openLedgerOf(commandLine);
    RunCore run(runSettingsOf(commandLine, applicationFolder, true, ledger));
    const platform::LastWords lastWords(deadline, lastWordsOf(run));
    TerminalPrinters printers(commandLine, [&stopSignals] { return stopSignals.received() != 0; });
    printers.attachTo(run);
    // A stop signal acts as Cancel: the run stops at its next breath and still writes its record.
    run.setBreather([&] {
        if (stopSignals.received() != 0 && run.isWalking())
            run.cancel(RunStop::Signal);
    });
    const RunSummary summary = run.run(runInputsOf(commandLine));
    // The tester's threads are waited for as the run goes; one stuck in a read is not waited for
    // beyond the deadline.
    int status = exitStatusOf(summary, stopSignals.received(), printers.resultsState(), &printers.tally());
    if (!printers.listedEveryDueArchive())
        status = std::max(status, 2);
    return deadline.ending(status);
}

} // namespace vellum
