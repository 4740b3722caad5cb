#pragma once

// The desktop's services, asked for by what the program wants done: show a text file, show the
// manual, open a web page, write a mail. Each is handed to the desktop's handler (xdg-open), which
// is never waited for: its end is heard later, in the event loop. A text file or a manual that the
// desktop could not show (the handler could not be started, or it failed, as xdg-open does when no
// program is registered for the file's type) goes to whoever asked to show it instead; any other
// failure is named on standard error.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vellum::platform {

enum class DesktopIntent { TextFile, Manual, WebPage, Mail };

class DesktopServices {
public:
    // Given the file the desktop could not show: the text file, or the manual's page.
    using NotShownHandler = std::function<void(const std::string& file)>;

    virtual ~DesktopServices() = default;
    virtual void openTextFile(const std::string& path) = 0;
    // The manual is a help file with a web page beside it (X.html for X.hlp); the page is shown.
    virtual void openManual(const std::string& helpFile) = 0;
    virtual void openWebPage(const std::string& address) = 0;
    virtual void composeMail(const std::string& address) = 0;
    // Who shows what the desktop could not, called from the event loop of the thread that asked.
    // Without one (an empty handler), such a failure too is named on standard error.
    virtual void whenNotShown(NotShownHandler handler) = 0;
};

std::unique_ptr<DesktopServices> createDesktopServices();

// A program and its arguments, ready to be started. They are bytes, as the file system names
// files, so that a name that is not valid UTF-8 still reaches the handler whole.
struct LaunchCommand {
    std::string program;
    std::vector<std::string> arguments;
};

// What the desktop services start for an intent and its target (a path, an address): the desktop's
// handler with one argument, for the manual its web page when there is one. Starts nothing itself.
LaunchCommand desktopCommand(DesktopIntent intent, const std::string& target);

} // namespace vellum::platform
