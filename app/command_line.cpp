#include "command_line.h"

#include "identity.h"

#include <cstdlib>

namespace vellum {

std::string joinArguments(int argc, char** argv) {
    std::string commandLine;
    for (int index = 1; index < argc; ++index) {
        if (index > 1)
            commandLine += ' ';
        commandLine += argv[index];
    }
    return commandLine;
}

std::string informationRequested(const std::string& commandLine) {
    if (commandLine == "--version")
        return std::string(identity::programTitle) + " " + identity::fileVersion + "\n" +
               identity::fileDescription + "\n";
    if (commandLine == "--help")
        return std::string("Usage: vellum [FOLDER]\n") + identity::fileDescription +
               ".\n\n"
               "Without a folder, Vellum opens its window; Browse chooses the folder to test.\n"
               "With a folder, Vellum tests every *.zip in it and in every folder below it,\n"
               "unattended, writes errors.txt and errors.log beside the program, and exits.\n"
               "A folder named like an option is given as ./--help.\n\n"
               "Exit status: 0 no bad archive, 1 bad archives found,\n"
               "2 the folder does not exist or cannot be read.\n\n"
               "  --help     show this text\n"
               "  --version  show the version\n";
    return {};
}

bool displayAvailable() {
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    if (platformName != nullptr && *platformName != '\0')
        return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

} // namespace vellum
