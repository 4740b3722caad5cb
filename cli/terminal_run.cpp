#include "terminal_run.h"

#include "absolute_path.h"
#include "message_box.h"
#include "program_folder.h"
#include "stop_signals.h"

#include <unistd.h>

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
    return commandLine.verbose || commandLine.json || commandLine.quiet || !commandLine.fileList.empty() ||
           commandLine.paths.size() > 1 ||
           (commandLine.paths.size() == 1 && namesArchive(commandLine.paths.front()));
}

TerminalPrinters::TerminalPrinters(const CommandLine& commandLine) {
    // --json holds the reasons too, so it takes standard output alone.
    const bool printsResults = commandLine.json || commandLine.verbose;
    if (!commandLine.quiet && ::isatty(STDERR_FILENO) == 1)
        m_progress.emplace(stderr, printsResults && ::isatty(STDOUT_FILENO) == 1);
    if (commandLine.json)
        m_jsonLines.emplace(stdout);
    else if (commandLine.verbose)
        m_reasonLines.emplace(stdout);
}

void TerminalPrinters::attachTo(RunCore& run) {
    if (m_progress)
        run.addObserver(*m_progress);
    if (m_jsonLines)
        run.addObserver(*m_jsonLines);
    if (m_reasonLines)
        run.addObserver(*m_reasonLines);
    run.addObserver(m_notes);
}

int exitStatusOf(const RunSummary& summary, int stopSignal) {
    int status = summary.record.badArchives.empty() ? 0 : 1;
    if (summary.unreachable > 0 || summary.memoryShortfalls > 0)
        status = 2; // the run did not see all it was asked to test
    if (!summary.report.failures.empty())
        status = 3;
    if (stopSignal != 0)
        status = 128 + stopSignal;
    return status;
}

int runInTerminal(const CommandLine& commandLine) {
    const std::string applicationFolder = platform::applicationFolder();
    if (platform::isInRootDirectory(applicationFolder)) {
        platform::showStopMessage("Vellum can not be run from\r\na root directory, please reinstall.",
                                  "Vellum error");
        return 2;
    }
    platform::StopSignals stopSignals;
    RunCore run(RunSettings{ReportPlace{applicationFolder, reportFolderOf(commandLine)}, true});
    TerminalPrinters printers(commandLine);
    printers.attachTo(run);
    // A stop signal acts as Cancel: the run stops at its next breath and still writes its record.
    run.setBreather([&] {
        if (stopSignals.received() != 0 && run.isWalking())
            run.cancel();
    });
    const RunSummary summary = run.run(runInputsOf(commandLine));
    return exitStatusOf(summary, stopSignals.received());
}

} // namespace vellum
