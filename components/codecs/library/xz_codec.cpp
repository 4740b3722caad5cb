#include "codecs/library/xz_codec.h"

#include "codecs/library/lzma_allocator.h"
#include "codecs/library/xz_dictionary.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace vellum {

struct XzCodec::Stream {
    DecoderHeap heap;
    lzma_allocator allocator = lzmaAllocatorFor(heap);
    lzma_stream block = LZMA_STREAM_INIT; // the block decoder, kept from block to block
    lzma_block options{};
    std::array<lzma_filter, LZMA_FILTERS_MAX + 1> filters{};
    lzma_stream_flags flags{};
    lzma_index_hash* index = nullptr;
    // The stream header, a block header or the stream footer, gathered across calls.
    std::array<std::uint8_t, LZMA_BLOCK_HEADER_SIZE_MAX> header{};
    std::size_t headerLength = 0;
    std::size_t headerWanted = 0;
};

XzCodec::XzCodec(std::span<std::uint8_t> outputBuffer)
    : m_output(outputBuffer), m_stream(std::make_unique<Stream>()) {
    m_stream->block.allocator = &m_stream->allocator;
}

XzCodec::~XzCodec() {
    releaseMemory();
}

const DecoderHeap& XzCodec::heap() const {
    return m_stream->heap;
}

bool XzCodec::reset(const CodecEntry& entry) {
    m_entrySize = entry.uncompressedSize;
    m_phase = Phase::StreamHeader;
    m_failure = CodecStep{};
    m_stream->heap.setAllowance(entry.memoryAllowance);
    m_stream->heap.clearNeeded();
    m_stream->heap.clearSystemRefused();
    m_stream->headerLength = 0;
    m_stream->headerWanted = LZMA_STREAM_HEADER_SIZE;
    return true;
}

void XzCodec::releaseMemory() {
    lzma_end(&m_stream->block);
    lzma_index_hash_end(m_stream->index, &m_stream->allocator);
    m_stream->index = nullptr;
}

CodecState XzCodec::failureOf(int result) const {
    switch (result) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
        // More than the allowance, or no memory in the system.
        if (m_stream->heap.needed() > m_stream->heap.allowance())
            return CodecState::NeedsMemory;
        return m_stream->heap.systemRefused() ? CodecState::MemoryUnavailable : CodecState::Unsupported;
    // A filter, check or flag this liblzma does not know. Headers carry their own CRC, so an
    // unknown one is a real one from a newer writer, not damage.
    case LZMA_OPTIONS_ERROR:
        return CodecState::Unsupported;
    default:
        return CodecState::Damaged;
    }
}

// One call of decode: its input and output, and how far it got through them.
struct XzCodec::Call {
    std::span<const std::uint8_t> input;
    std::size_t limit = 0; // the output it may produce
    std::size_t consumed = 0;
    std::size_t produced = 0;
};

CodecStep XzCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    if (m_phase == Phase::Failed)
        return m_failure;
    if (m_phase == Phase::Finished) {
        CodecStep step;
        step.state = CodecState::Finished;
        step.unusedInput = input.size();
        return step;
    }
    Call call{input, std::min(outputLimit, m_output.size())};
    for (;;) {
        std::optional<CodecStep> ended;
        switch (m_phase) {
        case Phase::StreamHeader:
            ended = readStreamHeader(call);
            break;
        case Phase::BlockHeader:
            ended = readBlockHeader(call);
            break;
        case Phase::Block:
            ended = decodeBlock(call);
            break;
        case Phase::Index:
            ended = readIndex(call);
            break;
        case Phase::StreamFooter:
            ended = readStreamFooter(call);
            break;
        case Phase::Finished:
        case Phase::Failed:
            return finish(call, CodecState::Finished);
        }
        if (ended)
            return *ended;
    }
}

CodecStep XzCodec::finish(const Call& call, CodecState state) const {
    CodecStep step;
    step.consumed = call.consumed;
    step.output = std::span<const std::uint8_t>(m_output).first(call.produced);
    step.state = state;
    return step;
}

CodecStep XzCodec::fail(const Call& call, int result) {
    CodecStep step = finish(call, failureOf(result));
    if (step.state == CodecState::NeedsMemory)
        step.memoryNeeded = m_stream->heap.needed();
    else if (step.state == CodecState::MemoryUnavailable)
        step.memoryNeeded = m_stream->heap.refusedNeed();
    m_phase = Phase::Failed;
    m_failure = step;
    m_failure.consumed = 0;
    m_failure.output = {};
    return step;
}

bool XzCodec::gather(Call& call) {
    Stream& stream = *m_stream;
    const std::size_t take =
        std::min(stream.headerWanted - stream.headerLength, call.input.size() - call.consumed);
    std::memcpy(stream.header.data() + stream.headerLength, call.input.data() + call.consumed, take);
    stream.headerLength += take;
    call.consumed += take;
    return stream.headerLength == stream.headerWanted;
}

std::optional<CodecStep> XzCodec::readStreamHeader(Call& call) {
    Stream& stream = *m_stream;
    if (!gather(call))
        return finish(call, CodecState::NeedsInput);
    const lzma_ret result = lzma_stream_header_decode(&stream.flags, stream.header.data());
    if (result != LZMA_OK)
        return fail(call, result);
    stream.index = lzma_index_hash_init(stream.index, &stream.allocator);
    if (!stream.index)
        return fail(call, LZMA_MEM_ERROR);
    stream.headerLength = 0;
    m_phase = Phase::BlockHeader;
    return std::nullopt;
}

std::optional<CodecStep> XzCodec::readBlockHeader(Call& call) {
    Stream& stream = *m_stream;
    if (stream.headerLength == 0) {
        if (call.consumed == call.input.size())
            return finish(call, CodecState::NeedsInput);
        // A zero byte where a block header would start begins the index.
        if (call.input[call.consumed] == 0x00) {
            m_phase = Phase::Index;
            return std::nullopt;
        }
        stream.headerWanted = lzma_block_header_size_decode(call.input[call.consumed]);
    }
    if (!gather(call))
        return finish(call, CodecState::NeedsInput);
    stream.headerLength = 0;
    lzma_block& options = stream.options;
    options = lzma_block{};
    options.version = 1;
    options.check = stream.flags.check;
    options.header_size = static_cast<std::uint32_t>(stream.headerWanted);
    options.filters = stream.filters.data();
    lzma_ret result = lzma_block_header_decode(&options, &stream.allocator, stream.header.data());
    if (result != LZMA_OK) {
        options.filters = nullptr;
        return fail(call, result);
    }
    limitXzDictionaries(stream.filters.data(), m_entrySize);
    if (lzma_raw_decoder_memusage(stream.filters.data()) == UINT64_MAX)
        result = LZMA_OPTIONS_ERROR; // one or more unknown filters
    else
        result = lzma_block_decoder(&stream.block, &options);
    lzma_filters_free(stream.filters.data(), &stream.allocator);
    options.filters = nullptr;
    if (result != LZMA_OK)
        return fail(call, result);
    m_phase = Phase::Block;
    return std::nullopt;
}

std::optional<CodecStep> XzCodec::decodeBlock(Call& call) {
    Stream& stream = *m_stream;
    lzma_stream& block = stream.block;
    block.next_in = call.input.data() + call.consumed;
    block.avail_in = call.input.size() - call.consumed;
    block.next_out = m_output.data() + call.produced;
    block.avail_out = call.limit - call.produced;
    const lzma_ret result = lzma_code(&block, LZMA_RUN);
    call.consumed = call.input.size() - block.avail_in;
    call.produced = call.limit - block.avail_out;
    if (result == LZMA_STREAM_END) {
        const lzma_ret appended = lzma_index_hash_append(
            stream.index, lzma_block_unpadded_size(&stream.options), stream.options.uncompressed_size);
        if (appended != LZMA_OK)
            return fail(call, appended);
        m_phase = Phase::BlockHeader;
        return std::nullopt;
    }
    // LZMA_BUF_ERROR only says that nothing could be done without more input or room.
    if (result != LZMA_OK && result != LZMA_BUF_ERROR)
        return fail(call, result);
    return finish(call, call.produced == call.limit ? CodecState::OutputFull : CodecState::NeedsInput);
}

std::optional<CodecStep> XzCodec::readIndex(Call& call) {
    Stream& stream = *m_stream;
    if (call.consumed == call.input.size())
        return finish(call, CodecState::NeedsInput);
    std::size_t position = call.consumed;
    const lzma_ret result =
        lzma_index_hash_decode(stream.index, call.input.data(), &position, call.input.size());
    call.consumed = position;
    if (result == LZMA_OK)
        return finish(call, CodecState::NeedsInput);
    if (result != LZMA_STREAM_END)
        return fail(call, result);
    stream.headerLength = 0;
    stream.headerWanted = LZMA_STREAM_HEADER_SIZE;
    m_phase = Phase::StreamFooter;
    return std::nullopt;
}

std::optional<CodecStep> XzCodec::readStreamFooter(Call& call) {
    Stream& stream = *m_stream;
    if (!gather(call))
        return finish(call, CodecState::NeedsInput);
    lzma_stream_flags footer{};
    const lzma_ret result = lzma_stream_footer_decode(&footer, stream.header.data());
    // The footer's magic bytes not matching is damage here, not another format.
    if (result != LZMA_OK)
        return fail(call, result == LZMA_FORMAT_ERROR ? LZMA_DATA_ERROR : result);
    if (lzma_index_hash_size(stream.index) != footer.backward_size)
        return fail(call, LZMA_DATA_ERROR);
    const lzma_ret compared = lzma_stream_flags_compare(&stream.flags, &footer);
    if (compared != LZMA_OK)
        return fail(call, compared);
    m_phase = Phase::Finished;
    CodecStep step = finish(call, CodecState::Finished);
    step.unusedInput = call.input.size() - call.consumed;
    return step;
}

} // namespace vellum
