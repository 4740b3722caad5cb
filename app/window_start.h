#pragma once

// The step from the command-line program to its window. The program itself holds no window
// libraries, so that a run from the command line starts in a moment; it loads the window module
// (libvellum-window.so) only when a window may open, and hands it the run as it has begun.

#include "command_line.h"

namespace vellum {

namespace platform {
class ExitDeadline;
class StopSignals;
} // namespace platform

enum class DisplayReach { Usable, Missing, Unreachable };

// What the program has made before it opens the window: the command line, the stop signals and
// the exit deadline it set up first of all.
struct WindowStart {
    int argc;
    char** argv;
    const CommandLine& commandLine;
    const platform::StopSignals& stopSignals;
    platform::ExitDeadline& deadline;
};

// Whether the environment names a display at all (or a Qt platform), asked without connecting.
bool displayNamed();

// A run that cannot have its window: one with a folder runs on the terminal, a window start is
// refused with a message. Answers the exit status.
int runWithoutDisplay(DisplayReach display, const WindowStart& start);

// Loads the window module and runs the window in it; answers the exit status. A module that is
// missing or cannot be loaded is told in one line on standard error, with status 2.
int runWindowModule(WindowStart& start);

} // namespace vellum

// The window module's entry: probes the display, then runs the window, or the run without it.
extern "C" int vellum_window_main(vellum::WindowStart& start);
