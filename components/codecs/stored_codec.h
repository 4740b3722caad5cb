#pragma once

#include "codecs/zip_codec.h"

namespace vellum {

// Method 0: the data is stored as it is; decoding hands the input straight back.
class StoredCodec final : public ZipCodec {
public:
    bool reset(const CodecEntry&) override { return true; }
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return true; }
};

} // namespace vellum
