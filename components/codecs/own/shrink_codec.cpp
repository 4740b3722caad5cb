#include "codecs/own/shrink_codec.h"

#include <algorithm>

namespace vellum {

namespace {

constexpr unsigned ControlCode = 256;
constexpr unsigned FirstFreeCode = 257;
constexpr unsigned MaximumCodeSize = 13;

} // namespace

ShrinkCodec::ShrinkCodec(std::span<std::uint8_t> outputBuffer) : m_output(outputBuffer) {}

bool ShrinkCodec::reset(const CodecEntry& entry) {
    m_reader.reset();
    m_used.fill(false);
    for (unsigned code = 0; code < ControlCode; ++code) {
        m_used[code] = true;
        m_suffix[code] = static_cast<std::uint8_t>(code);
    }
    m_used[ControlCode] = true;
    m_stringLength = 0;
    m_stringStart = 0;
    m_codeSize = 9;
    m_freeCode = FirstFreeCode;
    m_previousCode = -1;
    m_produced = 0;
    m_total = entry.uncompressedSize;
    return true;
}

CodecStep ShrinkCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    const std::size_t limit = std::min(outputLimit, m_output.size());
    std::size_t written = 0;
    std::size_t position = 0;
    CodecStep step;
    for (;;) {
        // Write out the current string as far as the output and the declared size allow.
        const std::size_t pending =
            std::min<std::uint64_t>(m_stringLength - m_stringStart, m_total - m_produced);
        const std::size_t count = std::min(pending, limit - written);
        std::copy_n(m_string.data() + m_stringStart, count, m_output.data() + written);
        m_stringStart += count;
        written += count;
        m_produced += count;
        if (m_produced == m_total) {
            step.state = CodecState::Finished;
            step.unusedInput = m_reader.unusedBytes() + (input.size() - position);
            break;
        }
        if (written == limit) {
            step.state = CodecState::OutputFull;
            break;
        }
        position += m_reader.fill(input.subspan(position));
        const OlderMethodBitReader::Mark mark = m_reader.mark();
        const Step result = decodeCode();
        if (result == Step::Damaged) {
            step.state = CodecState::Damaged;
            break;
        }
        if (result == Step::NeedBits) {
            m_reader.rewind(mark);
            // Two codes of 13 bits fit in what the reader holds whenever input is left.
            step.state = position < input.size() ? CodecState::Damaged : CodecState::NeedsInput;
            break;
        }
    }
    step.consumed = position;
    step.output = std::span<const std::uint8_t>(m_output.data(), written);
    return step;
}

// Reads one code, with its control code when it is 256, and leaves its string in m_string.
ShrinkCodec::Step ShrinkCodec::decodeCode() {
    std::uint32_t code = 0;
    if (!m_reader.take(m_codeSize, code))
        return Step::NeedBits;
    if (code == ControlCode) {
        std::uint32_t control = 0;
        if (!m_reader.take(m_codeSize, control))
            return Step::NeedBits;
        if (control == 1) {
            if (++m_codeSize > MaximumCodeSize)
                return Step::Damaged;
        } else if (control == 2) {
            partialClear();
        } else {
            return Step::Damaged;
        }
        return Step::Done;
    }
    if (m_previousCode < 0) {
        // The first code has no string before it to extend.
        if (code >= ControlCode)
            return Step::Damaged;
        m_string[0] = static_cast<std::uint8_t>(code);
        m_stringLength = 1;
    } else if (m_used[code]) {
        if (!expand(code))
            return Step::Damaged;
    } else if (code == m_freeCode) {
        // The code being defined by this very step: the previous string plus its own first byte.
        if (m_stringLength >= m_string.size())
            return Step::Damaged;
        m_string[m_stringLength++] = m_string[0];
    } else {
        return Step::Damaged;
    }
    m_stringStart = 0;
    if (m_previousCode >= 0 && m_freeCode < CodeCount) {
        m_prefix[m_freeCode] = static_cast<std::uint16_t>(m_previousCode);
        m_suffix[m_freeCode] = m_string[0];
        m_used[m_freeCode] = true;
        advanceFreeCode();
    }
    m_previousCode = static_cast<int>(code);
    return Step::Done;
}

// Writes the string of code into m_string by following its prefixes back to a byte value. A
// partial clear keeps the prefix and suffix of a freed code, so a code defined on a freed prefix
// still spells what the writer meant; a chain longer than the table can only be a loop, which
// damaged data can create.
bool ShrinkCodec::expand(unsigned code) {
    std::size_t length = 1;
    for (unsigned walk = code; walk > ControlCode; walk = m_prefix[walk]) {
        if (++length > m_string.size())
            return false;
    }
    m_stringLength = length;
    unsigned walk = code;
    for (std::size_t index = length; index-- > 0;) {
        m_string[index] = m_suffix[walk];
        walk = m_prefix[walk];
    }
    return true;
}

// Frees every code that is no other code's prefix; the byte values and the control code stay.
void ShrinkCodec::partialClear() {
    std::array<bool, CodeCount> isPrefix{};
    for (unsigned code = FirstFreeCode; code < CodeCount; ++code) {
        if (m_used[code])
            isPrefix[m_prefix[code]] = true;
    }
    for (unsigned code = FirstFreeCode; code < CodeCount; ++code) {
        if (m_used[code] && !isPrefix[code])
            m_used[code] = false;
    }
    m_freeCode = FirstFreeCode;
    if (m_used[m_freeCode])
        advanceFreeCode();
}

void ShrinkCodec::advanceFreeCode() {
    do
        ++m_freeCode;
    while (m_freeCode < CodeCount && m_used[m_freeCode]);
}

} // namespace vellum
