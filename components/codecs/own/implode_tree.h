#pragma once

// One Shannon-Fano tree of the Implode method, built from its code lengths and decoded bit by
// bit. The format assigns codes from the longest length up, in reverse symbol order, and stores
// every code bit inverted; read back inverted, the codes are the canonical ones (shorter codes
// first, equal lengths in symbol order), which is how this tree decodes them.

#include "codecs/own/older_method_bit_reader.h"

#include <array>
#include <cstdint>
#include <span>

namespace vellum {

class ImplodeTree {
public:
    static constexpr unsigned MaximumLength = 16;
    static constexpr int NeedBits = -1;
    static constexpr int Invalid = -2;

    // False when the lengths claim more codes than their lengths can hold.
    bool build(std::span<const std::uint8_t> lengths);

    // The next symbol, NeedBits when the reader holds too few bits (nothing is taken), or Invalid
    // when the bits match no code.
    int decode(OlderMethodBitReader& reader) const;

private:
    std::array<std::uint16_t, MaximumLength + 1> m_counts{};
    std::array<std::uint16_t, 256> m_symbols{};
};

} // namespace vellum
