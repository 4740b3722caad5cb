#pragma once

#include "codecs/zip_codec.h"

#include <cstddef>
#include <memory>
#include <optional>

namespace vellum {

// Method 95: one xz stream (header, blocks, index, footer), decoded with the stream's own integrity
// check kept on. A zip entry holds exactly one stream, so concatenated streams and stream padding
// after the footer count as trailing bytes.
//
// The stream's framing is read here as liblzma's stream decoder reads it (the same checks of the
// stream header and footer, block headers, index and sizes, in the same order); each block is
// decoded by liblzma's block decoder. That is what lets the dictionary be chosen here: a block's
// LZMA2 data never reaches back before the block's start, and the verifier stops one byte past the
// entry's declared size, so the decoder gets the smaller of the dictionary the block header declares
// and the entry's size, as the LZMA codec does. A block claiming a 4 GiB dictionary over a few bytes
// so takes a few kilobytes.
//
// Memory: liblzma allocates from the codec's DecoderHeap; when that is beyond the entry's allowance
// the codec asks for the memory (NeedsMemory) before it takes any.
class XzCodec final : public ZipCodec {
public:
    explicit XzCodec(std::span<std::uint8_t> outputBuffer);
    ~XzCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }
    void releaseMemory() override;

    // What the decoder's state holds now, and the most it has held.
    const DecoderHeap& heap() const;

private:
    struct Stream; // liblzma's structures, which cannot be declared ahead
    enum class Phase { StreamHeader, BlockHeader, Block, Index, StreamFooter, Finished, Failed };

    struct Call; // one call of decode

    // What a liblzma result other than success means for the entry.
    CodecState failureOf(int result) const;
    // The step that ends the call in state, with what it consumed and produced.
    CodecStep finish(const Call& call, CodecState state) const;
    // Ends the call, and every later one, with the failure a liblzma result means.
    CodecStep fail(const Call& call, int result);
    // Copies input into the header buffer until the wanted bytes are there; false while some lack.
    bool gather(Call& call);

    // One phase of the stream each: std::nullopt when the next phase follows in this call, else
    // the step that ends the call.
    std::optional<CodecStep> readStreamHeader(Call& call);
    std::optional<CodecStep> readBlockHeader(Call& call);
    std::optional<CodecStep> decodeBlock(Call& call);
    std::optional<CodecStep> readIndex(Call& call);
    std::optional<CodecStep> readStreamFooter(Call& call);

    std::span<std::uint8_t> m_output;
    std::unique_ptr<Stream> m_stream;
    std::uint64_t m_entrySize = 0;
    Phase m_phase = Phase::StreamHeader;
    CodecStep m_failure;
};

} // namespace vellum
