#pragma once

// The file names of a split archive's parts. Info-ZIP's zip -s writes the parts of NAME.zip as
// NAME.z01, NAME.z02, ... (two digits, more from the hundredth part on), and the .zip itself is the
// last part, the one holding the end records. Parts are numbered from 1, so part n lies on disk
// n - 1 of the set.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellum {

// The file name (without its folder) of part number part of the archive at archivePath: "NAME.z02"
// for part 2 of "/any/folder/NAME.zip". An upper-case extension (NAME.ZIP) gives upper-case part
// names (NAME.Z02).
std::string splitPartName(std::string_view archivePath, std::uint32_t part);

// The number of the part that fileName names, when it names one of the archive's parts, ignoring
// ASCII case; std::nullopt for every other name (the archive's own included).
std::optional<std::uint32_t> splitPartNumber(std::string_view archivePath, std::string_view fileName);

} // namespace vellum
