#pragma once

// Reads the little-endian numbers zip records are made of from a span of bytes. Parsers ask
// need(n) once before reading a record's fixed part, and report a truncation when it says no. The
// reads themselves never step outside the span either: past the end they give zero and mark the
// reader as overrun, so a parser mistake turns into a wrong value, never into a stray memory access.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vellum {

class LittleEndianReader {
public:
    explicit LittleEndianReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool need(std::size_t count) const { return count <= remaining(); }
    std::size_t remaining() const { return m_bytes.size() - m_position; }
    std::size_t position() const { return m_position; }
    bool overran() const { return m_overran; }

    std::uint16_t u16() { return static_cast<std::uint16_t>(number(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(number(4)); }
    std::uint64_t u64() { return number(8); }

    std::span<const std::uint8_t> take(std::size_t count) {
        if (!need(count)) {
            m_overran = true;
            m_position = m_bytes.size();
            return {};
        }
        const std::span<const std::uint8_t> part = m_bytes.subspan(m_position, count);
        m_position += count;
        return part;
    }

    void skip(std::size_t count) { take(count); }

private:
    std::uint64_t number(std::size_t width) {
        const std::span<const std::uint8_t> part = take(width);
        std::uint64_t value = 0;
        for (std::size_t index = part.size(); index > 0; --index)
            value = (value << 8) | part[index - 1];
        return value;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
    bool m_overran = false;
};

} // namespace vellum
