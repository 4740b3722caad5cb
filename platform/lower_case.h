#pragma once

// Lower case of file names, which are UTF-8 when they are text at all.

#include <string>
#include <string_view>

namespace vellum::platform {

// Lower case of a UTF-8 text, by Unicode rules; bytes that are not valid UTF-8 are kept as they are
// (ASCII letters among them are still lowered).
std::string lowerCase(std::string_view text);

} // namespace vellum::platform
