#include "zstd_codec.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

namespace vellum {

ZstdCodec::ZstdCodec(std::span<std::uint8_t> outputBuffer, int windowLogLimit)
    : m_output(outputBuffer), m_context(ZSTD_createDCtx()) {
    // The limit belongs to the context and survives every later session reset.
    m_contextReady =
        m_context && !ZSTD_isError(ZSTD_DCtx_setParameter(m_context, ZSTD_d_windowLogMax, windowLogLimit));
}

ZstdCodec::~ZstdCodec() {
    ZSTD_freeDCtx(m_context);
}

bool ZstdCodec::reset(const CodecEntry&) {
    m_atFrameBoundary = false;
    if (m_contextReady)
        ZSTD_DCtx_reset(m_context, ZSTD_reset_session_only);
    return true;
}

CodecStep ZstdCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    CodecStep step;
    if (!m_contextReady) {
        step.state = CodecState::Unsupported;
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
            step.state =
                error == ZSTD_error_frameParameter_windowTooLarge || error == ZSTD_error_memory_allocation
                    ? CodecState::Unsupported
                    : CodecState::Damaged;
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
