#include "xz_codec.h"

#include "lzma_allocator.h"
#include "lzma_step.h"

#include <lzma.h>

#include <algorithm>

namespace vellum {

struct XzCodec::Stream {
    DecoderHeap heap;
    lzma_allocator allocator = lzmaAllocatorFor(heap);
    lzma_stream state = LZMA_STREAM_INIT;
};

XzCodec::XzCodec(std::span<std::uint8_t> outputBuffer)
    : m_output(outputBuffer), m_stream(std::make_unique<Stream>()) {
    m_stream->state.allocator = &m_stream->allocator;
}

XzCodec::~XzCodec() {
    lzma_end(&m_stream->state);
}

bool XzCodec::reset(const CodecEntry& entry) {
    m_finished = false;
    m_stream->heap.setAllowance(entry.memoryAllowance);
    m_stream->heap.clearNeeded();
    m_stream->heap.clearSystemRefused();
    // Starting again on the same lzma_stream lets liblzma keep the coders it already has. No
    // LZMA_CONCATENATED: the entry is one stream. The heap, not liblzma's own limit, bounds the
    // memory. Only the memory can fail here.
    m_started = lzma_stream_decoder(&m_stream->state, UINT64_MAX, 0) == LZMA_OK;
    return true;
}

void XzCodec::releaseMemory() {
    lzma_end(&m_stream->state);
}

CodecStep XzCodec::refusal() const {
    CodecStep step;
    step.state = CodecState::Unsupported;
    if (m_stream->heap.needed() > m_stream->heap.allowance()) {
        step.state = CodecState::NeedsMemory;
        step.memoryNeeded = m_stream->heap.needed();
    }
    return step;
}

CodecStep XzCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    CodecStep step;
    if (!m_started)
        return refusal();
    if (m_finished) {
        step.state = CodecState::Finished;
        step.unusedInput = input.size();
        return step;
    }
    const LzmaStep decoded = runLzmaStep(m_stream->state, input, m_output, outputLimit);
    step.consumed = decoded.consumed;
    step.output = decoded.output;
    switch (decoded.result) {
    case LZMA_STREAM_END:
        m_finished = true;
        step.state = CodecState::Finished;
        step.unusedInput = decoded.inputLeft;
        break;
    case LZMA_OK:
    case LZMA_BUF_ERROR: // nothing could be done without more input
        step.state = decoded.outputFull ? CodecState::OutputFull : CodecState::NeedsInput;
        break;
    case LZMA_MEMLIMIT_ERROR:
    case LZMA_MEM_ERROR: {
        const CodecStep refused = refusal();
        step.state = refused.state;
        step.memoryNeeded = refused.memoryNeeded;
        break;
    }
    // A filter or check this liblzma does not know. Block headers carry their own CRC, so an
    // unknown filter is a real one from a newer writer, not damage.
    case LZMA_OPTIONS_ERROR:
        step.state = CodecState::Unsupported;
        break;
    default:
        step.state = CodecState::Damaged;
        break;
    }
    return step;
}

} // namespace vellum
