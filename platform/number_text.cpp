#include "number_text.h"

namespace vellum::platform {

std::string numberText(std::int64_t value) {
    // Negative numbers carry their sign where the blank would stand.
    return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

} // namespace vellum::platform
