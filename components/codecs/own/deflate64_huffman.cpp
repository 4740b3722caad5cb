#include "codecs/own/deflate64_huffman.h"

#include <algorithm>

namespace vellum {

bool Deflate64Huffman::build(std::span<const std::uint8_t> lengths, Kind kind) {
    if (lengths.size() > MaximumSymbols)
        return false;
    m_lengthCounts.fill(0);
    m_fast.fill(0);
    for (const std::uint8_t length : lengths) {
        if (length > MaximumLength)
            return false;
        ++m_lengthCounts[length];
    }
    m_lengthCounts[0] = 0;

    unsigned longest = 0;
    for (unsigned length = 1; length <= MaximumLength; ++length) {
        if (m_lengthCounts[length] != 0)
            longest = length;
    }
    // Count the code space left after each length: below zero the lengths over-subscribe it.
    int left = 1;
    for (unsigned length = 1; length <= MaximumLength; ++length) {
        left = left * 2 - m_lengthCounts[length];
        if (left < 0)
            return false;
    }
    if (longest != 0 && left > 0 && (kind == Kind::CodeLengths || longest != 1))
        return false;

    // The first canonical code of each length, and where its symbols start in code order.
    std::array<std::uint16_t, MaximumLength + 2> offsets{};
    std::array<std::uint32_t, MaximumLength + 1> nextCode{};
    std::uint32_t code = 0;
    for (unsigned length = 1; length <= MaximumLength; ++length) {
        offsets[length + 1] = static_cast<std::uint16_t>(offsets[length] + m_lengthCounts[length]);
        code = (code + m_lengthCounts[length - 1]) << 1;
        nextCode[length] = code;
    }
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
        const unsigned length = lengths[symbol];
        if (length == 0)
            continue;
        m_sortedSymbols[offsets[length]++] = static_cast<std::uint16_t>(symbol);
        if (length > FastBits) {
            ++nextCode[length];
            continue;
        }
        // Deflate sends a code's most significant bit first into a buffer read from its low end,
        // so the table is indexed by the code reversed, repeated for every value of the bits above.
        const std::uint32_t canonical = nextCode[length]++;
        std::uint32_t reversed = 0;
        for (unsigned bit = 0; bit < length; ++bit)
            reversed |= ((canonical >> bit) & 1u) << (length - 1 - bit);
        const auto entry = static_cast<std::uint16_t>(length << LengthShift | symbol);
        for (std::uint32_t index = reversed; index < FastSize; index += 1u << length)
            m_fast[index] = entry;
    }
    return true;
}

int Deflate64Huffman::decodeLong(std::uint64_t bits, unsigned available, unsigned& length) const {
    // Walk the canonical code: at each length the codes of that length are the `count` values
    // starting at `first`, and their symbols follow `index` in code order.
    std::uint32_t code = 0;
    std::uint32_t first = 0;
    std::uint32_t index = 0;
    for (unsigned bitLength = 1; bitLength <= MaximumLength; ++bitLength) {
        if (bitLength > available)
            return NeedsBits;
        code |= static_cast<std::uint32_t>(bits >> (bitLength - 1)) & 1u;
        const std::uint32_t count = m_lengthCounts[bitLength];
        if (code - first < count) {
            length = bitLength;
            return m_sortedSymbols[index + code - first];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return InvalidCode;
}

} // namespace vellum
