#include "codecs/library/bzip2_codec.h"

#include <bzlib.h>

#include <algorithm>
#include <new>

namespace vellum {

namespace {

// libbz2's decoder asks for its state and one table per stream; a few spare slots cover any
// order of requests without letting the cache grow without bound.
constexpr std::size_t MaximumCachedBlocks = 4;

} // namespace

struct Bzip2Codec::Stream {
    bz_stream state{};
};

Bzip2Codec::Bzip2Codec(std::span<std::uint8_t> outputBuffer)
    : m_output(outputBuffer), m_stream(std::make_unique<Stream>()) {}

Bzip2Codec::~Bzip2Codec() {
    endStream();
}

void* Bzip2Codec::allocate(void* opaque, int count, int size) {
    auto* codec = static_cast<Bzip2Codec*>(opaque);
    if (count <= 0 || size <= 0)
        return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(count) * static_cast<std::size_t>(size);
    // The smallest free block that fits, so that the small state never takes the large table's block.
    Block* best = nullptr;
    for (Block& block : codec->m_blocks) {
        if (!block.inUse && block.size >= bytes && (!best || block.size < best->size))
            best = &block;
    }
    if (!best) {
        auto unused = std::find_if(codec->m_blocks.begin(), codec->m_blocks.end(),
                                   [](const Block& block) { return !block.inUse; });
        if (unused != codec->m_blocks.end()) {
            best = &*unused;
        } else if (codec->m_blocks.size() < MaximumCachedBlocks) {
            best = &codec->m_blocks.emplace_back();
        } else {
            return nullptr;
        }
        // No exception may cross libbz2's C frames: a failed allocation is reported as libbz2 expects.
        best->memory.reset(new (std::nothrow) std::byte[bytes]);
        best->size = best->memory ? bytes : 0;
        if (!best->memory) {
            codec->m_refusedNeed = bytes;
            for (const Block& block : codec->m_blocks)
                codec->m_refusedNeed += block.size;
            return nullptr;
        }
    }
    best->inUse = true;
    return best->memory.get();
}

void Bzip2Codec::release(void* opaque, void* address) {
    auto* codec = static_cast<Bzip2Codec*>(opaque);
    for (Block& block : codec->m_blocks) {
        if (block.memory.get() == address)
            block.inUse = false;
    }
}

void Bzip2Codec::endStream() {
    if (m_streamOpen)
        BZ2_bzDecompressEnd(&m_stream->state);
    m_streamOpen = false;
}

bool Bzip2Codec::reset(const CodecEntry&) {
    endStream();
    bz_stream& stream = m_stream->state;
    stream = bz_stream{};
    stream.bzalloc = &Bzip2Codec::allocate;
    stream.bzfree = &Bzip2Codec::release;
    stream.opaque = this;
    m_finished = false;
    m_refusedNeed = 0;
    // small = 0: the fast decoder; its table is bounded by the largest block size bzip2 has.
    m_streamOpen = BZ2_bzDecompressInit(&stream, 0, 0) == BZ_OK;
    return m_streamOpen;
}

CodecStep Bzip2Codec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    CodecStep step;
    if (m_finished || !m_streamOpen) {
        step.state = m_finished ? CodecState::Finished : CodecState::Damaged;
        step.unusedInput = input.size();
        return step;
    }
    // libbz2 counts in unsigned int; larger pieces are simply taken over several calls.
    const std::size_t inputLength = std::min<std::size_t>(input.size(), UINT32_MAX);
    const std::size_t limit = std::min({outputLimit, m_output.size(), std::size_t{UINT32_MAX}});
    bz_stream& stream = m_stream->state;
    // libbz2 never writes through next_in; its field is just not declared const.
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input.data()));
    stream.avail_in = static_cast<unsigned int>(inputLength);
    stream.next_out = reinterpret_cast<char*>(m_output.data());
    stream.avail_out = static_cast<unsigned int>(limit);
    const int result = BZ2_bzDecompress(&stream);

    step.consumed = inputLength - stream.avail_in;
    step.output = std::span<const std::uint8_t>(m_output).first(limit - stream.avail_out);
    if (result == BZ_STREAM_END) {
        m_finished = true;
        step.state = CodecState::Finished;
        step.unusedInput = input.size() - step.consumed;
    } else if (result == BZ_MEM_ERROR) {
        step.state = CodecState::MemoryUnavailable;
        step.memoryNeeded = m_refusedNeed;
    } else if (result != BZ_OK) {
        step.state = CodecState::Damaged;
    } else if (stream.avail_out == 0) {
        step.state = CodecState::OutputFull;
    } else {
        // Input left over here (only past the unsigned int cap) is taken by the caller's next call.
        step.state = CodecState::NeedsInput;
    }
    return step;
}

} // namespace vellum
