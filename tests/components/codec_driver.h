#pragma once

// Drives a decoder over a whole stream the way the verifier does, for the decoder tests.

#include "codecs/zip_codec.h"
#include "zip_builder.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

namespace vellum::testing {

struct Decoded {
    std::string output;
    CodecState state = CodecState::NeedsInput; // the last state reported
    std::size_t unused = 0;
    bool hung = false;

    // Whether the stream decoded completely to the entry's declared size and CRC-32; `item` is
    // anything with the entry's CodecEntry as `entry` and its CRC-32 as `crc`.
    template <typename Item> bool good(const Item& item) const {
        return state == CodecState::Finished && unused == 0 && output.size() == item.entry.uncompressedSize &&
               crc32Of(output) == item.crc;
    }
};

inline Decoded decodeOnce(ZipCodec& codec, const CodecEntry& entry, std::string_view stream,
                          std::size_t inputPiece, std::size_t outputPiece, std::uint64_t& memoryNeeded);

// Drives codec over stream the way the verifier does: inputPiece bytes at a time, at most
// outputPiece bytes out per call, and one call with no input once all is given. A decoder that
// asks for more memory gets it, and the stream starts again.
inline Decoded decodeInPieces(ZipCodec& codec, CodecEntry entry, std::string_view stream,
                              std::size_t inputPiece, std::size_t outputPiece) {
    for (;;) {
        std::uint64_t needed = 0;
        Decoded result = decodeOnce(codec, entry, stream, inputPiece, outputPiece, needed);
        if (needed == 0 || needed <= entry.memoryAllowance)
            return result;
        codec.releaseMemory();
        entry.memoryAllowance = needed;
    }
}

inline Decoded decodeOnce(ZipCodec& codec, const CodecEntry& entry, std::string_view stream,
                          std::size_t inputPiece, std::size_t outputPiece, std::uint64_t& memoryNeeded) {
    Decoded result;
    if (!codec.reset(entry)) {
        result.state = CodecState::Damaged;
        return result;
    }
    // Every call but the last makes progress, so more calls than this is a decoder that spins.
    std::size_t callsLeft = 2 * (stream.size() + entry.uncompressedSize) + 64;
    std::span<const std::uint8_t> input(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size());
    bool drained = false;
    while (!drained) {
        drained = input.empty();
        std::span<const std::uint8_t> piece = input.first(std::min(input.size(), inputPiece));
        input = input.subspan(piece.size());
        for (;;) {
            if (callsLeft-- == 0) {
                result.hung = true;
                return result;
            }
            const CodecStep step = codec.decode(piece, outputPiece);
            piece = piece.subspan(step.consumed);
            result.output.append(reinterpret_cast<const char*>(step.output.data()), step.output.size());
            result.state = step.state;
            if (step.state == CodecState::Finished) {
                result.unused = step.unusedInput + input.size();
                return result;
            }
            if (step.state == CodecState::NeedsMemory) {
                memoryNeeded = step.memoryNeeded;
                return result;
            }
            if (step.state == CodecState::Damaged || step.state == CodecState::Unsupported)
                return result;
            if (step.state == CodecState::NeedsInput && piece.empty())
                break;
        }
    }
    return result;
}

} // namespace vellum::testing
