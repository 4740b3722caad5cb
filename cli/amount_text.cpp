#include "amount_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace vellum {

std::string byteAmountText(std::uint64_t bytes) {
    if (bytes < 1000)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr std::array<const char*, 6> Units{"kB", "MB", "GB", "TB", "PB", "EB"};
    double amount = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    // 999.96 kB would be written as 1000.0 kB: it is 1.0 MB.
    while (amount >= 999.95 && unit + 1 < Units.size()) {
        amount /= 1000.0;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f %s", amount, Units[unit]);
    return text.data();
}

std::string runTimeText(double seconds) {
    seconds = std::max(seconds, 0.0);
    const long long whole = std::llround(seconds);
    std::array<char, 48> text{};
    if (seconds < 59.95)
        std::snprintf(text.data(), text.size(), "%.1f s", seconds);
    else if (whole < 3600)
        std::snprintf(text.data(), text.size(), "%lld min %lld s", whole / 60, whole % 60);
    else
        std::snprintf(text.data(), text.size(), "%lld h %lld min", whole / 3600, whole / 60 % 60);
    return text.data();
}

std::string clockTimeText(double seconds) {
    const long long whole = std::llround(std::max(seconds, 0.0));
    std::array<char, 48> text{};
    if (whole < 3600)
        std::snprintf(text.data(), text.size(), "%lld:%02lld", whole / 60, whole % 60);
    else
        std::snprintf(text.data(), text.size(), "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    return text.data();
}

} // namespace vellum
