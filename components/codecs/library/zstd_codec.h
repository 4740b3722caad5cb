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
// Memory: libzstd allocates the window a frame declares, and its size cannot be lowered to the
// entry's size, so frames declaring more than 2^WindowLogLimit bytes (128 MiB; the levels up to 19
// stay at 8 MiB, --ultra -22 at 128 MiB) are reported as unverifiable rather than as damage.
class ZstdCodec final : public ZipCodec {
public:
    static constexpr int WindowLogLimit = 27;

    explicit ZstdCodec(std::span<std::uint8_t> outputBuffer, int windowLogLimit = WindowLogLimit);
    ~ZstdCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return m_atFrameBoundary; }

private:
    std::span<std::uint8_t> m_output;
    ZSTD_DCtx_s* m_context = nullptr;
    bool m_contextReady = false;
    bool m_atFrameBoundary = false;
};

} // namespace vellum
