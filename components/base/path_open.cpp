#include "base/path_open.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace vellum {

namespace {

// Closes the folder reached so far, keeping the errno of the step that failed.
int closeKeepingError(int descriptor) {
    if (descriptor != AT_FDCWD) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
    }
    return -1;
}

} // namespace

int openPathOfAnyLength(const std::string& path, int flags) {
    flags |= O_CLOEXEC;
    if (path.size() < PATH_MAX)
        return ::open(path.c_str(), flags);
    int folder = AT_FDCWD;
    std::size_t at = 0;
    while (path.size() - at >= PATH_MAX) {
        // A step must not begin with '/': relative to a folder that would start again at the root.
        while (at > 0 && at < path.size() && path[at] == '/')
            ++at;
        if (path.size() - at < PATH_MAX)
            break;
        const std::size_t slash = path.rfind('/', at + PATH_MAX - 2);
        if (slash == std::string::npos || slash < at) {
            // One name longer than any file system allows.
            errno = ENAMETOOLONG;
            return closeKeepingError(folder);
        }
        const std::string step = path.substr(at, slash - at + 1);
        const int next = ::openat(folder, step.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0)
            return closeKeepingError(folder);
        if (folder != AT_FDCWD)
            ::close(folder);
        folder = next;
        at = slash + 1;
    }
    const int descriptor = ::openat(folder, path.c_str() + at, flags);
    if (descriptor < 0)
        return closeKeepingError(folder);
    if (folder != AT_FDCWD)
        ::close(folder);
    return descriptor;
}

bool statusOfPathOfAnyLength(const std::string& path, struct stat& status) {
    if (path.size() < PATH_MAX)
        return ::stat(path.c_str(), &status) == 0;
    const int descriptor = openPathOfAnyLength(path, O_PATH);
    if (descriptor < 0)
        return false;
    const bool examined = ::fstat(descriptor, &status) == 0;
    const int error = errno;
    ::close(descriptor);
    errno = error;
    return examined;
}

} // namespace vellum
