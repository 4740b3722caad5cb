#include "command_line.h"
#include "escaped_text.h"
#include "form1.h"
#include "identity.h"
#include "launcher.h"
#include "program_folder.h"
#include "progress_line.h"
#include "result_output.h"
#include "run_state.h"
#include "shell.h"
#include "single_instance.h"
#include "sound.h"
#include "stop_signals.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace {

// What an unattended run tells its caller; when several apply, the highest wins.
int unattendedExitStatus(const vellum::RunState& state, int stopSignal) {
    int status = state.BadCount > 0 ? 1 : 0;
    if (state.UnreadableFolders > 0)
        status = 2; // the run did not see all of its tree
    if (state.ReportFailures > 0)
        status = 3;
    if (stopSignal != 0)
        status = 128 + stopSignal;
    return status;
}

// Off screen, Qt's warnings speak of a display and a desktop that nobody sees; an unattended run
// keeps standard error for what its caller needs to know.
void quietOffscreenMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

bool anyWindowOpen() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(),
                       [](const QWidget* window) { return window->isVisible(); });
}

bool isRealDisplay() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

int main(int argc, char** argv) {
    using namespace vellum;
    const CommandLine commandLine = parseCommandLine(argc, argv);
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
    const bool unattended = commandLine.unattended();
    // The report folder is told in messages and handed to the viewer, so it is made absolute too.
    std::string reportFolder =
        commandLine.reportFolder.empty() ? std::string() : absolutePath(commandLine.reportFolder);
    if (reportFolder.size() > 1 && reportFolder.ends_with('/'))
        reportFolder.pop_back();

    if (const DisplayReach display = probeDisplay(); display != DisplayReach::Usable) {
        if (!unattended) {
            std::fputs(display == DisplayReach::Missing
                           ? "vellum: no display to open the window on; give a folder to test it "
                             "unattended (see vellum --help)\n"
                           : "vellum: cannot connect to the display; give a folder to test it "
                             "unattended (see vellum --help)\n",
                       stderr);
            return 2;
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        qInstallMessageHandler(quietOffscreenMessages);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(identity::programTitle);
    QApplication::setApplicationVersion(identity::fileVersion);

    RunState state;
    auto sound = platform::createSystemSoundPlayer();
    auto launcher = platform::createSystemLauncher();
    platform::SingleInstance singleInstance(identity::programTitle);
    platform::StopSignals stopSignals;
    Form1 form;
    // A start with a command line runs unattended; the driver takes what it tests from the inputs
    // below, and the shell needs only to know that there is something.
    const std::string startArgument = !unattended                 ? std::string()
                                      : commandLine.paths.empty() ? commandLine.fileList
                                                                  : commandLine.paths.front();
    Shell shell(form, state,
                ShellServices{platform::applicationFolder(), startArgument, *sound, *launcher, singleInstance,
                              reportFolder, isRealDisplay()});

    std::optional<ProgressLine> progress;
    std::optional<JsonLines> jsonLines;
    std::optional<ReasonLines> reasonLines;
    if (unattended) {
        CommandLineInputs inputs;
        for (const std::string& path : commandLine.paths)
            inputs.paths.push_back(absolutePath(path));
        if (!commandLine.fileList.empty())
            inputs.fileList = commandLine.fileList == "-" ? "-" : absolutePath(commandLine.fileList);
        inputs.nullSeparated = commandLine.nullSeparated;
        shell.run().setCommandLineInputs(std::move(inputs));
        // --json holds the reasons too, so it takes standard output alone.
        const bool printsResults = commandLine.json || commandLine.verbose;
        if (!commandLine.quiet && ::isatty(STDERR_FILENO) == 1) {
            progress.emplace(stderr, printsResults && ::isatty(STDOUT_FILENO) == 1);
            shell.run().addObserver(*progress);
        }
        if (commandLine.json) {
            jsonLines.emplace(stdout);
            shell.run().addObserver(*jsonLines);
        } else if (commandLine.verbose) {
            reasonLines.emplace(stdout);
            shell.run().addObserver(*reasonLines);
        }
    }
    // A signal stops a run as Cancel does, so that its report still lands, and then ends the program.
    QObject::connect(&stopSignals, &platform::StopSignals::stopRequested, &shell, [&] {
        if (shell.run().isRunning()) {
            shell.run().Command2_Click();
            state.ExitWhenDone = true;
        }
        QApplication::exit(128 + stopSignals.received());
    });
    const Shell::StartOutcome outcome = shell.Form_Load();

    int loopStatus = 0;
    if (anyWindowOpen() && stopSignals.received() == 0)
        loopStatus = QApplication::exec();
    switch (outcome) {
    case Shell::StartOutcome::RefusedRootDirectory:
        return 2;
    case Shell::StartOutcome::RanUnattended:
        return unattendedExitStatus(state, stopSignals.received());
    case Shell::StartOutcome::HandedOver:
    case Shell::StartOutcome::WaitingForUser:
        break;
    }
    return stopSignals.received() != 0 ? 128 + stopSignals.received() : loopStatus;
}
