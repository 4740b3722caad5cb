#pragma once

// Names made safe for one line of a report or of standard error.

#include <string>
#include <string_view>

namespace vellum::platform {

// The text with every control character (C0, DEL, and the C1 controls as UTF-8), every
// bidirectional embedding, override or isolate, and the backslash written as C-style escapes
// ("\r", "\n", "\t", "\x1b", "\xc2\x9b", "\xe2\x80\xae", "\\"), so that a name can neither break a
// line of a report nor drive a terminal nor turn the text around it. Every other byte is kept, so
// unescaping gives back the name exactly.
std::string escapedText(std::string_view text);

} // namespace vellum::platform
