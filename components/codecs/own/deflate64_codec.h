#pragma once

#include "codecs/own/deflate64_inflater.h"
#include "codecs/zip_codec.h"

namespace vellum {

// Method 9: Deflate64 ("enhanced deflating"), decoded by the inflater written here, as no packaged
// library decodes it. The inflater returns views of its own window, so the shared output buffer
// is not needed.
class Deflate64Codec final : public ZipCodec {
public:
    explicit Deflate64Codec(std::span<std::uint8_t> outputBuffer);

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

private:
    Deflate64Inflater m_inflater;
};

} // namespace vellum
