#pragma once

// The bit buffer of the deflate64 inflater: up to 64 bits taken from the input least significant
// bit first, as deflate packs them. Refilling stops at whole bytes, and the inflater only drops
// bits once a whole step (a code with its extra bits) is in the buffer, so decoding can stop at
// any input boundary and go on when the next piece arrives.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace vellum {

class Deflate64BitReader {
public:
    void clear() {
        m_bits = 0;
        m_count = 0;
    }

    // Moves whole bytes from the front of input into the buffer until it holds at least 57 bits
    // or the input runs out, and shortens input by what it took.
    void refill(std::span<const std::uint8_t>& input) {
        if (input.size() >= 8 && m_count <= 56) {
            std::uint64_t word = 0;
            std::memcpy(&word, input.data(), 8);
            word = toLittleEndian(word);
            m_bits |= word << m_count;
            const unsigned taken = (64 - m_count) / 8;
            input = input.subspan(taken);
            m_count += taken * 8;
            // Bits of the loaded word beyond those whole bytes are not counted and are cleared.
            m_bits &= m_count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << m_count) - 1;
            return;
        }
        while (m_count <= 56 && !input.empty()) {
            m_bits |= std::uint64_t{input.front()} << m_count;
            m_count += 8;
            input = input.subspan(1);
        }
    }

    // Takes back a buffer that was worked on elsewhere, which may hold stray bits above count.
    void restore(std::uint64_t bits, unsigned count) {
        m_bits = count == 64 ? bits : bits & ((std::uint64_t{1} << count) - 1);
        m_count = count;
    }

    std::uint64_t bits() const { return m_bits; }
    unsigned count() const { return m_count; }
    std::uint32_t peek(unsigned width) const {
        return static_cast<std::uint32_t>(m_bits & ((std::uint64_t{1} << width) - 1));
    }
    void drop(unsigned width) {
        m_bits = width == 64 ? 0 : m_bits >> width;
        m_count -= width;
    }
    // Skips the bits left in the current byte, as a stored block's header asks.
    void alignToByte() { drop(m_count % 8); }

    static std::uint64_t toLittleEndian(std::uint64_t word) {
        if constexpr (std::endian::native == std::endian::big)
            return __builtin_bswap64(word);
        return word;
    }

private:
    std::uint64_t m_bits = 0;
    unsigned m_count = 0;
};

} // namespace vellum
