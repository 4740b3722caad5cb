#pragma once

// Small operating-system services: where the program lives, texts of numbers, lower case, plain files.

#include <cstdint>
#include <string>
#include <string_view>

namespace vellum::platform {

// The folder that holds the running program file (through /proc/self/exe), without a trailing '/'.
// The file system root gives "/" itself.
std::string applicationFolder();

// Whether the program file lies directly in the file system root.
bool isInRootDirectory(std::string_view applicationFolder);

// Decimal digits preceded by one blank, or by '-' when negative: 12 gives " 12", -3 gives "-3".
std::string numberText(std::int64_t value);

// Lower case of a UTF-8 text, by Unicode rules; bytes that are not valid UTF-8 are kept as they are
// (ASCII letters among them are still lowered).
std::string lowerCase(std::string_view text);

// The text with every control character (C0 and DEL) and the backslash written as a C-style escape
// ("\r", "\n", "\t", "\x1b", "\\"), so that a name can neither break a line of a report nor drive a
// terminal. Every other byte is kept, so unescaping gives back the name exactly.
std::string escapedText(std::string_view text);

// True only for an existing regular file that is not hidden (its name does not begin with '.').
bool normalFileExists(const std::string& path);

} // namespace vellum::platform
