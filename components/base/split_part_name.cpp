#include "base/split_part_name.h"

#include <charconv>

namespace vellum {

namespace {

std::string_view fileNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The name without its extension: the parts replace the extension, whatever it was.
std::string_view stemOf(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

char lowerAscii(char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
}

bool equalIgnoringCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size())
        return false;
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (lowerAscii(left[index]) != lowerAscii(right[index]))
            return false;
    }
    return true;
}

std::string twoDigitsAtLeast(std::uint32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 2)
        digits.insert(0, 1, '0');
    return digits;
}

} // namespace

std::string splitPartName(std::string_view archivePath, std::uint32_t part) {
    const std::string_view fileName = fileNameOf(archivePath);
    const std::string_view stem = stemOf(fileName);
    const bool upperCase =
        fileName.size() > stem.size() + 1 && fileName.back() >= 'A' && fileName.back() <= 'Z';
    std::string name(stem);
    name += upperCase ? ".Z" : ".z";
    name += twoDigitsAtLeast(part);
    return name;
}

std::optional<std::uint32_t> splitPartNumber(std::string_view archivePath, std::string_view fileName) {
    const std::string_view stem = stemOf(fileNameOf(archivePath));
    if (fileName.size() < stem.size() + 4 || !equalIgnoringCase(fileName.substr(0, stem.size()), stem) ||
        fileName[stem.size()] != '.' || lowerAscii(fileName[stem.size() + 1]) != 'z')
        return std::nullopt;
    const std::string_view digits = fileName.substr(stem.size() + 2);
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    // Only the one spelling of each number: "z1" or "z001" are other files.
    if (error != std::errc() || end != digits.data() + digits.size() || number == 0 ||
        twoDigitsAtLeast(number) != digits)
        return std::nullopt;
    return number;
}

} // namespace vellum
