#include "folder_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vellum::platform {

namespace {

char asciiLower(char character) {
    return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a') : character;
}

// Plain wildcard match. A '*' remembers where it stood so that a later mismatch can retry with the
// star swallowing one more byte; that keeps the work at most proportional to name times pattern.
bool matchesWildcards(std::string_view name, std::string_view pattern) {
    std::size_t nameAt = 0;
    std::size_t patternAt = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t nameAtStar = 0;
    while (nameAt < name.size()) {
        if (patternAt < pattern.size() && pattern[patternAt] == '*') {
            starAt = patternAt++;
            nameAtStar = nameAt;
        } else if (patternAt < pattern.size() &&
                   (pattern[patternAt] == '?' ||
                    asciiLower(pattern[patternAt]) == asciiLower(name[nameAt]))) {
            ++patternAt;
            ++nameAt;
        } else if (starAt != std::string_view::npos) {
            patternAt = starAt + 1;
            nameAt = ++nameAtStar;
        } else {
            return false;
        }
    }
    while (patternAt < pattern.size() && pattern[patternAt] == '*')
        ++patternAt;
    return patternAt == pattern.size();
}

} // namespace

bool matchesPattern(std::string_view name, std::string_view pattern) {
    if (matchesWildcards(name, pattern))
        return true;
    // A trailing ".*" stands for "any extension or none", so "*.*" also matches "README" and
    // "a*.*" matches "abc", as a wildcard file search treats them.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*")
        return matchesWildcards(name, pattern.substr(0, pattern.size() - 2));
    return false;
}

FolderListing::FolderListing(const std::string& folder, std::string pattern)
    : m_directory(::opendir(folder.c_str())), m_pattern(std::move(pattern)) {
    if (m_directory == nullptr)
        m_error = errno;
}

FolderListing::FolderListing(int descriptor, std::string pattern) : m_pattern(std::move(pattern)) {
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
        if (!matchesPattern(name, m_pattern))
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
