#include "escaped_text.h"

namespace vellum::platform {

std::string escapedText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte >= 0x20 && byte != 0x7F && byte != '\\') {
            escaped += character;
            continue;
        }
        switch (character) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        case '\t':
            escaped += "\\t";
            break;
        default: {
            static constexpr char hexDigits[] = "0123456789abcdef";
            escaped += "\\x";
            escaped += hexDigits[byte >> 4];
            escaped += hexDigits[byte & 0x0F];
        }
        }
    }
    return escaped;
}

} // namespace vellum::platform
