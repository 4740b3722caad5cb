#include "window_start.h"

#include "terminal_run.h"

#include <cstdio>
#include <cstdlib>

namespace vellum {

namespace {

bool environmentHas(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

bool displayNamed() {
    // As probeDisplay sees it: a Qt platform chosen through QT_QPA_PLATFORM is taken as usable.
    return environmentHas("QT_QPA_PLATFORM") || environmentHas("DISPLAY") ||
           environmentHas("WAYLAND_DISPLAY");
}

int runWithoutDisplay(DisplayReach display, const WindowStart& start) {
    if (start.commandLine.unattended())
        return runInTerminal(start.commandLine, start.stopSignals, start.deadline);
    std::fputs(display == DisplayReach::Missing
                   ? "vellum: no display to open the window on; give a folder to test it "
                     "unattended (see vellum --help)\n"
                   : "vellum: cannot connect to the display; give a folder to test it "
                     "unattended (see vellum --help)\n",
               stderr);
    return 2;
}

} // namespace vellum
