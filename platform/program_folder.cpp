#include "program_folder.h"

#include "message_box.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace vellum::platform {

namespace {

std::string executablePath() {
    // The link's length is not known beforehand, so the buffer grows until the target fits.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

std::string applicationFolder() {
    std::string path = executablePath();
    // When the program file was replaced while running, the kernel appends this note to the name.
    static constexpr std::string_view deletedNote = " (deleted)";
    struct stat status {};
    if (path.size() > deletedNote.size() && path.ends_with(deletedNote) &&
        ::lstat(path.c_str(), &status) != 0)
        path.resize(path.size() - deletedNote.size());
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool isInRootDirectory(std::string_view applicationFolder) {
    return applicationFolder == "/";
}

bool refusedInRootDirectory(std::string_view applicationFolder) {
    if (!isInRootDirectory(applicationFolder))
        return false;
    showStopMessage("Vellum can not be run from\r\na root directory, please reinstall.", "Vellum error");
    return true;
}

} // namespace vellum::platform
