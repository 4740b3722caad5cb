#include "codecs/own/reduce_codec.h"

namespace vellum {

namespace {

constexpr std::uint8_t Dle = 144;

// Bits of a follower-set index: enough to number count entries, but at least one.
std::uint8_t indexBitsFor(unsigned count) {
    std::uint8_t bits = 1;
    while ((1u << bits) < count)
        ++bits;
    return bits;
}

} // namespace

ReduceCodec::ReduceCodec(std::span<std::uint8_t> outputBuffer) : m_output(outputBuffer) {}

bool ReduceCodec::reset(const CodecEntry& entry) {
    if (entry.method < 2 || entry.method > 5)
        return false;
    m_factor = entry.method - 1u;
    m_reader.reset();
    m_history.reset(entry.uncompressedSize);
    m_setsRead = 0;
    m_setPosition = -1;
    m_last = 0;
    m_expand = Expand::Literal;
    m_lengthCode = 0;
    m_length = 0;
    return true;
}

CodecStep ReduceCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    return runOlderMethodDecode(m_reader, m_history, input, m_output, outputLimit,
                                [this] { return m_setsRead < 256 ? readFollowerSets() : decodeSymbol(); });
}

// One field of the follower sets per call: a 6-bit count or one 8-bit member.
OlderMethodStep ReduceCodec::readFollowerSets() {
    FollowerSet& set = m_sets[255 - m_setsRead];
    std::uint32_t value = 0;
    if (m_setPosition < 0) {
        if (!m_reader.take(6, value))
            return OlderMethodStep::NeedBits;
        if (value > set.bytes.size())
            return OlderMethodStep::Damaged;
        set.count = static_cast<std::uint8_t>(value);
        set.indexBits = indexBitsFor(value);
        m_setPosition = 0;
    } else {
        if (!m_reader.take(8, value))
            return OlderMethodStep::NeedBits;
        set.bytes[static_cast<std::size_t>(m_setPosition++)] = static_cast<std::uint8_t>(value);
    }
    if (m_setPosition == set.count) {
        ++m_setsRead;
        m_setPosition = -1;
    }
    return OlderMethodStep::Done;
}

OlderMethodStep ReduceCodec::decodeSymbol() {
    const FollowerSet& set = m_sets[m_last];
    std::uint32_t value = 0;
    if (set.count == 0) {
        if (!m_reader.take(8, value))
            return OlderMethodStep::NeedBits;
    } else {
        std::uint32_t literal = 0;
        if (!m_reader.take(1, literal))
            return OlderMethodStep::NeedBits;
        if (literal != 0) {
            if (!m_reader.take(8, value))
                return OlderMethodStep::NeedBits;
        } else {
            std::uint32_t index = 0;
            if (!m_reader.take(set.indexBits, index))
                return OlderMethodStep::NeedBits;
            if (index >= set.count)
                return OlderMethodStep::Damaged;
            value = set.bytes[index];
        }
    }
    m_last = static_cast<std::uint8_t>(value);
    expand(m_last);
    return OlderMethodStep::Done;
}

// The run expander. At most one byte is written here; a back reference is queued and copied by
// the call loop, which has room for it over as many calls as it takes.
void ReduceCodec::expand(std::uint8_t value) {
    const unsigned lengthMask = 0xFFu >> m_factor;
    switch (m_expand) {
    case Expand::Literal:
        if (value == Dle)
            m_expand = Expand::AfterDle;
        else
            m_history.put(value);
        return;
    case Expand::AfterDle:
        if (value == 0) {
            m_history.put(Dle);
            m_expand = Expand::Literal;
            return;
        }
        m_lengthCode = value;
        m_length = value & lengthMask;
        m_expand = m_length == lengthMask ? Expand::LengthByte : Expand::DistanceByte;
        return;
    case Expand::LengthByte:
        m_length += value;
        m_expand = Expand::DistanceByte;
        return;
    case Expand::DistanceByte: {
        const std::size_t distance = ((m_lengthCode >> (8 - m_factor)) << 8) + value + 1u;
        m_history.queueCopy(distance, m_length + 3u);
        m_expand = Expand::Literal;
        return;
    }
    }
}

} // namespace vellum
