#include "command_line.h"

#include "identity.h"

#include <xcb/xcb.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vellum {

namespace {

CommandLine usageError(std::string error) {
    CommandLine commandLine;
    commandLine.request = CommandLine::Request::UsageError;
    commandLine.error = std::move(error);
    return commandLine;
}

std::string workingFolder() {
    // The working folder may be deeper than any fixed buffer.
    std::string buffer(256, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

bool environmentHas(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool x11DisplayAnswers() {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return connected;
}

bool waylandDisplayAnswers() {
    std::string path = std::getenv("WAYLAND_DISPLAY");
    if (!path.starts_with('/')) {
        const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
        if (runtimeFolder == nullptr)
            return false;
        path = std::string(runtimeFolder) + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return false;
    const bool connected =
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return connected;
}

} // namespace

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine commandLine;
    bool optionsEnded = false;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (optionsEnded || !argument.starts_with('-')) {
            commandLine.paths.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            commandLine.request = CommandLine::Request::Help;
            return commandLine;
        } else if (argument == "--version") {
            commandLine.request = CommandLine::Request::Version;
            return commandLine;
        } else if (argument == "--report-dir" || argument.starts_with("--report-dir=")) {
            if (argument.size() > std::string_view("--report-dir").size()) {
                commandLine.reportFolder = argument.substr(std::string_view("--report-dir=").size());
            } else if (index + 1 < argc) {
                commandLine.reportFolder = argv[++index];
            } else {
                return usageError("option '--report-dir' requires an argument");
            }
            if (commandLine.reportFolder.empty())
                return usageError("option '--report-dir' requires a folder");
        } else if (argument.starts_with("--")) {
            return usageError("unrecognized option '" + std::string(argument) + "'");
        } else {
            const std::string letter = argument.size() > 1 ? std::string(argument.substr(1, 1)) : "-";
            return usageError("invalid option -- '" + letter + "'");
        }
    }
    if (commandLine.paths.size() > 1)
        return usageError("one folder at a time, got " + std::to_string(commandLine.paths.size()) +
                          " (a folder name with blanks is given in quotes)");
    return commandLine;
}

std::string versionText() {
    return std::string(identity::programTitle) + " " + identity::fileVersion + "\n" +
           identity::fileDescription + "\n";
}

std::string helpText() {
    return std::string("Usage: vellum [OPTION]... [FOLDER]\n") + identity::fileDescription +
           ".\n\n"
           "Without a folder, Vellum opens its window; Browse chooses the folder to test.\n"
           "With a folder, Vellum tests every *.zip in it and in every folder below it,\n"
           "unattended, writes its reports and exits. The reports, errors.txt (the bad\n"
           "archives of the last run that found any) and errors.log (one record per run),\n"
           "go beside the program when its folder is writable, else into\n"
           "$XDG_STATE_HOME/vellum (by default ~/.local/state/vellum).\n"
           "A folder named like an option is given as ./-name.\n\n"
           "  --report-dir DIR  write the reports into DIR\n"
           "  --help            show this text\n"
           "  --version         show the version\n\n"
           "Exit status: 0 no bad archive, 1 bad archives found, 2 usage error or a folder\n"
           "that could not be read (the run is incomplete), 3 the reports could not be\n"
           "written, 128+N interrupted by signal N. When several apply, the highest wins.\n";
}

std::string usageHint() {
    return "Try 'vellum --help' for more information.\n";
}

std::string absolutePath(const std::string& path) {
    std::string joined = path;
    if (!path.starts_with('/')) {
        const std::string working = workingFolder();
        if (working.empty())
            return path; // the working folder is gone; the path can only be used as given
        joined = working + "/" + path;
    }
    std::string clean;
    std::size_t at = 0;
    while (at < joined.size()) {
        std::size_t end = joined.find('/', at);
        if (end == std::string::npos)
            end = joined.size();
        const std::string_view step = std::string_view(joined).substr(at, end - at);
        if (!step.empty() && step != ".") {
            clean += '/';
            clean += step;
        }
        at = end + 1;
    }
    if (clean.empty() || joined.ends_with('/') || joined.ends_with("/."))
        clean += '/';
    return clean;
}

DisplayReach probeDisplay() {
    if (environmentHas("QT_QPA_PLATFORM"))
        return DisplayReach::Usable;
    const bool x11Named = environmentHas("DISPLAY");
    const bool waylandNamed = environmentHas("WAYLAND_DISPLAY");
    if (!x11Named && !waylandNamed)
        return DisplayReach::Missing;
    if ((x11Named && x11DisplayAnswers()) || (waylandNamed && waylandDisplayAnswers()))
        return DisplayReach::Usable;
    return DisplayReach::Unreachable;
}

} // namespace vellum
