#pragma once

// Names made safe for one line of a report or of standard error.

#include <string>
#include <string_view>

namespace vellum::platform {

// The text with every control character (C0 and DEL) and the backslash written as a C-style escape
// ("\r", "\n", "\t", "\x1b", "\\"), so that a name can neither break a line of a report nor drive a
// terminal. Every other byte is kept, so unescaping gives back the name exactly.
std::string escapedText(std::string_view text);

} // namespace vellum::platform
