#pragma once

// Deterministic contents for test archives.

#include <cstddef>
#include <string>

namespace vellum::testing {

// Text that deflate compresses well but not to nothing.
inline std::string sampleText(std::size_t length, unsigned seed = 1) {
    static const char* const words[] = {"archive ", "entry ",  "central ", "directory ", "local ", "header ",
                                        "deflate ", "stored ", "crc ",     "zip64 ",     "\n",     "data "};
    std::string text;
    unsigned state = seed;
    while (text.size() < length) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % 12];
    }
    text.resize(length);
    return text;
}

// Bytes that do not compress.
inline std::string sampleBinary(std::size_t length, unsigned seed = 7) {
    std::string bytes(length, '\0');
    unsigned state = seed;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

} // namespace vellum::testing
