#pragma once

#include "codecs/own/implode_tree.h"
#include "codecs/own/older_method_decode_loop.h"
#include "codecs/zip_codec.h"

#include <array>

namespace vellum {

// Method 6: Implode. The stream starts with two or three Shannon-Fano trees (literals when
// general-purpose flag bit 2 is set, then lengths, then distances), each stored as a byte count
// and runs of (count, length) nibbles. Then each item is a flag bit: 1 for a literal byte, 0 for a
// match whose distance has 6 or 7 raw low bits (4 or 8 KiB window, flag bit 1) and tree-coded
// high bits, and whose tree-coded length gets an extra byte at 63. There is no end marker: the
// stream ends at the entry's uncompressed size.
class ImplodeCodec final : public ZipCodec {
public:
    explicit ImplodeCodec(std::span<std::uint8_t> outputBuffer);

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

private:
    OlderMethodStep readTreeByte();
    OlderMethodStep decodeItem();

    std::span<std::uint8_t> m_output;
    OlderMethodBitReader m_reader;
    OlderMethodHistory m_history;
    ImplodeTree m_literals;
    ImplodeTree m_lengths;
    ImplodeTree m_distances;
    bool m_literalTree = false;
    unsigned m_distanceLowBits = 6;
    unsigned m_minimumLength = 2;

    // Reading the trees: which one, the bytes of its description still due, and its lengths.
    unsigned m_treesRead = 0;
    unsigned m_treeBytesLeft = 0; // 0 before the tree's byte count is read
    std::size_t m_lengthsFilled = 0;
    std::array<std::uint8_t, 256> m_codeLengths{};
};

} // namespace vellum
