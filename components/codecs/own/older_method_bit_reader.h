#pragma once

// The bit reader shared by the Shrink, Reduce and Implode decoders. All three pack their codes
// LSB-first and have no end marker, and all three must accept their input in arbitrary pieces.
// The reader keeps up to 64 bits in an accumulator; a decoder takes a mark before each symbol and
// rewinds to it when the accumulator runs dry half-way, so that a symbol is either decoded whole or
// not at all and no partial state has to survive between calls.

#include <cstddef>
#include <cstdint>
#include <span>

namespace vellum {

class OlderMethodBitReader {
public:
    struct Mark {
        std::uint64_t bits = 0;
        unsigned count = 0;
    };

    void reset() {
        m_bits = 0;
        m_count = 0;
    }

    // Moves whole bytes of input into the accumulator while they fit; returns how many it took.
    std::size_t fill(std::span<const std::uint8_t> input) {
        std::size_t taken = 0;
        while (m_count <= 56 && taken < input.size()) {
            m_bits |= std::uint64_t{input[taken]} << m_count;
            m_count += 8;
            ++taken;
        }
        return taken;
    }

    bool has(unsigned count) const { return m_count >= count; }

    // The next count bits (count at most 32), without using them. Only valid after has(count).
    std::uint32_t peek(unsigned count) const {
        return static_cast<std::uint32_t>(m_bits & ((std::uint64_t{1} << count) - 1));
    }

    void drop(unsigned count) {
        m_bits >>= count;
        m_count -= count;
    }

    // Takes count bits into value; false, taking nothing, when fewer are buffered.
    bool take(unsigned count, std::uint32_t& value) {
        if (m_count < count)
            return false;
        value = peek(count);
        drop(count);
        return true;
    }

    Mark mark() const { return {m_bits, m_count}; }
    void rewind(const Mark& mark) {
        m_bits = mark.bits;
        m_count = mark.count;
    }

    // Whole bytes taken from the input but not used. The bits of a partly used byte are padding
    // of the last code, which every writer of these formats leaves when its codes end mid-byte.
    std::size_t unusedBytes() const { return m_count / 8; }

private:
    std::uint64_t m_bits = 0;
    unsigned m_count = 0;
};

} // namespace vellum
