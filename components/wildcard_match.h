#pragma once

#include <string_view>

namespace vellum {

// Matches text against a pattern where '*' stands for any run of characters and '?' for any one
// character, ignoring ASCII case. An empty pattern matches nothing.
bool wildcardMatch(std::string_view pattern, std::string_view text);

// The part of an entry's stored name after its last '/': what file filters are matched against.
std::string_view entryFileName(std::string_view storedName);

} // namespace vellum
