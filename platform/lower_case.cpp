#include "lower_case.h"

#include <algorithm>
#include <iterator>

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

struct Lowering {
    char32_t codePoint;
    char32_t lowered;
    char32_t loweredSecond;
};

// Qt's lower case, which the window has always shown names in, kept as data so that lowering
// needs no Qt at all.
constexpr Lowering lowerings[] = {
#include "lower_case_table.inc"
};
static_assert(std::ranges::is_sorted(lowerings, {}, &Lowering::codePoint));

char32_t decodedAt(std::string_view text, std::size_t at, std::size_t length) {
    const auto byteAt = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    if (length == 1)
        return byteAt(at);
    char32_t codePoint = byteAt(at) & (0x7Fu >> length);
    for (std::size_t index = 1; index < length; ++index)
        codePoint = (codePoint << 6) | (byteAt(at + index) & 0x3Fu);
    return codePoint;
}

void appendUtf8(std::string& text, char32_t codePoint) {
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | (codePoint >> 6));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | (codePoint >> 12));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (codePoint >> 18));
        text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

void appendLowered(std::string& text, char32_t codePoint) {
    if (codePoint >= 'A' && codePoint <= 'Z') {
        text += static_cast<char>(codePoint - 'A' + 'a');
        return;
    }
    const auto* found = std::ranges::lower_bound(lowerings, codePoint, {}, &Lowering::codePoint);
    if (found == std::end(lowerings) || found->codePoint != codePoint) {
        appendUtf8(text, codePoint);
        return;
    }
    appendUtf8(text, found->lowered);
    if (found->loweredSecond != 0)
        appendUtf8(text, found->loweredSecond);
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
    // A byte-order mark that opens the text is dropped, as Qt's decoding of UTF-8 always dropped it.
    static constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    std::size_t at = text.starts_with(byteOrderMark) ? byteOrderMark.size() : 0;
    std::string lowered;
    lowered.reserve(text.size());
    while (at < text.size()) {
        const std::size_t length = utf8SequenceLength(text, at);
        appendLowered(lowered, decodedAt(text, at, length));
        at += length;
    }
    return lowered;
}

} // namespace vellum::platform
