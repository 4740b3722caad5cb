#pragma once

#include "codecs/own/ppmd_model.h"
#include "codecs/own/ppmd_range_decoder.h"
#include "codecs/zip_codec.h"

#include <array>

namespace vellum {

// Method 98: PPMd variant I revision 1. The stream starts with a 16-bit word: model order minus
// one in bits 0-3, model memory in MiB minus one in bits 4-11, restoration method in bits 12-15;
// then the range-coded symbols. The stream ends at the uncompressed size, optionally followed by an
// end marker (an escape out of the order-0 context), which 7-Zip writes.
//
// The model's memory is the size the stream declares, to the byte: where it runs out decides when
// the model restarts (restoration method 0) or is cut back (method 1), both reproduced exactly.
// Under the freezing method (2), which no writer at hand makes, the entry is decoded exactly up
// to the point where the memory runs out and reported Unsupported from there. The model's block is
// kept for later entries while it is within the free allowance; a larger one is asked for
// (NeedsMemory) and freed after its entry.
class PpmdCodec final : public ZipCodec {
public:
    explicit PpmdCodec(std::span<std::uint8_t> outputBuffer);

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }
    void releaseMemory() override { m_model.release(); }

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
    std::uint64_t m_memoryAllowance = 0;
    std::uint64_t m_memoryNeeded = 0;
    Phase m_phase = Phase::Header;
};

} // namespace vellum
