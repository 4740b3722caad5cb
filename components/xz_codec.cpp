#include "xz_codec.h"

#include <lzma.h>

#include <algorithm>

namespace vellum {

struct XzCodec::Stream {
    lzma_stream state = LZMA_STREAM_INIT;
};

XzCodec::XzCodec(std::span<std::uint8_t> outputBuffer, std::uint64_t memoryLimit)
    : m_output(outputBuffer), m_memoryLimit(memoryLimit), m_stream(std::make_unique<Stream>()) {}

XzCodec::~XzCodec() {
    lzma_end(&m_stream->state);
}

bool XzCodec::reset(const CodecEntry&) {
    m_finished = false;
    // Starting again on the same lzma_stream lets liblzma keep the coders it already has. No
    // LZMA_CONCATENATED: the entry is one stream. Only the memory can fail here.
    m_started = lzma_stream_decoder(&m_stream->state, m_memoryLimit, 0) == LZMA_OK;
    return true;
}

CodecStep XzCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    CodecStep step;
    if (!m_started) {
        step.state = CodecState::Unsupported;
        return step;
    }
    if (m_finished) {
        step.state = CodecState::Finished;
        step.unusedInput = input.size();
        return step;
    }
    const std::size_t limit = std::min(outputLimit, m_output.size());
    lzma_stream& stream = m_stream->state;
    stream.next_in = input.data();
    stream.avail_in = input.size();
    stream.next_out = m_output.data();
    stream.avail_out = limit;
    const lzma_ret result = lzma_code(&stream, LZMA_RUN);

    step.consumed = input.size() - stream.avail_in;
    step.output = std::span<const std::uint8_t>(m_output).first(limit - stream.avail_out);
    switch (result) {
    case LZMA_STREAM_END:
        m_finished = true;
        step.state = CodecState::Finished;
        step.unusedInput = stream.avail_in;
        break;
    case LZMA_OK:
    case LZMA_BUF_ERROR: // nothing could be done without more input
        step.state = stream.avail_out == 0 ? CodecState::OutputFull : CodecState::NeedsInput;
        break;
    case LZMA_MEMLIMIT_ERROR:
    case LZMA_MEM_ERROR:
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
