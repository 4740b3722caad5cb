#pragma once

#include "zip_codec.h"

#include <cstddef>
#include <memory>

namespace vellum {

// Method 95: one xz stream (header, blocks, index, footer), decoded by liblzma with the stream's
// own integrity check kept on. A zip entry holds exactly one stream, so concatenated streams and
// stream padding after the footer count as trailing bytes.
//
// Memory: the dictionary each block declares is allocated by liblzma, which offers no way to
// shrink it to the entry's size, so the decoder runs under MemoryLimit. A stream that needs more
// (only hand-tuned settings do: the largest preset needs 65 MiB) is reported as unverifiable, not
// as damage.
class XzCodec final : public ZipCodec {
public:
    static constexpr std::uint64_t MemoryLimit = std::uint64_t{128} << 20;

    explicit XzCodec(std::span<std::uint8_t> outputBuffer, std::uint64_t memoryLimit = MemoryLimit);
    ~XzCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

private:
    struct Stream; // liblzma's lzma_stream, which cannot be declared ahead

    std::span<std::uint8_t> m_output;
    std::uint64_t m_memoryLimit;
    std::unique_ptr<Stream> m_stream;
    bool m_started = false;
    bool m_finished = false;
};

} // namespace vellum
