#pragma once

// Starts a program from one command-line text without waiting for it. Failure to start is silent.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

namespace vellum::platform {

// Show-window codes: 1 shows the program's window and activates it, 4 shows it without activating.
enum class WindowStyle { ShowNormal = 1, ShowNoActivate = 4 };

class Launcher {
public:
    virtual ~Launcher() = default;
    virtual void start(const std::string& commandLine, WindowStyle style) = 0;
};

// Runs the named program when it is on the PATH; otherwise maps notepad.exe to the desktop's handler
// for the file, winhelp.exe to the desktop's handler for the web page beside the help file (X.html
// for X.hlp, or the help file itself when there is no such page), and webdial.exe to the desktop's
// handler for the address (">mailto:address" or "$url").
std::unique_ptr<Launcher> createSystemLauncher();

// A program and its arguments, ready to be started.
struct LaunchCommand {
    QString program;
    QStringList arguments;
};

// What the system launcher starts for a command line: the program name is the text up to the first
// blank and the rest, blanks and all, is its one argument. Nothing when the program is neither on
// the PATH nor one of the mapped names. Starts nothing itself.
std::optional<LaunchCommand> resolveCommandLine(const std::string& commandLine);

} // namespace vellum::platform
