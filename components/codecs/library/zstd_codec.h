#pragma once

#include "zip_codec.h"

#include <cstddef>

struct ZSTD_DCtx_s;

namespace vellum {

// Methods 93 and 20 (the number Zstandard had in zip before 93): Zstandard, decoded by libzstd's
// streaming decoder into the output buffer the codec was built with.
//
// A Zstandard stream is one or more frames (skippable frames included) with nothing to say which
// is the last, so an entry's data ends with its input. That end is sound only between frames: the
// codec reports endsWithInput() only while it stands at a frame boundary, after at least one frame,
// so input that stops inside a frame is still found truncated.
//
// Memory: libzstd allocates its window from the codec's DecoderHeap; when that is beyond the
// entry's allowance the codec asks for the memory (NeedsMemory) before it takes any. A frame that
// states its content size gets a window no larger than that; one that does not gets the window it
// declares, which libzstd fills from its start, so the part beyond the entry's output is never
// touched and takes no memory. Every window the format allows is accepted.
class ZstdCodec final : public ZipCodec {
public:
    explicit ZstdCodec(std::span<std::uint8_t> outputBuffer);
    ~ZstdCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return m_atFrameBoundary; }
    void releaseMemory() override;

private:
    bool makeContext();

    std::span<std::uint8_t> m_output;
    DecoderHeap m_heap;
    ZSTD_DCtx_s* m_context = nullptr;
    bool m_atFrameBoundary = false;
};

} // namespace vellum
