#pragma once

#include "codecs/zip_codec.h"

#include <array>
#include <cstddef>
#include <memory>

namespace vellum {

// Method 14: LZMA in its zip form: a 4-byte header (the LZMA SDK version, then the size of the
// properties, which must be 5), the 5 properties bytes (lc/lp/pb and the dictionary size), then a
// raw LZMA1 stream decoded by liblzma. General-purpose flag bit 1 says the stream ends with an end
// marker; without it the stream ends at the entry's uncompressed size, which then tells the decoder
// where to stop (an end marker found right there is accepted as well, as some writers add one
// without setting the flag).
//
// Memory: liblzma allocates the dictionary from the codec's DecoderHeap. No match reaches further
// back than the entry's first byte, so a dictionary larger than the entry's output is never used:
// the decoder gets min(declared size, uncompressed size). A stream whose output is larger than
// declared is damaged anyway, and is found so either way. When that dictionary is beyond the
// entry's allowance the codec asks for the memory (NeedsMemory) before it takes any.
class LzmaCodec final : public ZipCodec {
public:
    explicit LzmaCodec(std::span<std::uint8_t> outputBuffer);
    ~LzmaCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return false; }
    void releaseMemory() override;

    // What the decoder's state holds now, and the most it has held.
    const DecoderHeap& heap() const;

private:
    struct Stream; // liblzma's stream and options, which cannot be declared ahead
    static constexpr std::size_t HeaderLength = 9;
    enum class Phase { Header, Stream, Finished, Refused, NeedsMemory, NoMemory, Damaged };

    // Starts liblzma on the complete header; sets m_phase to what follows.
    void startStream();

    std::span<std::uint8_t> m_output;
    std::unique_ptr<Stream> m_stream;
    std::array<std::uint8_t, HeaderLength> m_header{};
    std::size_t m_headerLength = 0;
    CodecEntry m_entry;
    Phase m_phase = Phase::Header;
};

} // namespace vellum
