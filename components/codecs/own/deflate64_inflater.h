#pragma once

// A streaming inflater for raw deflate (RFC 1951) and for Deflate64, the variant PKWARE calls
// "enhanced deflating" (zip method 9). Deflate64 differs from deflate in three ways only: the
// window is 64 KiB instead of 32 KiB, length code 285 takes 16 extra bits on a base of 3 (lengths
// up to 65538) instead of meaning 258, and distance codes 30 and 31 are in use (bases 32769 and
// 49153, 14 extra bits each). Both flavours share everything else, which lets tests check the
// shared machinery against zlib with the plain flavour.
//
// Input may arrive in pieces of any size and output leaves in pieces of any size: the state of a
// block, a code-length table or a match is kept between calls. Decoded bytes go to a ring that
// also serves as the window, and each call returns a view of what it added to the ring, so no
// byte is copied twice. All memory is allocated once, when the inflater is made.

#include "codecs/own/deflate64_bit_reader.h"
#include "codecs/own/deflate64_huffman.h"
#include "codecs/zip_codec.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vellum {

class Deflate64Inflater {
public:
    enum class Flavor { Deflate, Deflate64 };

    Deflate64Inflater();

    void reset(Flavor flavor);

    // Decodes from input, producing at most outputLimit bytes. After Finished, unusedInput counts
    // the whole bytes past the end of the final block, including any read ahead in an earlier call.
    CodecStep inflate(std::span<const std::uint8_t> input, std::size_t outputLimit);

private:
    enum class Stage {
        BlockHeader,
        StoredLengths,
        StoredCopy,
        TableSizes,
        CodeLengthCode,
        CodeLengths,
        Symbols,
        Distance,
        MatchCopy,
        Done,
        Failed,
    };
    // What one step of the state machine came to.
    enum class Progress { Continue, NeedsInput, OutputFull, Failed };

    static constexpr std::size_t RingSize = std::size_t{1} << 17; // twice the largest window
    static constexpr std::size_t RingMask = RingSize - 1;
    // Matches are copied in chunks that may run this far past their end; the ring has room for it
    // beyond its last byte. Bytes ahead of the write position are never part of the window yet.
    static constexpr std::size_t CopyChunk = 16;

    Progress readBlockHeader();
    Progress readStoredLengths();
    Progress copyStored(std::span<const std::uint8_t>& input);
    Progress readTableSizes();
    Progress readCodeLengthCode();
    Progress readCodeLengths();
    Progress decodeSymbols(std::span<const std::uint8_t>& input);
    Progress decodeSymbolsFast(std::span<const std::uint8_t>& input);
    Progress readDistance();
    Progress copyMatch();
    void useFixedCodes();

    Flavor m_flavor = Flavor::Deflate64;
    Stage m_stage = Stage::BlockHeader;
    bool m_finalBlock = false;
    Deflate64BitReader m_reader;

    std::unique_ptr<std::uint8_t[]> m_ring;
    std::size_t m_position = 0;   // where the next byte goes in the ring
    std::size_t m_outputEnd = 0;  // where this call's output must stop
    std::uint64_t m_produced = 0; // bytes of this stream so far: how far back a distance may reach

    // Base and extra-bit count of each length code (257 to 285), for the flavour being read: the
    // base in the low 16 bits, the count above.
    std::array<std::uint32_t, 29> m_lengthCodes{};

    std::uint32_t m_storedLeft = 0;
    std::uint32_t m_matchLength = 0;
    std::uint32_t m_matchDistance = 0;

    // A dynamic block's header: table sizes, then the lengths read so far.
    unsigned m_literalCount = 0;
    unsigned m_distanceCount = 0;
    unsigned m_codeLengthCount = 0;
    unsigned m_lengthIndex = 0;
    std::array<std::uint8_t, 19> m_codeLengthLengths{};
    std::array<std::uint8_t, 288 + 32> m_lengths{};

    Deflate64Huffman m_codeLengthCode;
    Deflate64Huffman m_literalCode;
    Deflate64Huffman m_distanceCode;
};

} // namespace vellum
