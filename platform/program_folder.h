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

// The program refuses to run from the file system root: when it lies there, this tells the user
// (a message box, or standard error without a window) and answers true.
bool refusedInRootDirectory(std::string_view applicationFolder);

} // namespace vellum::platform
