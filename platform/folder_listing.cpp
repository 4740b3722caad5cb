#include "folder_listing.h"

#include "base/wildcard_match.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vellum::platform {

namespace {

// A file search reads "*.*" as "any name, with an extension or without": every name a folder can
// hold, which then needs no matching.
bool matchesEveryName(const std::string& pattern) {
    return pattern == "*" || pattern == "*.*";
}

} // namespace

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
        if (found->d_type == DT_UNKNOWN) {
            // Some file systems do not report the type; only then is a system call per entry paid.
            // The link itself is examined, so a link to a folder stays a plain entry.
            struct stat status {};
            entry.isDirectory =
                ::fstatat(::dirfd(m_directory), found->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(status.st_mode);
        } else {
            entry.isDirectory = found->d_type == DT_DIR;
        }
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
