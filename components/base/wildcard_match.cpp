#include "base/wildcard_match.h"

namespace vellum {

namespace {

char lowerAscii(char value) {
    return (value >= 'A' && value <= 'Z') ? static_cast<char>(value - 'A' + 'a') : value;
}

bool plainMatch(std::string_view pattern, std::string_view text) {
    // Greedy matching that remembers the last '*': on a mismatch the star takes one more character
    // and matching resumes after it. This never needs more than one backtracking point, so a hostile
    // name costs at most pattern length times name length steps.
    std::size_t patternIndex = 0;
    std::size_t textIndex = 0;
    std::size_t starIndex = std::string_view::npos;
    std::size_t starText = 0;
    while (textIndex < text.size()) {
        if (patternIndex < pattern.size() && pattern[patternIndex] == '*') {
            starIndex = patternIndex++;
            starText = textIndex;
        } else if (patternIndex < pattern.size() &&
                   (pattern[patternIndex] == '?' ||
                    lowerAscii(pattern[patternIndex]) == lowerAscii(text[textIndex]))) {
            ++patternIndex;
            ++textIndex;
        } else if (starIndex != std::string_view::npos) {
            patternIndex = starIndex + 1;
            textIndex = ++starText;
        } else {
            return false;
        }
    }
    while (patternIndex < pattern.size() && pattern[patternIndex] == '*')
        ++patternIndex;
    return patternIndex == pattern.size();
}

} // namespace

bool wildcardMatch(std::string_view pattern, std::string_view text, WildcardRule rule) {
    if (pattern.empty())
        return false;
    if (plainMatch(pattern, text))
        return true;
    return rule == WildcardRule::FileSearch && pattern.size() >= 2 && pattern.ends_with(".*") &&
           plainMatch(pattern.substr(0, pattern.size() - 2), text);
}

std::string_view entryFileName(std::string_view storedName) {
    const std::size_t slash = storedName.rfind('/');
    return slash == std::string_view::npos ? storedName : storedName.substr(slash + 1);
}

} // namespace vellum
