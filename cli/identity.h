#pragma once

#include "vellum_version.h"

// The program's names, version texts and the addresses its Help menu hands out.

namespace vellum::identity {

inline constexpr const char* programTitle = "Vellum";
inline constexpr const char* fileVersion = VELLUM_VERSION;
inline constexpr const char* productName = "Quillon";
inline constexpr const char* fileDescription = "Zip tester does whole drives or dir's with all sub-dirs";
inline constexpr const char* authorEmail = "vellum@vellum-tester.org";
inline constexpr const char* homePageUrl = "https://www.vellum-tester.org:443/vellum/";

} // namespace vellum::identity
