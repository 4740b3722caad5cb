#pragma once

// The desktop's services, asked for by what the program wants done: show a text file, show the
// manual, open a web page, write a mail. Each is handed to the desktop's handler (xdg-open) and
// never waited for; a handler that cannot be started is silent.

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

namespace vellum::platform {

class DesktopServices {
public:
    virtual ~DesktopServices() = default;
    virtual void openTextFile(const std::string& path) = 0;
    // The manual is a help file with a web page beside it (X.html for X.hlp); the page is shown.
    virtual void openManual(const std::string& helpFile) = 0;
    virtual void openWebPage(const std::string& address) = 0;
    virtual void composeMail(const std::string& address) = 0;
};

std::unique_ptr<DesktopServices> createDesktopServices();

// A program and its arguments, ready to be started.
struct LaunchCommand {
    QString program;
    QStringList arguments;
};

enum class DesktopIntent { TextFile, Manual, WebPage, Mail };

// What the desktop services start for an intent and its target (a path, an address): the desktop's
// handler with one argument. Starts nothing itself.
LaunchCommand desktopCommand(DesktopIntent intent, const std::string& target);

} // namespace vellum::platform
