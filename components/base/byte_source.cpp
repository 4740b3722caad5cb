#include "base/byte_source.h"

#include "base/path_open.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellum {

namespace {

// Large archives are read from start to end: ask the kernel for a longer read-ahead.
constexpr off_t SequentialReadThreshold = 8 << 20;

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileIdentity identityFrom(const struct stat& status) {
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    identity.size = static_cast<std::int64_t>(status.st_size);
    identity.modifiedNs = nanoseconds(status.st_mtim);
    identity.changedNs = nanoseconds(status.st_ctim);
    return identity;
}

// The status of what path names, its final link followed. A path too long for one call is reached
// by an O_PATH descriptor, which touches nothing behind it: a device or FIFO is never opened here.
} // namespace

std::optional<FileIdentity> fileIdentityOf(const std::string& path) {
    struct stat status {};
    if (!statusOfPathOfAnyLength(path, status))
        return std::nullopt;
    return identityFrom(status);
}

bool MemoryByteSource::read(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (offset > m_bytes.size() || buffer.size() > m_bytes.size() - offset)
        return false;
    if (!buffer.empty())
        std::memcpy(buffer.data(), m_bytes.data() + offset, buffer.size());
    return true;
}

FileByteSource::~FileByteSource() {
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool FileByteSource::open(const std::string& path) {
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
        m_descriptor = -1;
    }
    m_size = 0;
    m_refusedFileType = 0;
    m_openError = 0;
    // Opening a device can act on it (a tape rewinds when closed) and opening a FIFO can wait for a
    // writer or take a writer's data, so only what the path's status calls a regular file is opened.
    struct stat named {};
    if (!statusOfPathOfAnyLength(path, named)) {
        m_openError = errno;
        return false;
    }
    if (!S_ISREG(named.st_mode)) {
        m_refusedFileType = named.st_mode & S_IFMT;
        return false;
    }
    // The path may be replaced between the look and the open: O_NONBLOCK keeps a FIFO put there from
    // hanging the open, and the opened file must be the regular file that was looked at.
    const int descriptor = openPathOfAnyLength(path, O_RDONLY | O_NONBLOCK);
    if (descriptor < 0) {
        m_openError = errno;
        return false;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_dev != named.st_dev ||
        status.st_ino != named.st_ino) {
        ::close(descriptor);
        return false;
    }
    m_descriptor = descriptor;
    m_size = static_cast<std::uint64_t>(status.st_size);
    m_identity = identityFrom(status);
    if (status.st_size >= SequentialReadThreshold)
        ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool FileByteSource::read(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (m_descriptor < 0)
        return false;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::pread(m_descriptor, buffer.data() + done, buffer.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace vellum
