#include "lower_case.h"

#include <QByteArray>
#include <QString>

namespace vellum::platform {

namespace {

// Decodes one UTF-8 sequence starting at `at`; answers its length, or 0 when it is not well formed
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byteAt = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byteAt(at);
    std::size_t length = 0;
    char32_t codePoint = 0;
    char32_t smallest = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t index = 1; index < length; ++index) {
        const unsigned char continuation = byteAt(at + index);
        if ((continuation & 0xC0u) != 0x80u)
            return 0;
        codePoint = (codePoint << 6) | (continuation & 0x3Fu);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string lowerAsciiOnly(std::string_view text) {
    std::string lowered(text);
    for (char& character : lowered) {
        if (character >= 'A' && character <= 'Z')
            character = static_cast<char>(character - 'A' + 'a');
    }
    return lowered;
}

} // namespace

std::string lowerCase(std::string_view text) {
    bool isAscii = true;
    for (const char character : text) {
        if (static_cast<unsigned char>(character) >= 0x80) {
            isAscii = false;
            break;
        }
    }
    // Most names are plain ASCII; they need no decoding at all.
    if (isAscii || !isValidUtf8(text))
        return lowerAsciiOnly(text);
    const QByteArray lowered =
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toLower().toUtf8();
    return std::string(lowered.constData(), static_cast<std::size_t>(lowered.size()));
}

} // namespace vellum::platform
