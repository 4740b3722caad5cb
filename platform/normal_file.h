#pragma once

// Whether a file is there to be opened by name, such as the log before a viewer is started on it.

#include <string>

namespace vellum::platform {

// True only for an existing regular file that is not hidden (its name does not begin with '.').
bool normalFileExists(const std::string& path);

} // namespace vellum::platform
