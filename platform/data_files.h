#pragma once

// Where the program's own files (its sounds and its manual) are read from, and what that says about
// how the program was put where it is.

#include <string>

namespace vellum::platform {

// The path of the named data file: beside the program when it is there (a build tree, or a copy
// unpacked into one folder), else in share/vellum next to the program's bin folder (an installed
// program, wherever its prefix), else in the data folder of the configured installation. When it is
// in none of them, the path beside the program, so that whoever reads it meets a missing file.
std::string dataFilePath(const std::string& applicationFolder, const std::string& name);

// Whether the program was installed under a prefix: share/vellum is a folder next to the
// program's bin folder, as an installation lays it out. A build tree or a portable copy, whose data
// files lie beside the program, is not.
bool isInstalledProgram(const std::string& applicationFolder);

} // namespace vellum::platform
