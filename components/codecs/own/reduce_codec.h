#pragma once

#include "codecs/own/older_method_decode_loop.h"
#include "codecs/zip_codec.h"

#include <array>

namespace vellum {

// Methods 2 to 5: Reduce with compression factor 1 to 4. The stream starts with a follower set for
// every byte value; each following byte is coded either as an index into the follower set of the
// byte before it or as a literal. The bytes so decoded then drive a run expander in which byte 144
// (DLE) introduces a back reference whose length and distance split their bits by the factor.
// There is no end marker: the stream ends at the entry's uncompressed size.
class ReduceCodec final : public ZipCodec {
public:
    explicit ReduceCodec(std::span<std::uint8_t> outputBuffer);

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

private:
    enum class Expand { Literal, AfterDle, LengthByte, DistanceByte };

    OlderMethodStep readFollowerSets();
    OlderMethodStep decodeSymbol();
    void expand(std::uint8_t value);

    struct FollowerSet {
        std::uint8_t count = 0;
        std::uint8_t indexBits = 0;
        std::array<std::uint8_t, 32> bytes{};
    };

    std::span<std::uint8_t> m_output;
    OlderMethodBitReader m_reader;
    OlderMethodHistory m_history;
    std::array<FollowerSet, 256> m_sets{};
    unsigned m_factor = 1;
    unsigned m_setsRead = 0; // follower sets complete so far, read from byte 255 down
    int m_setPosition = -1;  // bytes read of the current set; -1 before its count
    std::uint8_t m_last = 0; // the previous byte of the follower-set layer
    Expand m_expand = Expand::Literal;
    unsigned m_lengthCode = 0; // the byte after DLE
    unsigned m_length = 0;
};

} // namespace vellum
