#pragma once

// The range decoder of PPMd variant I as zip method 98 uses it: a carry-less coder that works on
// 32 bits and renormalises a byte at a time whenever the top byte of the interval is settled or the
// range falls below 2^15. It reads from a span that the caller refills between symbols; reading
// past the span gives zero bytes and is recorded, so that a stream cut short is noticed.

#include <cstdint>

namespace vellum {

class PpmdRangeDecoder {
public:
    void setInput(const std::uint8_t* next, const std::uint8_t* end) {
        m_next = next;
        m_end = end;
    }
    const std::uint8_t* position() const { return m_next; }
    bool overrun() const { return m_overrun; }
    bool failed() const { return m_failed; }

    void start() {
        m_low = 0;
        m_range = 0xFFFFFFFF;
        m_code = 0;
        m_overrun = false;
        m_failed = false;
        for (int index = 0; index < 4; ++index)
            m_code = (m_code << 8) | readByte();
        // A code of all ones cannot come from any interval the coder produces.
        m_failed = m_code == 0xFFFFFFFF;
    }

    // Scales the range to total and returns where the code falls in it.
    std::uint32_t threshold(std::uint32_t total) {
        scale(total);
        return count();
    }

    // The same in two steps, for a caller that can often do without the second division: below()
    // tells whether the count would fall under high (at most total) by comparing the code with the
    // scaled bound.
    void scale(std::uint32_t total) {
        m_range = total != 0 ? m_range / total : 0;
        m_failed = m_failed || m_range == 0;
    }
    bool below(std::uint32_t high) const { return m_code < m_range * high; }
    std::uint32_t count() const { return m_range != 0 ? m_code / m_range : 0xFFFFFFFF; }

    // The same for a binary context's probability, which is scaled to 2^14: whether the code falls
    // below it. Comparing the code with the scaled probability gives the answer a division would.
    bool binaryBelow(std::uint32_t probability) {
        m_range >>= 14;
        return m_code < m_range * probability;
    }

    void decode(std::uint32_t start, std::uint32_t size) {
        start *= m_range;
        m_low += start;
        m_code -= start;
        m_range *= size;
        normalize();
    }

private:
    static constexpr std::uint32_t Top = 1u << 24;
    static constexpr std::uint32_t Bottom = 1u << 15;

    std::uint8_t readByte() {
        if (m_next < m_end)
            return *m_next++;
        m_overrun = true;
        return 0;
    }

    void normalize() {
        for (;;) {
            if ((m_low ^ (m_low + m_range)) >= Top) {
                if (m_range >= Bottom)
                    return;
                m_range = (0u - m_low) & (Bottom - 1);
            }
            // An empty range can only come from a damaged stream; it would never widen again.
            if (m_range == 0) {
                m_failed = true;
                return;
            }
            m_code = (m_code << 8) | readByte();
            m_range <<= 8;
            m_low <<= 8;
        }
    }

    std::uint32_t m_low = 0;
    std::uint32_t m_range = 0;
    std::uint32_t m_code = 0;
    const std::uint8_t* m_next = nullptr;
    const std::uint8_t* m_end = nullptr;
    bool m_overrun = false;
    bool m_failed = false;
};

} // namespace vellum
