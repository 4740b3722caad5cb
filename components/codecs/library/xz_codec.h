#pragma once

#include "zip_codec.h"

#include <cstddef>
#include <memory>

namespace vellum {

// Method 95: one xz stream (header, blocks, index, footer), decoded by liblzma with the stream's
// own integrity check kept on. A zip entry holds exactly one stream, so concatenated streams and
// stream padding after the footer count as trailing bytes.
//
// Memory: liblzma allocates the dictionary each block declares from the codec's DecoderHeap; when
// that is beyond the entry's allowance the codec asks for the memory (NeedsMemory) before it takes
// any. liblzma's stream decoder has no way to shrink a block's dictionary to the entry's size, but
// it writes the dictionary from its start, so the part beyond the entry's output is never touched
// and takes no memory.
class XzCodec final : public ZipCodec {
public:
    explicit XzCodec(std::span<std::uint8_t> outputBuffer);
    ~XzCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }
    void releaseMemory() override;

private:
    struct Stream; // liblzma's lzma_stream, which cannot be declared ahead

    // What a failed allocation means: more than the allowance, or no memory in the system.
    CodecStep refusal() const;

    std::span<std::uint8_t> m_output;
    std::unique_ptr<Stream> m_stream;
    bool m_started = false;
    bool m_finished = false;
};

} // namespace vellum
