#include "escaped_text.h"

namespace vellum::platform {

namespace {

// How many bytes at the start of `rest` encode, in UTF-8, a character that drives a terminal or
// turns text around: the C1 controls U+0080 to U+009F (U+009B alone opens a command sequence) and
// the bidirectional embeddings, overrides and isolates U+202A to U+202E and U+2066 to U+2069.
// 0 for anything else.
std::size_t steeringCharacterLength(std::string_view rest) {
    const auto byteAt = [&](std::size_t index) { return static_cast<unsigned char>(rest[index]); };
    if (rest.size() >= 2 && byteAt(0) == 0xC2 && byteAt(1) >= 0x80 && byteAt(1) <= 0x9F)
        return 2;
    if (rest.size() >= 3 && byteAt(0) == 0xE2 &&
        ((byteAt(1) == 0x80 && byteAt(2) >= 0xAA && byteAt(2) <= 0xAE) ||
         (byteAt(1) == 0x81 && byteAt(2) >= 0xA6 && byteAt(2) <= 0xA9)))
        return 3;
    return 0;
}

void appendHexEscape(std::string& escaped, unsigned char byte) {
    static constexpr char hexDigits[] = "0123456789abcdef";
    escaped += "\\x";
    escaped += hexDigits[byte >> 4];
    escaped += hexDigits[byte & 0x0F];
}

} // namespace

std::string escapedText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char character = text[at];
        const auto byte = static_cast<unsigned char>(character);
        if (const std::size_t length = steeringCharacterLength(text.substr(at)); length > 0) {
            for (std::size_t index = 0; index < length; ++index)
                appendHexEscape(escaped, static_cast<unsigned char>(text[at + index]));
            at += length - 1;
            continue;
        }
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
        default:
            appendHexEscape(escaped, byte);
        }
    }
    return escaped;
}

} // namespace vellum::platform
