#include "command_line.h"
#include "desktop_services.h"
#include "display_probe.h"
#include "escaped_text.h"
#include "exit_deadline.h"
#include "identity.h"
#include "main_window.h"
#include "message_window.h"
#include "program_folder.h"
#include "results_tasks.h"
#include "single_instance.h"
#include "sound.h"
#include "standard_error_notes.h"
#include "stop_signals.h"
#include "terminal_run.h"
#include "window_session.h"
#include "zip/zip_tester.h"

#include <QApplication>
#include <QSocketNotifier>
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

bool isRealDisplay() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// What a window run tells its caller.
int exitStatusAfter(WindowSession::StartOutcome outcome, const WindowSession& session, int loopStatus,
                    int stopSignal) {
    switch (outcome) {
    case WindowSession::StartOutcome::RefusedRootDirectory:
        return 2;
    case WindowSession::StartOutcome::RanUnattended:
        return exitStatusOf(*session.lastSummary(), stopSignal);
    case WindowSession::StartOutcome::HandedOver:
    case WindowSession::StartOutcome::WaitingForUser:
        break;
    }
    return stopSignal != 0 ? 128 + stopSignal : loopStatus;
}

// The window: a window start, or a plain `vellum FOLDER` on a display, which tests in the window
// and prints on the terminal as any command-line run does.
int runWithWindow(int argc, char** argv, const CommandLine& commandLine,
                  const platform::StopSignals& stopSignals, platform::ExitDeadline& deadline) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(identity::programTitle);
    QApplication::setApplicationVersion(identity::fileVersion);
    const platform::MessageWindows messageWindows;

    const bool unattended = commandLine.unattended();
    const std::string applicationFolder = platform::applicationFolder();
    const std::string reportFolder = reportFolderOf(commandLine);
    auto sound = platform::createSystemSoundPlayer();
    auto desktop = platform::createDesktopServices();
    platform::SingleInstance singleInstance(identity::programTitle);

    OpenedLedger ledger = openLedgerOf(commandLine);
    RunCore run(runSettingsOf(commandLine, applicationFolder, unattended, ledger));
    const platform::LastWords lastWords(deadline, lastWordsOf(run));
    // Every run names on standard error what it could not read or write; a run from the command line
    // also prints its progress and results on the terminal.
    std::optional<TerminalPrinters> printers;
    StandardErrorNotes notes;
    if (unattended) {
        printers.emplace(commandLine);
        printers->attachTo(run);
    } else {
        run.addObserver(notes);
    }
    MainWindow window;
    WindowSession session(window, run,
                          WindowSessionServices{applicationFolder, *sound, *desktop, singleInstance,
                                                reportFolder, isRealDisplay()},
                          unattended ? std::optional(runInputsOf(commandLine)) : std::nullopt);

    // A signal stops a run as Cancel does, so that its report still lands, and then ends the program.
    QSocketNotifier signalNotifier(stopSignals.wakeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &session, [&] {
        signalNotifier.setEnabled(false);
        session.stopOnSignal();
        QApplication::exit(128 + stopSignals.received());
    });
    const WindowSession::StartOutcome outcome = session.start();

    int loopStatus = 0;
    if (window.isVisible() && stopSignals.received() == 0)
        loopStatus = QApplication::exec();
    // Whatever the tester's threads are stuck in, the program ends by the deadline from here on.
    return deadline.ending(exitStatusAfter(outcome, session, loopStatus, stopSignals.received()));
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
        return deadline.ending(checkResults(commandLine));
    if (commandLine.task == CommandLine::Task::Import)
        return deadline.ending(importResults(commandLine));
    if (commandLine.memoryLimit != 0)
        limitDecoderMemory(commandLine.memoryLimit);
    if (commandLine.unattended() && runsInTerminalOnly(commandLine))
        return runInTerminal(commandLine, stopSignals, deadline);
    if (const DisplayReach display = probeDisplay(); display != DisplayReach::Usable) {
        if (commandLine.unattended())
            return runInTerminal(commandLine, stopSignals, deadline);
        std::fputs(display == DisplayReach::Missing
                       ? "vellum: no display to open the window on; give a folder to test it "
                         "unattended (see vellum --help)\n"
                       : "vellum: cannot connect to the display; give a folder to test it "
                         "unattended (see vellum --help)\n",
                   stderr);
        return 2;
    }
    return runWithWindow(argc, argv, commandLine, stopSignals, deadline);
}
