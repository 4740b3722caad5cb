// The program: the command line, and the terminal run without any window library loaded; the window
// is in the window module, loaded only when a window may open.

#include "command_line.h"
#include "escaped_text.h"
#include "exit_deadline.h"
#include "results_tasks.h"
#include "stop_signals.h"
#include "terminal_run.h"
#include "window_start.h"
#include "zip/zip_tester.h"

#include <cstdio>
#include <optional>

namespace {

using namespace vellum;

// --help, --version and usage errors are answered before anything else is made.
std::optional<int> answerAtOnce(const CommandLine& commandLine) {
    switch (commandLine.request) {
    case CommandLine::Request::Help:
        std::fputs(helpText().c_str(), stdout);
        return 0;
    case CommandLine::Request::Version:
        std::fputs(versionText().c_str(), stdout);
        return 0;
    case CommandLine::Request::UsageError:
        std::fprintf(stderr, "vellum: %s\n%s", platform::escapedText(commandLine.error).c_str(),
                     usageHint().c_str());
        return 2;
    case CommandLine::Request::Run:
        break;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    using namespace vellum;
    // First of all, so that a stop signal that comes at once is kept and the run still leaves its
    // record, instead of ending the program before it has begun.
    const platform::StopSignals stopSignals;
    // A stopped program ends within this time, so that a read stuck on a hung file system cannot
    // keep it; the run is given far longer than it takes to stop at its next step.
    platform::ExitDeadline deadline(stopSignals, std::chrono::seconds(5));
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (const std::optional<int> status = answerAtOnce(commandLine))
        return *status;
    if (commandLine.task == CommandLine::Task::CheckResults)
        return deadline.ending(checkResults(commandLine, [&stopSignals] { return stopSignals.received(); }));
    if (commandLine.task == CommandLine::Task::Import)
        return deadline.ending(importResults(commandLine, [&stopSignals] { return stopSignals.received(); }));
    if (commandLine.memoryLimit != 0)
        limitDecoderMemory(commandLine.memoryLimit);
    if (commandLine.unattended() && runsInTerminalOnly(commandLine))
        return runInTerminal(commandLine, stopSignals, deadline);
    WindowStart start{argc, argv, commandLine, stopSignals, deadline};
    // Without a display named the window module is not even loaded.
    if (!displayNamed())
        return runWithoutDisplay(DisplayReach::Missing, start);
    return runWindowModule(start);
}
