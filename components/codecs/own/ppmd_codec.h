#pragma once

#include "ppmd_model.h"
#include "ppmd_range_decoder.h"
#include "zip_codec.h"

#include <array>

namespace vellum {

// Method 98: PPMd variant I revision 1. The stream starts with a 16-bit word: model order minus
// one in bits 0-3, model memory in MiB minus one in bits 4-11, restoration method in bits 12-15;
// then the range-coded symbols. The stream ends at the uncompressed size, optionally followed by an
// end marker (an escape out of the order-0 context), which 7-Zip writes.
//
// The model is allocated once and kept for later entries. Its memory is capped at MemoryCap: an
// entry declaring more is decoded in the cap for as long as that gives the same result, which is
// all the way for entries too small to fill the cap, and reported Unsupported from the point where
// it would not. The same holds when the model runs out of memory under the cut-off or freezing
// restoration methods (1 and 2), which this decoder does not reproduce; restarting (0) it does.
class PpmdCodec final : public ZipCodec {
public:
    static constexpr std::uint32_t MemoryCap = 64u << 20;

    explicit PpmdCodec(std::span<std::uint8_t> outputBuffer);

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }

private:
    enum class Phase { Header, Symbols, Truncated };

    // Bytes kept ahead of the decoder: more than one symbol can take (each of up to 17 coding
    // steps renormalises at most four bytes), so that a symbol never starts without its input.
    static constexpr std::size_t Reserve = 256;
    static constexpr std::size_t HeaderSize = 6; // the parameter word and the coder's first four bytes

    CodecState startModel();
    void skipEndMark();
    std::size_t buffered() const { return m_bufferEnd - m_bufferStart; }

    std::span<std::uint8_t> m_output;
    PpmdModel m_model;
    PpmdRangeDecoder m_decoder;
    std::array<std::uint8_t, 4096> m_buffer{};
    std::size_t m_bufferStart = 0;
    std::size_t m_bufferEnd = 0;
    std::uint64_t m_received = 0;
    std::uint64_t m_compressedSize = 0;
    std::uint64_t m_produced = 0;
    std::uint64_t m_total = 0;
    Phase m_phase = Phase::Header;
};

} // namespace vellum
