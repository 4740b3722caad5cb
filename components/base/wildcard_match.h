#pragma once

// Wildcard patterns over names, as file filters and folder listings use them.

#include <string_view>

namespace vellum {

enum class WildcardRule {
    Plain,
    // As a wildcard file search reads a pattern: a trailing ".*" stands for "any extension or
    // none", so "*.*" matches every name, dot or not, and "a*.*" matches "abc".
    FileSearch,
};

// Matches text against a pattern where '*' stands for any run of characters and '?' for any one
// character, ignoring ASCII case. An empty pattern matches nothing. Used for the component's file
// filter and for folder listings.
bool wildcardMatch(std::string_view pattern, std::string_view text, WildcardRule rule = WildcardRule::Plain);

// The part of an entry's stored name after its last '/': what file filters are matched against.
std::string_view entryFileName(std::string_view storedName);

} // namespace vellum
