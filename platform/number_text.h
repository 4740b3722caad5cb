#pragma once

// Numbers as the status line and the reports write them.

#include <cstdint>
#include <string>

namespace vellum::platform {

// Decimal digits preceded by one blank, or by '-' when negative: 12 gives " 12", -3 gives "-3".
std::string numberText(std::int64_t value);

} // namespace vellum::platform
