#pragma once

#include "codecs/own/older_method_bit_reader.h"
#include "codecs/zip_codec.h"

#include <array>

namespace vellum {

// Method 1: Shrink, a dynamic LZW with 9- to 13-bit codes read LSB-first. Codes 0-255 are the
// byte values; code 256 is followed by a control code: 1 widens the codes by one bit, 2 frees
// every leaf of the dictionary so that the writer can reuse those codes, lowest first. There is
// no end marker: the stream ends at the entry's uncompressed size.
class ShrinkCodec final : public ZipCodec {
public:
    explicit ShrinkCodec(std::span<std::uint8_t> outputBuffer);

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

    static constexpr unsigned CodeCount = 8192; // 13-bit codes

private:
    enum class Step { Done, NeedBits, Damaged };

    Step decodeCode();
    bool expand(unsigned code);
    void partialClear();
    void advanceFreeCode();

    std::span<std::uint8_t> m_output;
    OlderMethodBitReader m_reader;
    std::array<std::uint16_t, CodeCount> m_prefix{};
    std::array<std::uint8_t, CodeCount> m_suffix{};
    std::array<bool, CodeCount> m_used{};
    // The string of the last code, written out from m_stringStart onwards; it stays here after
    // it is written because the next code may be the one being defined, which repeats it.
    std::array<std::uint8_t, CodeCount> m_string{};
    std::size_t m_stringLength = 0;
    std::size_t m_stringStart = 0;
    unsigned m_codeSize = 9;
    unsigned m_freeCode = 257; // the lowest unused code; CodeCount when the table is full
    int m_previousCode = -1;
    std::uint64_t m_produced = 0;
    std::uint64_t m_total = 0;
};

} // namespace vellum
