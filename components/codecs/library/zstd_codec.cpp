#include "zstd_codec.h"

#define ZSTD_STATIC_LINKING_ONLY // the custom allocator
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

namespace vellum {

ZstdCodec::ZstdCodec(std::span<std::uint8_t> outputBuffer) : m_output(outputBuffer) {}

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
    // The limit belongs to the context and survives every later session reset.
    if (m_context && ZSTD_isError(ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, ZSTD_WINDOWLOG_MAX)))
        releaseMemory();
    return m_context != nullptr;
}

void ZstdCodec::releaseMemory() {
    ZSTD_freeDCtx(m_context);
    m_context = nullptr;
}

bool ZstdCodec::reset(const CodecEntry& entry) {
    m_atFrameBoundary = false;
    m_heap.setAllowance(entry.memoryAllowance);
    m_heap.clearNeeded();
    m_heap.clearSystemRefused();
    if (m_context)
        ZSTD_DCtx_reset(m_context, ZSTD_reset_session_only);
    return true;
}

CodecStep ZstdCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    CodecStep step;
    if (!makeContext()) {
        step.state = m_heap.needed() > m_heap.allowance() ? CodecState::NeedsMemory : CodecState::Unsupported;
        step.memoryNeeded = m_heap.needed();
        return step;
    }
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    ZSTD_outBuffer out{m_output.data(), std::min(outputLimit, m_output.size()), 0};
    // One call of libzstd stops at the end of a frame; the loop goes on into the next frame.
    while (out.pos < out.size) {
        const std::size_t inputBefore = in.pos;
        const std::size_t outputBefore = out.pos;
        const std::size_t result = ZSTD_decompressStream(m_context, &out, &in);
        if (ZSTD_isError(result)) {
            const ZSTD_ErrorCode error = ZSTD_getErrorCode(result);
            step.state = CodecState::Damaged;
            if (error == ZSTD_error_memory_allocation) {
                const bool overAllowance = m_heap.needed() > m_heap.allowance();
                step.state = overAllowance ? CodecState::NeedsMemory : CodecState::Unsupported;
                step.memoryNeeded = m_heap.needed();
            }
            step.consumed = in.pos;
            step.output = std::span<const std::uint8_t>(m_output).first(out.pos);
            m_atFrameBoundary = false;
            return step;
        }
        if (result == 0)
            m_atFrameBoundary = true; // a frame ended and all its output is out
        else if (in.pos != inputBefore || out.pos != outputBefore)
            m_atFrameBoundary = false;
        // No progress: libzstd wants input it was not given.
        if (in.pos == inputBefore && out.pos == outputBefore)
            break;
    }
    step.consumed = in.pos;
    step.output = std::span<const std::uint8_t>(m_output).first(out.pos);
    step.state = out.pos == out.size ? CodecState::OutputFull : CodecState::NeedsInput;
    return step;
}

} // namespace vellum
