#pragma once

// Reads the little-endian numbers zip records are made of from a span of bytes. Parsers ask
// need(n) once before reading a record's fixed part, and report a truncation when it says no. The
// reads themselves never step outside the span either: past the end they give zero and mark the
// reader as overrun, so a parser mistake turns into a wrong value, never into a stray memory access.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace vellum {

class LittleEndianReader {
public:
    explicit LittleEndianReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool need(std::size_t count) const { return count <= remaining(); }
    std::size_t remaining() const { return m_bytes.size() - m_position; }
    std::size_t position() const { return m_position; }
    bool overran() const { return m_overran; }

    std::uint16_t u16() { return static_cast<std::uint16_t>(number<2>()); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(number<4>()); }
    std::uint64_t u64() { return number<8>(); }

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
    // A fixed width, so that the bytes are read with one load.
    template <std::size_t Width> std::uint64_t number() {
        if (!need(Width)) {
            m_overran = true;
            m_position = m_bytes.size();
            return 0;
        }
        const std::uint8_t* bytes = m_bytes.data() + m_position;
        m_position += Width;
        std::uint64_t value = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&value, bytes, Width);
        } else {
            for (std::size_t index = 0; index < Width; ++index)
                value |= std::uint64_t{bytes[index]} << (8 * index);
        }
        return value;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
    bool m_overran = false;
};

} // namespace vellum
