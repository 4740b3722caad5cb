#pragma once

#include "codecs/zip_codec.h"

#include <array>
#include <cstddef>
#include <optional>

struct ZSTD_DCtx_s;

namespace vellum {

// Methods 93 and 20 (the number Zstandard had in zip before 93): Zstandard, decoded by libzstd's
// buffer-less decoder into a window buffer that this codec allocates itself.
//
// A Zstandard stream is one or more frames (skippable frames included) with nothing to say which
// is the last, so an entry's data ends with its input. That end is sound only between frames: the
// codec reports endsWithInput() only while it stands at a frame boundary, after at least one frame,
// so input that stops inside a frame is still found truncated.
//
// Memory: the context, the window buffer and a block of staged input come from the codec's
// DecoderHeap; when they are beyond the entry's allowance the codec asks for the memory
// (NeedsMemory) before it takes any. No back-reference reaches further than the bytes the frame
// has produced, and the verifier stops one byte past the entry's declared size, so the window
// buffer holds at most the smaller of the frame's window and what the entry can produce: a frame
// declaring its content size gets no more than that (as libzstd's own streaming decoder gives it),
// and one that declares a window far beyond the entry's size (a stream compressed from a pipe with
// --long, say) gets one of the entry's size plus one block, never its declared window. Every window
// the format allows is still decoded, and a frame producing more than the entry declares is found
// by the size check, as before.
//
// The buffer-less decoder reads the Zstandard format (version 1, RFC 8878) alone: frames of the
// formats before it (zstd 0.5 to 0.7, of 2016 and earlier, older than Zstandard in zip), which
// libzstd's streaming decoder still took, are damage here.
class ZstdCodec final : public ZipCodec {
public:
    explicit ZstdCodec(std::span<std::uint8_t> outputBuffer);
    ~ZstdCodec() override;

    bool reset(const CodecEntry& entry) override;
    CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) override;
    bool endsWithInput() const override { return m_atFrameBoundary; }
    void releaseMemory() override;

    // What the decoder's state holds now, and the most it has held.
    const DecoderHeap& heap() const { return m_heap; }

private:
    struct NextInput; // what libzstd asks for next

    bool makeContext();
    // Starts the decoder on a new frame; false when libzstd refuses.
    bool beginFrame();
    // Hands out decoded bytes that wait in the window.
    CodecStep handOut(std::size_t outputLimit, std::size_t consumed);
    // Finds the bytes of next in the input, staging them when they arrive in pieces: std::nullopt
    // once they are there, else the step that ends the call.
    std::optional<CodecStep> gather(std::span<const std::uint8_t> input, std::size_t& consumed,
                                    NextInput& next);
    // Hands next's bytes to libzstd and keeps what it decodes in the window; false for damage.
    bool feed(const NextInput& next);
    CodecStep stepOf(CodecState state, std::size_t consumed) const;
    // Ends the call, and every later one, in state.
    CodecStep fail(CodecState state, std::size_t consumed);
    // Sizes the window buffer for the frame whose header has just been read; false when the memory
    // was refused or the header cannot be read again.
    bool prepareWindow();
    // The step to return when the heap refused a block.
    CodecStep refusal(std::size_t consumed) const;
    // Makes room for `bytes` of input staged across calls.
    bool reserveStaging(std::size_t bytes);

    DecoderHeap m_heap;
    ZSTD_DCtx_s* m_context = nullptr;
    std::uint64_t m_entrySize = 0;

    // The window: decoded blocks are written one after the other, from its start again when the
    // next block might not fit (a round buffer, as libzstd's own streaming decoder keeps), or never
    // again when the buffer holds all the frame can produce for this entry (flat).
    std::uint8_t* m_window = nullptr;
    std::size_t m_windowCapacity = 0;
    std::size_t m_windowUsed = 0; // where the next block goes
    bool m_flat = false;
    std::size_t m_blockSizeMax = 0;
    // Decoded bytes not yet handed out: [m_pendingStart, m_pendingEnd) of the window.
    std::size_t m_pendingStart = 0;
    std::size_t m_pendingEnd = 0;

    // Input that arrived in pieces: libzstd takes each header, block and checksum whole.
    std::uint8_t* m_staging = nullptr;
    std::size_t m_stagingCapacity = 0;
    std::size_t m_staged = 0;
    // The bytes of a skippable frame's content are counted, never kept.
    std::uint64_t m_skipped = 0;

    std::array<std::uint8_t, 18> m_header{}; // the frame header, kept to size the window
    std::size_t m_headerLength = 0;
    bool m_inFrame = false;         // a frame has begun and not yet ended
    bool m_windowReady = false;     // the window is sized for the frame in progress
    bool m_skippableHeader = false; // the next skippable-frame input is its size field, not content
    bool m_rawBlock = false;        // the block in progress is stored uncompressed
    bool m_atFrameBoundary = false;
    CodecState m_failure = CodecState::NeedsInput; // Damaged or Unsupported once decoding failed
};

} // namespace vellum
