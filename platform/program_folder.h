#pragma once

// Where the running program lives, and whether that folder is fit to hold it.

#include <string>
#include <string_view>

namespace vellum::platform {

// The folder that holds the running program file (through /proc/self/exe), without a trailing '/'.
// The file system root gives "/" itself.
std::string applicationFolder();

// Whether the program file lies directly in the file system root.
bool isInRootDirectory(std::string_view applicationFolder);

} // namespace vellum::platform
