#include "codecs/library/xz_blocks.h"

#include "codecs/crc32.h"
#include "codecs/library/lzma_allocator.h"
#include "codecs/library/xz_dictionary.h"

#include <lzma.h>

#include <array>
#include <vector>

namespace vellum {

namespace {

// Large enough that liblzma's call overhead vanishes, small enough to stay in the cache that the
// CRC-32 reads it from.
constexpr std::size_t OutputChunk = 128 * 1024;

// Decodes a block header into options, whose filters are then the caller's to free; the LZMA2
// dictionaries limited to what an entry of entrySize bytes can use.
bool decodeBlockHeader(lzma_block& options, lzma_filter* filters, std::span<const std::uint8_t> header,
                       lzma_check check, std::uint64_t entrySize, const lzma_allocator* allocator) {
    if (header.empty() || header.size() != lzma_block_header_size_decode(header[0]))
        return false;
    options = lzma_block{};
    options.version = 1;
    options.check = check;
    options.header_size = static_cast<std::uint32_t>(header.size());
    options.filters = filters;
    if (lzma_block_header_decode(&options, allocator, header.data()) != LZMA_OK) {
        options.filters = nullptr;
        return false;
    }
    limitXzDictionaries(filters, entrySize);
    return true;
}

} // namespace

struct XzStreamFrame::State {
    std::uint64_t entrySize = 0;
    lzma_stream_flags flags{};
    lzma_index_hash* index = nullptr;
};

XzStreamFrame::XzStreamFrame(std::uint64_t entrySize) : m_state(std::make_unique<State>()) {
    m_state->entrySize = entrySize;
}

XzStreamFrame::~XzStreamFrame() {
    lzma_index_hash_end(m_state->index, nullptr);
}

bool XzStreamFrame::readStreamHeader(std::span<const std::uint8_t> header) {
    if (header.size() != StreamHeaderSize ||
        lzma_stream_header_decode(&m_state->flags, header.data()) != LZMA_OK)
        return false;
    m_state->index = lzma_index_hash_init(m_state->index, nullptr);
    return m_state->index != nullptr;
}

std::size_t XzStreamFrame::blockHeaderSize(std::uint8_t firstByte) {
    return firstByte == 0x00 ? 0 : lzma_block_header_size_decode(firstByte);
}

unsigned XzStreamFrame::check() const {
    return static_cast<unsigned>(m_state->flags.check);
}

std::optional<XzBlockSpan> XzStreamFrame::readBlockHeader(std::span<const std::uint8_t> header) {
    lzma_block options{};
    std::array<lzma_filter, LZMA_FILTERS_MAX + 1> filters{};
    if (!m_state->index || !decodeBlockHeader(options, filters.data(), header, m_state->flags.check,
                                              m_state->entrySize, nullptr))
        return std::nullopt;
    XzBlockSpan block;
    block.decoderMemory = lzma_raw_decoder_memusage(filters.data());
    lzma_filters_free(filters.data(), nullptr);
    options.filters = nullptr;
    // UINT64_MAX: one or more unknown filters.
    if (block.decoderMemory == UINT64_MAX || options.compressed_size == LZMA_VLI_UNKNOWN ||
        options.uncompressed_size == LZMA_VLI_UNKNOWN)
        return std::nullopt;
    block.totalSize = lzma_block_total_size(&options);
    block.uncompressedSize = options.uncompressed_size;
    if (block.totalSize == 0 || lzma_index_hash_append(m_state->index, lzma_block_unpadded_size(&options),
                                                       options.uncompressed_size) != LZMA_OK)
        return std::nullopt;
    return block;
}

XzStreamFrame::IndexState XzStreamFrame::readIndex(std::span<const std::uint8_t> input,
                                                   std::size_t& consumed) {
    std::size_t position = 0;
    const lzma_ret result = lzma_index_hash_decode(m_state->index, input.data(), &position, input.size());
    consumed = position;
    if (result == LZMA_OK)
        return IndexState::NeedsMore;
    return result == LZMA_STREAM_END ? IndexState::Ended : IndexState::Damaged;
}

bool XzStreamFrame::readStreamFooter(std::span<const std::uint8_t> footer) {
    lzma_stream_flags flags{};
    return footer.size() == StreamFooterSize && lzma_stream_footer_decode(&flags, footer.data()) == LZMA_OK &&
           lzma_index_hash_size(m_state->index) == flags.backward_size &&
           lzma_stream_flags_compare(&m_state->flags, &flags) == LZMA_OK;
}

struct XzBlockDecoder::State {
    DecoderHeap heap;
    lzma_allocator allocator = lzmaAllocatorFor(heap);
    lzma_stream stream = LZMA_STREAM_INIT; // kept from block to block, with its dictionary
    lzma_block options{};
    std::array<lzma_filter, LZMA_FILTERS_MAX + 1> filters{};
    std::vector<std::uint8_t> output = std::vector<std::uint8_t>(OutputChunk);
    bool ended = false;
};

XzBlockDecoder::XzBlockDecoder(std::uint64_t allowance) : m_state(std::make_unique<State>()) {
    m_state->heap.setAllowance(allowance);
    m_state->stream.allocator = &m_state->allocator;
}

XzBlockDecoder::~XzBlockDecoder() {
    lzma_end(&m_state->stream);
}

bool XzBlockDecoder::start(std::span<const std::uint8_t> header, unsigned check, std::uint64_t entrySize) {
    State& state = *m_state;
    m_crc = 0;
    m_length = 0;
    state.ended = false;
    if (!decodeBlockHeader(state.options, state.filters.data(), header, static_cast<lzma_check>(check),
                           entrySize, &state.allocator))
        return false;
    const bool started = lzma_raw_decoder_memusage(state.filters.data()) != UINT64_MAX &&
                         lzma_block_decoder(&state.stream, &state.options) == LZMA_OK;
    lzma_filters_free(state.filters.data(), &state.allocator);
    state.options.filters = nullptr;
    return started;
}

XzBlockDecoder::Step XzBlockDecoder::decode(std::span<const std::uint8_t> input, std::size_t& consumed) {
    State& state = *m_state;
    consumed = 0;
    if (state.ended)
        return input.empty() ? Step::Ended : Step::Failed;
    lzma_stream& stream = state.stream;
    stream.next_in = input.data();
    stream.avail_in = input.size();
    stream.next_out = state.output.data();
    stream.avail_out = state.output.size();
    const lzma_ret result = lzma_code(&stream, LZMA_RUN);
    consumed = input.size() - stream.avail_in;
    const std::size_t produced = state.output.size() - stream.avail_out;
    m_crc = crc32Update(m_crc, std::span<const std::uint8_t>(state.output).first(produced));
    m_length += produced;
    if (result == LZMA_STREAM_END) {
        state.ended = true;
        return stream.avail_in == 0 ? Step::Ended : Step::Failed;
    }
    // LZMA_BUF_ERROR only says that nothing could be done without more input or room.
    if (result != LZMA_OK && result != LZMA_BUF_ERROR)
        return Step::Failed;
    if (stream.avail_out == 0)
        return Step::OutputFull;
    return stream.avail_in == 0 ? Step::NeedsInput : Step::Failed;
}

} // namespace vellum
