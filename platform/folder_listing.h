#pragma once

// Lists one folder's entries in the order the file system gives them, like a wildcard file search:
// every entry whose name matches the pattern, hidden (dot) entries and "." and ".." included.
// Names are the raw bytes the file system gave. The directory bit is set for real folders only:
// a symbolic link to a folder is not a folder, so a walk over the listing never loops.

#include <dirent.h>

#include <string>
#include <string_view>

namespace vellum::platform {

struct FolderEntry {
    std::string name;
    bool isDirectory = false;
    // A symbolic link whose target is a folder: never a folder itself, but worth telling about.
    bool isLinkToFolder = false;
};

// Opens, for listing, the folder at `relative` below the folder open at `root`, through real
// folders only: a symbolic link anywhere on the way, or a ".." step, fails the open (ELOOP, EXDEV)
// instead of leading out of the tree, also when a folder was swapped for a link after its parent
// was listed. An empty `relative` opens `root` itself again. -1 with errno when it fails.
int openFolderBeneath(int root, std::string_view relative);

// Whether the folder open at `folder` lies in one of the kernel's virtual file systems (proc, sysfs,
// devtmpfs, devpts, cgroup, debugfs, tracefs, securityfs, pstore, bpf) other than the one that holds
// the folder open at `root`. Such folders hold no archives, and /proc alone has thousands that
// cannot be read, so a walk from `root` passes them over; a walk that starts inside one still walks
// it. A folder whose file system cannot be told is not one of them.
bool isKernelFileSystemBelow(int root, int folder);

class FolderListing {
public:
    // Opens the listing of `folder` (a path ending in '/') for the entries that match `pattern`.
    FolderListing(const std::string& folder, std::string pattern);
    // Lists the folder open at `descriptor` (opened for reading), which the listing takes over and
    // closes; -1 (with errno telling why the folder could not be opened) gives a listing that is
    // not open.
    FolderListing(int descriptor, std::string pattern);
    ~FolderListing();
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // False when the folder could not be opened (missing, not a folder, unreadable).
    bool isOpen() const { return m_directory != nullptr; }

    // Fills the next matching entry; false when there is none left (or the listing is not open).
    bool next(FolderEntry& entry);

    // Why the folder could not be opened or read to its end (an errno value); 0 when nothing failed.
    int error() const { return m_error; }

    // Ends the listing early; the destructor does it too.
    void close();

private:
    DIR* m_directory = nullptr;
    std::string m_pattern;
    bool m_matchesEveryName = false;
    int m_error = 0;
};

} // namespace vellum::platform
