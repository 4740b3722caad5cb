#include "folder_listing.h"

#include "base/wildcard_match.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace vellum::platform {

namespace {

// A file search reads "*.*" as "any name, with an extension or without": every name a folder can
// hold, which then needs no matching.
bool matchesEveryName(const std::string& pattern) {
    return pattern == "*" || pattern == "*.*";
}

// Whether the file system with this device number is mounted as devtmpfs. Its statfs answer is the
// one tmpfs gives, so only the mount table tells the two apart; what it says of a device is kept,
// since a walk of a large tmpfs asks for every folder in it.
bool isDeviceFileSystem(dev_t device) {
    static std::mutex guard;
    static std::map<dev_t, bool> known;
    const std::lock_guard lock(guard);
    if (const auto found = known.find(device); found != known.end())
        return found->second;
    // A line of the table: ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [TAGS...] - TYPE SOURCE ...
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    bool isDevtmpfs = false;
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; !isDevtmpfs && std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        // Blanks in mount points are escaped, so " - " is the separator alone.
        const std::size_t separator = line.find(" - ");
        isDevtmpfs = numbers == wanted && separator != std::string::npos &&
                     line.compare(separator + 3, 9, "devtmpfs ") == 0;
    }
    known.emplace(device, isDevtmpfs);
    return isDevtmpfs;
}

bool isKernelFileSystem(int descriptor, dev_t device) {
    struct statfs fileSystem {};
    if (::fstatfs(descriptor, &fileSystem) != 0)
        return false;
    switch (static_cast<unsigned long>(fileSystem.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC:
    case BPF_FS_MAGIC:
        return true;
    case TMPFS_MAGIC:
        return isDeviceFileSystem(device);
    default:
        return false;
    }
}

} // namespace

bool isKernelFileSystemBelow(int root, int folder) {
    struct stat rootStatus {};
    struct stat folderStatus {};
    if (::fstat(root, &rootStatus) != 0 || ::fstat(folder, &folderStatus) != 0)
        return false;
    return folderStatus.st_dev != rootStatus.st_dev && isKernelFileSystem(folder, folderStatus.st_dev);
}

int openFolderBeneath(int root, std::string_view relative) {
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
    while (relative.ends_with('/'))
        relative.remove_suffix(1);
    if (relative.empty())
        return ::openat(root, ".", flags);
    // The kernel walks the whole path at once where it can; a path longer than it takes, a kernel
    // without openat2, or a sandbox that forbids the call (EPERM), is walked one folder at a time,
    // none of them a link.
    open_how how{};
    how.flags = flags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    const std::string path(relative);
    const long descriptor = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
    if (descriptor >= 0 || (errno != ENOSYS && errno != ENAMETOOLONG && errno != EPERM))
        return static_cast<int>(descriptor);
    int folder = ::openat(root, ".", flags);
    while (folder >= 0 && !relative.empty()) {
        const std::size_t end = relative.find('/');
        const std::string name(relative.substr(0, end));
        relative.remove_prefix(end == std::string_view::npos ? relative.size() : end + 1);
        const int below =
            name == ".." ? (errno = EXDEV, -1) : ::openat(folder, name.c_str(), flags | O_NOFOLLOW);
        const int error = errno;
        ::close(folder);
        folder = below;
        errno = error;
    }
    return folder;
}

FolderListing::FolderListing(const std::string& folder, std::string pattern)
    : m_directory(::opendir(folder.c_str())), m_pattern(std::move(pattern)),
      m_matchesEveryName(matchesEveryName(m_pattern)) {
    if (m_directory == nullptr)
        m_error = errno;
}

FolderListing::FolderListing(int descriptor, std::string pattern)
    : m_pattern(std::move(pattern)), m_matchesEveryName(matchesEveryName(m_pattern)) {
    if (descriptor < 0) {
        m_error = errno != 0 ? errno : EBADF;
        return;
    }
    m_directory = ::fdopendir(descriptor);
    if (m_directory == nullptr) {
        m_error = errno;
        ::close(descriptor);
    }
}

FolderListing::~FolderListing() {
    close();
}

bool FolderListing::next(FolderEntry& entry) {
    if (m_directory == nullptr)
        return false;
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(m_directory);
        if (found == nullptr) {
            m_error = errno;
            return false;
        }
        const std::string_view name(found->d_name);
        if (!m_matchesEveryName && !wildcardMatch(m_pattern, name, WildcardRule::FileSearch))
            continue;
        entry.name.assign(name);
        bool isLink = found->d_type == DT_LNK;
        if (found->d_type == DT_UNKNOWN) {
            // Some file systems do not report the type; only then is a system call per entry paid.
            // The link itself is examined, so a link to a folder stays a plain entry.
            struct stat status {};
            const bool known =
                ::fstatat(::dirfd(m_directory), found->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0;
            entry.isDirectory = known && S_ISDIR(status.st_mode);
            isLink = known && S_ISLNK(status.st_mode);
        } else {
            entry.isDirectory = found->d_type == DT_DIR;
        }
        // Only links pay for a look at their target.
        struct stat target {};
        entry.isLinkToFolder = isLink && ::fstatat(::dirfd(m_directory), found->d_name, &target, 0) == 0 &&
                               S_ISDIR(target.st_mode);
        return true;
    }
}

void FolderListing::close() {
    if (m_directory != nullptr) {
        ::closedir(m_directory);
        m_directory = nullptr;
    }
}

} // namespace vellum::platform
