#pragma once

#include <cstdint>

namespace vellum {

// Dispatch IDs of the progress bar and the folder picker.
namespace ProgressBarDispatchId {
inline constexpr std::int32_t Position = 5;
}

namespace BrowseDialogDispatchId {
inline constexpr std::int32_t Browse = 0x6003001A;
inline constexpr std::int32_t ChosenFolder = 0x68030002;
inline constexpr std::int32_t SelectionText = 0x6803000B;
} // namespace BrowseDialogDispatchId

} // namespace vellum
