#include "codecs/own/implode_tree.h"

namespace vellum {

bool ImplodeTree::build(std::span<const std::uint8_t> lengths) {
    m_counts.fill(0);
    for (const std::uint8_t length : lengths) {
        if (length == 0 || length > MaximumLength)
            return false;
        ++m_counts[length];
    }
    // Every length doubles the codes available; more codes than that cannot be told apart.
    int available = 1;
    for (unsigned length = 1; length <= MaximumLength; ++length) {
        available = available * 2 - m_counts[length];
        if (available < 0)
            return false;
    }
    std::array<std::uint16_t, MaximumLength + 1> offsets{};
    for (unsigned length = 1; length < MaximumLength; ++length)
        offsets[length + 1] = static_cast<std::uint16_t>(offsets[length] + m_counts[length]);
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol)
        m_symbols[offsets[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
    return true;
}

int ImplodeTree::decode(OlderMethodBitReader& reader) const {
    unsigned code = 0;  // the bits read so far, first bit highest
    unsigned first = 0; // the first code of the current length
    unsigned index = 0; // where the current length's symbols start
    for (unsigned length = 1; length <= MaximumLength; ++length) {
        if (!reader.has(length))
            return NeedBits;
        const unsigned bit = (reader.peek(length) >> (length - 1)) & 1u;
        code = (code << 1) | (bit ^ 1u);
        const unsigned count = m_counts[length];
        if (code - first < count) {
            reader.drop(length);
            return m_symbols[index + code - first];
        }
        index += count;
        first = (first + count) << 1;
    }
    return Invalid;
}

} // namespace vellum
