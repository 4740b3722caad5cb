#include "command_line.h"
#include "folder_listing.h"
#include "form1.h"
#include "identity.h"
#include "launcher.h"
#include "run_state.h"
#include "shell.h"
#include "single_instance.h"
#include "sound.h"
#include "system_services.h"

#include <QApplication>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace {

// Unattended runs tell the caller what happened: 2 when the start folder could not be read,
// 1 when bad archives were found, 0 otherwise.
int unattendedExitStatus(const vellum::RunState& state, int startFolderError) {
    if (startFolderError != 0) {
        std::fprintf(stderr, "vellum: cannot read folder %s: %s\n", state.StartFolderPath.c_str(),
                     std::strerror(startFolderError));
        return 2;
    }
    return state.BadCount > 0 ? 1 : 0;
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

int startFolderError(const std::string& folder) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr)
        return errno != 0 ? errno : ENOENT;
    closedir(directory);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace vellum;
    const std::string commandLine = joinArguments(argc, argv);
    if (const std::string information = informationRequested(commandLine); !information.empty()) {
        std::fputs(information.c_str(), stdout);
        return 0;
    }
    if (!displayAvailable()) {
        if (commandLine.empty()) {
            std::fputs("vellum: no display to open the window on; give a folder to test it unattended "
                       "(see vellum --help)\n",
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
    Form1 form;
    Shell shell(form, state,
                ShellServices{platform::applicationFolder(), commandLine, *sound, *launcher, singleInstance});
    const Shell::StartOutcome outcome = shell.Form_Load();

    if (anyWindowOpen())
        QApplication::exec();
    switch (outcome) {
    case Shell::StartOutcome::RefusedRootDirectory:
        return 2;
    case Shell::StartOutcome::RanUnattended:
        return unattendedExitStatus(state, startFolderError(state.StartFolderPath));
    case Shell::StartOutcome::HandedOver:
    case Shell::StartOutcome::WaitingForUser:
        break;
    }
    return 0;
}
