#pragma once

#include "codecs/zip_codec.h"

#include <memory>

struct inflate_state;

namespace vellum {

// Method 8: raw deflate (RFC 1951), decoded by ISA-L's isal_inflate into the output buffer the
// codec was built with. The decoder state is allocated once and reset per entry.
class DeflateCodec final : public ZipCodec {
public:
    explicit DeflateCodec(std::span<std::uint8_t> outputBuffer);
    ~DeflateCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

private:
    std::span<std::uint8_t> m_output;
    std::unique_ptr<inflate_state> m_state;
};

} // namespace vellum
