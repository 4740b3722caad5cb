#pragma once

// One canonical Huffman code of the deflate family (RFC 1951, 3.2.2), built from its code lengths
// and decoded from a little-endian bit buffer. Codes of up to FastBits bits, which are nearly all
// of them in practice, are found with one table lookup; the rare longer ones are found by walking
// the canonical code one bit at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vellum {

class Deflate64Huffman {
public:
    static constexpr unsigned MaximumLength = 15;
    static constexpr unsigned MaximumSymbols = 288;
    static constexpr int NeedsBits = -1;   // the bits available do not reach the end of the code
    static constexpr int InvalidCode = -2; // no symbol has this code (an incomplete code)
    // Eleven bits cover every code of text-like data: a table of 2048 entries, 4 KiB, stays in the
    // first-level cache beside the distance table.
    static constexpr unsigned FastBits = 11;
    static constexpr std::size_t FastSize = std::size_t{1} << FastBits;
    static constexpr unsigned LengthShift = 9;
    static constexpr std::uint16_t SymbolMask = (1u << LengthShift) - 1;

    // How strict to be about a code that does not use every bit pattern. The code-length code
    // must be complete; the literal/length and distance codes may be incomplete only when they
    // hold a single code of one bit (a block with one distance, or with just its end), and may be
    // empty. These are the rules zlib applies, so both accept the same streams.
    enum class Kind { CodeLengths, Symbols };

    // False when the lengths over-subscribe the code space, or leave part of it unused where Kind
    // does not allow that.
    bool build(std::span<const std::uint8_t> lengths, Kind kind);

    // The symbol whose code starts the low `available` bits of `bits`, with its code length in
    // `length`; or NeedsBits, or InvalidCode.
    int decode(std::uint64_t bits, unsigned available, unsigned& length) const {
        const std::uint16_t entry = m_fast[bits & (FastSize - 1)];
        const unsigned fastLength = entry >> LengthShift;
        if (fastLength == 0)
            return decodeLong(bits, available, length);
        if (fastLength > available)
            return NeedsBits;
        length = fastLength;
        return entry & SymbolMask;
    }

    // The fast table's entry for the low FastBits bits of bits: the symbol in the low 9 bits and
    // the code's length above, or 0 when the code is longer or no code starts with these bits.
    std::uint16_t fastEntry(std::uint64_t bits) const { return m_fast[bits & (FastSize - 1)]; }

private:
    int decodeLong(std::uint64_t bits, unsigned available, unsigned& length) const;

    // Fast table entries: symbol in the low 9 bits, code length above; 0 sends the lookup to the
    // bit-by-bit walk (a longer code, or a pattern no code has).
    std::array<std::uint16_t, FastSize> m_fast{};
    // The canonical form for the walk: how many codes each length has, and the symbols in code order.
    std::array<std::uint16_t, MaximumLength + 1> m_lengthCounts{};
    std::array<std::uint16_t, MaximumSymbols> m_sortedSymbols{};
};

} // namespace vellum
