#include "codecs/library/zstd_codec.h"

#define ZSTD_STATIC_LINKING_ONLY // the custom allocator and the buffer-less decoder
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace vellum {

namespace {

// A skippable frame's content is never read, so its bytes are only counted; libzstd still wants to
// be told of them at once, through a pointer it does not follow.
const std::uint8_t NothingToRead = 0;

// Whether the first bytes of a frame, fewer than libzstd takes at once, can still begin a Zstandard
// frame or a skippable one. libzstd's own streaming decoder looks at them as they come, so junk
// after the last frame is damage however short it is, not a frame cut short.
bool canBeginFrame(const std::uint8_t* bytes, std::size_t length) {
    constexpr std::uint8_t Magic[] = {0x28, 0xB5, 0x2F, 0xFD};
    constexpr std::uint8_t SkippableMagic[] = {0x50, 0x2A, 0x4D, 0x18}; // its first byte's low half varies
    bool frame = true;
    bool skippable = true;
    for (std::size_t index = 0; index < length && index < 4; ++index) {
        frame = frame && bytes[index] == Magic[index];
        skippable =
            skippable && (index == 0 ? (bytes[0] & 0xF0) == 0x50 : bytes[index] == SkippableMagic[index]);
    }
    return frame || skippable;
}

} // namespace

// The decoder writes into a window of its own, so the output buffer it is built with is not used.
ZstdCodec::ZstdCodec(std::span<std::uint8_t> /*outputBuffer*/) {}

ZstdCodec::~ZstdCodec() {
    releaseMemory();
}

bool ZstdCodec::makeContext() {
    if (m_context)
        return true;
    const ZSTD_customMem memory{
        [](void* heap, std::size_t size) { return static_cast<DecoderHeap*>(heap)->allocate(size); },
        [](void* heap, void* block) { static_cast<DecoderHeap*>(heap)->release(block); }, &m_heap};
    m_context = ZSTD_createDCtx_advanced(memory);
    return m_context != nullptr;
}

void ZstdCodec::releaseMemory() {
    ZSTD_freeDCtx(m_context);
    m_context = nullptr;
    m_heap.release(m_window);
    m_window = nullptr;
    m_windowCapacity = 0;
    m_heap.release(m_staging);
    m_staging = nullptr;
    m_stagingCapacity = 0;
}

bool ZstdCodec::reset(const CodecEntry& entry) {
    m_heap.setAllowance(entry.memoryAllowance);
    m_heap.clearNeeded();
    m_heap.clearSystemRefused();
    m_entrySize = entry.uncompressedSize;
    m_windowUsed = 0;
    m_pendingStart = m_pendingEnd = 0;
    m_staged = 0;
    m_skipped = 0;
    m_headerLength = 0;
    m_inFrame = false;
    m_windowReady = false;
    m_skippableHeader = false;
    m_atFrameBoundary = false;
    m_failure = CodecState::NeedsInput;
    return true;
}

CodecStep ZstdCodec::refusal(std::size_t consumed) const {
    CodecStep step;
    step.consumed = consumed;
    step.state = CodecState::Unsupported;
    if (m_heap.needed() > m_heap.allowance()) {
        step.state = CodecState::NeedsMemory;
        step.memoryNeeded = m_heap.needed();
    } else if (m_heap.systemRefused()) {
        step.state = CodecState::MemoryUnavailable;
        step.memoryNeeded = m_heap.refusedNeed();
    }
    return step;
}

bool ZstdCodec::reserveStaging(std::size_t bytes) {
    if (m_stagingCapacity >= bytes)
        return true;
    // Staged input is at most one block, which a frame header bounds by 128 KiB.
    const std::size_t capacity = std::max<std::size_t>(bytes, ZSTD_BLOCKSIZE_MAX);
    auto* grown = static_cast<std::uint8_t*>(m_heap.allocate(capacity));
    if (!grown)
        return false;
    if (m_staged > 0)
        std::memcpy(grown, m_staging, m_staged);
    m_heap.release(m_staging);
    m_staging = grown;
    m_stagingCapacity = capacity;
    return true;
}

bool ZstdCodec::prepareWindow() {
    ZSTD_frameHeader header{};
    if (ZSTD_getFrameHeader(&header, m_header.data(), m_headerLength) != 0)
        return false;
    m_blockSizeMax = header.blockSizeMax;
    // All the frame may produce before the verifier stops (one byte past the entry's size) fits in
    // the entry's size and one block; a frame that declares its content size produces no more.
    const std::uint64_t entryBound =
        m_entrySize > UINT64_MAX - m_blockSizeMax ? UINT64_MAX : m_entrySize + m_blockSizeMax;
    const std::uint64_t content = header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN
                                      ? entryBound
                                      : std::min<std::uint64_t>(header.frameContentSize, entryBound);
    // The round buffer libzstd's own streaming decoder would keep for the declared window.
    const std::size_t round = ZSTD_decodingBufferSize_min(header.windowSize, ZSTD_CONTENTSIZE_UNKNOWN);
    std::uint64_t size = 0;
    if (ZSTD_isError(round) || content <= round) {
        m_flat = true;
        size = content;
    } else {
        m_flat = false;
        size = round;
    }
    if (size > SIZE_MAX - 1)
        size = SIZE_MAX - 1;
    m_windowUsed = 0;
    m_pendingStart = m_pendingEnd = 0;
    if (m_windowCapacity < size || !m_window) {
        m_heap.release(m_window);
        m_window = nullptr;
        m_windowCapacity = 0;
        // A frame with nothing to produce still gets a byte, so that the window is never null.
        const std::size_t capacity = std::max<std::size_t>(static_cast<std::size_t>(size), 1);
        m_window = static_cast<std::uint8_t*>(m_heap.allocate(capacity));
        if (!m_window)
            return false;
        m_windowCapacity = capacity;
    }
    m_windowReady = true;
    return true;
}

// What libzstd asks for next, and where its bytes are once gathered.
struct ZstdCodec::NextInput {
    ZSTD_nextInputType_e kind;
    std::size_t needed;                   // the bytes libzstd takes for this step
    std::size_t length = needed;          // the bytes handed to it: fewer for a piece of a raw block
    const std::uint8_t* source = nullptr; // in the input, in the staging buffer, or nothing to read
};

CodecStep ZstdCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    if (m_failure != CodecState::NeedsInput) {
        CodecStep step;
        step.state = m_failure;
        return step;
    }
    if (!makeContext())
        return refusal(0);
    std::size_t consumed = 0;
    for (;;) {
        // Decoded bytes go out first.
        if (m_pendingStart < m_pendingEnd)
            return handOut(outputLimit, consumed);
        if (!m_inFrame) {
            if (consumed == input.size())
                return stepOf(CodecState::NeedsInput, consumed);
            if (!beginFrame())
                return fail(CodecState::Damaged, consumed);
        }
        const std::size_t needed = ZSTD_nextSrcSizeToDecompress(m_context);
        if (needed == 0) {
            // The frame has ended, and all it produced is out.
            m_inFrame = false;
            m_atFrameBoundary = true;
            continue;
        }
        NextInput next{ZSTD_nextInputType(m_context), needed};
        if (next.kind == ZSTDnit_blockHeader && !m_windowReady && !prepareWindow())
            return m_heap.needed() > 0 || m_heap.systemRefused() ? refusal(consumed)
                                                                 : fail(CodecState::Damaged, consumed);
        if (const std::optional<CodecStep> ended = gather(input, consumed, next))
            return *ended;
        if (!feed(next))
            return fail(CodecState::Damaged, consumed);
    }
}

CodecStep ZstdCodec::stepOf(CodecState state, std::size_t consumed) const {
    CodecStep step;
    step.consumed = consumed;
    step.state = state;
    return step;
}

CodecStep ZstdCodec::fail(CodecState state, std::size_t consumed) {
    m_failure = state;
    m_atFrameBoundary = false;
    return stepOf(state, consumed);
}

CodecStep ZstdCodec::handOut(std::size_t outputLimit, std::size_t consumed) {
    CodecStep step = stepOf(CodecState::OutputFull, consumed);
    // At most outputLimit bytes, straight from the window.
    const std::size_t length = std::min(m_pendingEnd - m_pendingStart, outputLimit);
    step.output = std::span<const std::uint8_t>(m_window + m_pendingStart, length);
    m_pendingStart += length;
    // Once a block is out, the next one starts again at the window's start when it might not fit
    // after it.
    if (m_pendingStart == m_pendingEnd && !m_flat && m_windowUsed + m_blockSizeMax > m_windowCapacity)
        m_windowUsed = 0;
    return step;
}

// Another frame begins: the place where the input may end lies behind.
bool ZstdCodec::beginFrame() {
    if (ZSTD_isError(ZSTD_decompressBegin(m_context)))
        return false;
    m_inFrame = true;
    m_windowReady = false;
    m_skippableHeader = false;
    m_headerLength = 0;
    m_atFrameBoundary = false;
    return true;
}

// Gathers exactly the bytes libzstd wants for its next step; an uncompressed block's are taken as
// they come, as libzstd's streaming decoder takes them.
std::optional<CodecStep> ZstdCodec::gather(std::span<const std::uint8_t> input, std::size_t& consumed,
                                           NextInput& next) {
    const std::size_t available = input.size() - consumed;
    if (next.kind == ZSTDnit_skippableFrame && !m_skippableHeader) {
        const std::uint64_t take = std::min<std::uint64_t>(next.needed - m_skipped, available);
        m_skipped += take;
        consumed += static_cast<std::size_t>(take);
        if (m_skipped < next.needed)
            return stepOf(CodecState::NeedsInput, consumed);
        m_skipped = 0;
        next.source = &NothingToRead;
        return std::nullopt;
    }
    if (available == 0)
        return stepOf(CodecState::NeedsInput, consumed);
    const bool rawPiece =
        (next.kind == ZSTDnit_block || next.kind == ZSTDnit_lastBlock) && m_rawBlock && m_staged == 0;
    if (rawPiece || (m_staged == 0 && available >= next.needed)) {
        next.length = std::min(next.needed, available);
        next.source = input.data() + consumed;
        consumed += next.length;
        return std::nullopt;
    }
    if (!reserveStaging(next.needed))
        return refusal(consumed);
    const std::size_t take = std::min(next.needed - m_staged, available);
    std::memcpy(m_staging + m_staged, input.data() + consumed, take);
    m_staged += take;
    consumed += take;
    if (next.kind == ZSTDnit_frameHeader && m_headerLength == 0 && !canBeginFrame(m_staging, m_staged))
        return fail(CodecState::Damaged, consumed);
    if (m_staged < next.needed)
        return stepOf(CodecState::NeedsInput, consumed);
    m_staged = 0;
    next.source = m_staging;
    return std::nullopt;
}

bool ZstdCodec::feed(const NextInput& next) {
    // libzstd's buffer-less decoder checks the magic number only once the whole header is in.
    if (next.kind == ZSTDnit_frameHeader && m_headerLength == 0 && !canBeginFrame(next.source, next.needed))
        return false;
    if (next.kind == ZSTDnit_frameHeader && m_headerLength + next.needed <= m_header.size()) {
        std::memcpy(m_header.data() + m_headerLength, next.source, next.needed);
        m_headerLength += next.needed;
    }
    std::uint8_t* destination = m_windowReady ? m_window + m_windowUsed : nullptr;
    const std::size_t room = m_windowReady ? m_windowCapacity - m_windowUsed : 0;
    const std::size_t produced =
        ZSTD_decompressContinue(m_context, destination, room, next.source, next.length);
    if (ZSTD_isError(produced))
        return false;
    // A block header's type field: 0 is an uncompressed block.
    if (next.kind == ZSTDnit_blockHeader)
        m_rawBlock = ((next.source[0] >> 1) & 3) == 0;
    // A skippable frame's first four bytes are followed by its size field, then its content.
    const ZSTD_nextInputType_e following = ZSTD_nextInputType(m_context);
    m_skippableHeader = next.kind == ZSTDnit_frameHeader && following == ZSTDnit_skippableFrame;
    if (produced > 0) {
        m_pendingStart = m_windowUsed;
        m_pendingEnd = m_windowUsed + produced;
        m_windowUsed += produced;
    }
    return true;
}

} // namespace vellum
