// The window module, libvellum-window.so: everything Qt, loaded by the program only for a window.

#include "desktop_services.h"
#include "display_probe.h"
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
#include "window_start.h"

#include <QApplication>
#include <QSocketNotifier>
#include <optional>

namespace {

using namespace vellum;

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

extern "C" int vellum_window_main(vellum::WindowStart& start) {
    using namespace vellum;
    if (const DisplayReach display = probeDisplay(); display != DisplayReach::Usable)
        return runWithoutDisplay(display, start);
    return runWithWindow(start.argc, start.argv, start.commandLine, start.stopSignals, start.deadline);
}
