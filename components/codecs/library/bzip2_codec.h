#pragma once

#include "codecs/zip_codec.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace vellum {

// Method 12: bzip2, decoded by libbz2 into the output buffer the codec was built with. In a zip
// entry one entry holds one bzip2 stream, so the stream's end marker ends the entry and any bytes
// after it are trailing junk.
//
// libbz2 has no way to reset a decoder, so every entry starts a new one; its few blocks (the state
// and a table of up to 3.6 MB for 900 KB blocks) come from a cache kept by the codec, so that
// after the first entries no memory is allocated per entry.
class Bzip2Codec final : public ZipCodec {
public:
    explicit Bzip2Codec(std::span<std::uint8_t> outputBuffer);
    ~Bzip2Codec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

private:
    struct Stream; // libbz2's bz_stream, which cannot be declared ahead
    struct Block {
        std::unique_ptr<std::byte[]> memory;
        std::size_t size = 0;
        bool inUse = false;
    };

    static void* allocate(void* opaque, int count, int size);
    static void release(void* opaque, void* address);
    void endStream();

    std::span<std::uint8_t> m_output;
    std::unique_ptr<Stream> m_stream;
    std::vector<Block> m_blocks;
    // After an allocation the system refused: the blocks held then and the one refused.
    std::uint64_t m_refusedNeed = 0;
    bool m_streamOpen = false;
    bool m_finished = false;
};

} // namespace vellum
