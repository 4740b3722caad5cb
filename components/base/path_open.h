#pragma once

// Opening a file or folder by a path of any length. The kernel refuses a path of PATH_MAX bytes or
// more in one call (ENAMETOOLONG), yet a tree may be nested deeper than that; such a path is walked
// down in steps shorter than the limit, each opened relative to the folder the previous one reached.
// Shorter paths take one plain open.

#include <sys/stat.h>

#include <string>

namespace vellum {

// open(2) on path with flags (O_CLOEXEC is always added); -1 with errno set on failure.
int openPathOfAnyLength(const std::string& path, int flags);

// stat(2) on path, following a final symbolic link, for a path of any length; false with errno set
// when it cannot be examined.
bool statusOfPathOfAnyLength(const std::string& path, struct stat& status);

} // namespace vellum
