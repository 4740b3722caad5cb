#pragma once

// What the program makes of its command line before any window exists.

#include <string>

namespace vellum {

// Everything after the program name, the arguments joined by single blanks.
std::string joinArguments(int argc, char** argv);

// The answer to "--help" or "--version" given alone, or empty when the command line asks for a run.
std::string informationRequested(const std::string& commandLine);

// Whether a display server can be reached; without one the program draws off screen.
bool displayAvailable();

} // namespace vellum
