#pragma once

// Paths given by the user (arguments, lines of a file list) made absolute, as reports and printed
// output name them.

#include <string>

namespace vellum {

// The path made absolute against the working folder, without "." steps or doubled separators
// (".." is kept: through a symbolic link it need not lead back to where it came from).
std::string absolutePath(const std::string& path);

} // namespace vellum
