#include "file_tail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vellum::platform {

namespace {

FileTail failureOf(int error) {
    return {{}, 0, std::system_category().message(error)};
}

} // namespace

FileTail readFileTail(const std::string& path, std::size_t limit) {
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0)
        return failureOf(errno);
    const FileTail tail = [&]() -> FileTail {
        struct stat status {};
        if (::fstat(file, &status) != 0)
            return failureOf(errno);
        if (!S_ISREG(status.st_mode))
            return {{}, 0, "not a regular file"};
        const auto size = static_cast<std::uint64_t>(status.st_size);
        const std::uint64_t start = size > limit ? size - limit : 0;
        FileTail read;
        read.text.resize(static_cast<std::size_t>(size - start));
        std::size_t filled = 0;
        // The file may shrink while it is read; what was there is shown.
        while (filled < read.text.size()) {
            const ssize_t got = ::pread(file, read.text.data() + filled, read.text.size() - filled,
                                        static_cast<off_t>(start + filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return failureOf(errno);
            if (got == 0)
                break;
            filled += static_cast<std::size_t>(got);
        }
        read.text.resize(filled);
        read.leftOut = start;
        // A cut lands inside a line, perhaps inside a character; the text starts with a whole line.
        if (start > 0) {
            const std::size_t lineEnd = read.text.find('\n');
            const std::size_t cut = lineEnd == std::string::npos ? read.text.size() : lineEnd + 1;
            read.text.erase(0, cut);
            read.leftOut += cut;
        }
        return read;
    }();
    ::close(file);
    return tail;
}

} // namespace vellum::platform
