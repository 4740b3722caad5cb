#include "codecs/own/implode_codec.h"

namespace vellum {

namespace {

constexpr std::uint16_t FlagLargeWindow = 0x0002;
constexpr std::uint16_t FlagLiteralTree = 0x0004;

// The length code that takes one more raw byte.
constexpr int LengthEscape = 63;

} // namespace

ImplodeCodec::ImplodeCodec(std::span<std::uint8_t> outputBuffer) : m_output(outputBuffer) {}

bool ImplodeCodec::reset(const CodecEntry& entry) {
    m_literalTree = (entry.flags & FlagLiteralTree) != 0;
    m_distanceLowBits = (entry.flags & FlagLargeWindow) != 0 ? 7 : 6;
    m_minimumLength = m_literalTree ? 3 : 2;
    m_reader.reset();
    m_history.reset(entry.uncompressedSize);
    m_treesRead = m_literalTree ? 0 : 1;
    m_treeBytesLeft = 0;
    m_lengthsFilled = 0;
    return true;
}

CodecStep ImplodeCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    return runOlderMethodDecode(m_reader, m_history, input, m_output, outputLimit,
                                [this] { return m_treesRead < 3 ? readTreeByte() : decodeItem(); });
}

// One byte of a tree description per call. Tree 0 is the literal tree (256 symbols), trees 1 and
// 2 the length and distance trees (64 symbols each).
OlderMethodStep ImplodeCodec::readTreeByte() {
    std::uint32_t value = 0;
    if (!m_reader.take(8, value))
        return OlderMethodStep::NeedBits;
    const std::size_t symbols = m_treesRead == 0 ? 256 : 64;
    if (m_treeBytesLeft == 0) {
        m_treeBytesLeft = value + 1;
        m_lengthsFilled = 0;
        return OlderMethodStep::Done;
    }
    const std::size_t run = (value >> 4) + 1;
    const auto length = static_cast<std::uint8_t>((value & 0x0F) + 1);
    if (m_lengthsFilled + run > symbols)
        return OlderMethodStep::Damaged;
    for (std::size_t index = 0; index < run; ++index)
        m_codeLengths[m_lengthsFilled++] = length;
    if (--m_treeBytesLeft > 0)
        return OlderMethodStep::Done;
    if (m_lengthsFilled != symbols)
        return OlderMethodStep::Damaged;
    ImplodeTree& tree = m_treesRead == 0 ? m_literals : m_treesRead == 1 ? m_lengths : m_distances;
    if (!tree.build(std::span<const std::uint8_t>(m_codeLengths).first(symbols)))
        return OlderMethodStep::Damaged;
    ++m_treesRead;
    return OlderMethodStep::Done;
}

// One literal or one match. Every field is read before anything is written, so that a symbol cut
// short by the end of the input can be rewound and decoded again whole.
OlderMethodStep ImplodeCodec::decodeItem() {
    std::uint32_t isLiteral = 0;
    if (!m_reader.take(1, isLiteral))
        return OlderMethodStep::NeedBits;
    if (isLiteral != 0) {
        std::uint32_t value = 0;
        if (m_literalTree) {
            const int symbol = m_literals.decode(m_reader);
            if (symbol < 0)
                return symbol == ImplodeTree::NeedBits ? OlderMethodStep::NeedBits : OlderMethodStep::Damaged;
            value = static_cast<std::uint32_t>(symbol);
        } else if (!m_reader.take(8, value)) {
            return OlderMethodStep::NeedBits;
        }
        m_history.put(static_cast<std::uint8_t>(value));
        return OlderMethodStep::Done;
    }
    std::uint32_t low = 0;
    if (!m_reader.take(m_distanceLowBits, low))
        return OlderMethodStep::NeedBits;
    const int high = m_distances.decode(m_reader);
    if (high < 0)
        return high == ImplodeTree::NeedBits ? OlderMethodStep::NeedBits : OlderMethodStep::Damaged;
    const int lengthCode = m_lengths.decode(m_reader);
    if (lengthCode < 0)
        return lengthCode == ImplodeTree::NeedBits ? OlderMethodStep::NeedBits : OlderMethodStep::Damaged;
    std::uint32_t extra = 0;
    if (lengthCode == LengthEscape && !m_reader.take(8, extra))
        return OlderMethodStep::NeedBits;
    const std::size_t distance = ((static_cast<std::size_t>(high) << m_distanceLowBits) | low) + 1;
    m_history.queueCopy(distance, static_cast<std::size_t>(lengthCode) + extra + m_minimumLength);
    return OlderMethodStep::Done;
}

} // namespace vellum
