#pragma once

// An xz stream taken apart into blocks that are decoded one by one, each on whatever thread has
// time: XzStreamFrame reads the stream's framing in order (stream header, block headers, index,
// footer) with the checks liblzma's stream decoder makes, and XzBlockDecoder decodes one block from
// its header and data alone. A block can be cut out of the stream without decoding the ones before
// it only when its header states its compressed size, as multi-threaded writers' headers do.
//
// Both give the LZMA2 filters the dictionary the entry can use (xz_dictionary.h), as XzCodec does.

#include "base/decoder_memory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace vellum {

// What a block header tells of the block it opens.
struct XzBlockSpan {
    std::uint64_t totalSize = 0;        // header, data, padding and check
    std::uint64_t uncompressedSize = 0; // as the header states it
    std::uint64_t decoderMemory = 0;    // what liblzma's decoder of its filters holds
};

class XzStreamFrame {
public:
    static constexpr std::size_t StreamHeaderSize = 12;
    static constexpr std::size_t StreamFooterSize = 12;

    explicit XzStreamFrame(std::uint64_t entrySize);
    ~XzStreamFrame();
    XzStreamFrame(const XzStreamFrame&) = delete;
    XzStreamFrame& operator=(const XzStreamFrame&) = delete;

    bool readStreamHeader(std::span<const std::uint8_t> header);
    // The size of the block header that starts with firstByte; zero when the byte begins the index.
    static std::size_t blockHeaderSize(std::uint8_t firstByte);
    // The block whose whole header this is, counted into the index the stream must end with.
    // nullopt when the header is damaged, names a filter this liblzma does not know, or does not
    // state both of the block's sizes.
    std::optional<XzBlockSpan> readBlockHeader(std::span<const std::uint8_t> header);
    // The check every block of the stream ends with, as XzBlockDecoder takes it.
    unsigned check() const;

    enum class IndexState { NeedsMore, Ended, Damaged };
    // Takes the index's bytes in order; consumed tells how many of input belonged to it.
    IndexState readIndex(std::span<const std::uint8_t> input, std::size_t& consumed);
    // The footer agrees with the stream header and the index.
    bool readStreamFooter(std::span<const std::uint8_t> footer);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

class XzBlockDecoder {
public:
    // The decoder holds at most allowance bytes of state; a block that needs more fails.
    explicit XzBlockDecoder(std::uint64_t allowance);
    ~XzBlockDecoder();
    XzBlockDecoder(const XzBlockDecoder&) = delete;
    XzBlockDecoder& operator=(const XzBlockDecoder&) = delete;

    // Prepares for the block that header opens, in a stream of check and of an entry of entrySize
    // bytes. False when the header cannot be decoded or the decoder cannot be made.
    bool start(std::span<const std::uint8_t> header, unsigned check, std::uint64_t entrySize);

    enum class Step { NeedsInput, OutputFull, Ended, Failed };
    // Decodes from the next piece of the block's data (everything after its header) into one output
    // chunk at most, taking the output into the CRC-32 and the length; consumed tells how much of
    // input it used. OutputFull: call again with the rest. Ended once the block's check has been
    // read and matched, with all of input used.
    Step decode(std::span<const std::uint8_t> input, std::size_t& consumed);

    std::uint32_t crc() const { return m_crc; }
    std::uint64_t length() const { return m_length; }

private:
    struct State;
    std::unique_ptr<State> m_state;
    std::uint32_t m_crc = 0;
    std::uint64_t m_length = 0;
};

} // namespace vellum
