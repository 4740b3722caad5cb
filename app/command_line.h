#pragma once

// What the program makes of its command line and its surroundings before any window exists.

#include <string>
#include <vector>

namespace vellum {

struct CommandLine {
    enum class Request { Run, Help, Version, UsageError };
    Request request = Request::Run;
    // The folders to test, as given; none for a window start.
    std::vector<std::string> paths;
    // --report-dir: where the reports go instead of the usual place; empty when not given.
    std::string reportFolder;
    // For a usage error, the line that says what was wrong.
    std::string error;
};

// Every argument that begins with '-' is an option, until "--"; the others are paths. Options are
// answered in order: --help and --version at once, an unknown option or a missing value as a
// usage error.
CommandLine parseCommandLine(int argc, char** argv);

std::string helpText();
std::string versionText();
// What follows a usage error on standard error.
std::string usageHint();

// The path made absolute against the working folder, without "." steps or doubled separators
// (".." is kept: through a symbolic link it need not lead back to where it came from).
std::string absolutePath(const std::string& path);

enum class DisplayReach { Usable, Missing, Unreachable };
// Whether a display server can be reached: none named (Missing), named but not answering
// (Unreachable), or Usable. A platform chosen through QT_QPA_PLATFORM is taken as usable.
DisplayReach probeDisplay();

} // namespace vellum
