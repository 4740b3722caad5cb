#include "codecs/library/lzma_codec.h"

#include "base/little_endian_reader.h"
#include "codecs/library/lzma_allocator.h"
#include "codecs/library/lzma_step.h"

#include <lzma.h>

#include <algorithm>
#include <cstdint>

namespace vellum {

namespace {

// General-purpose flag bit 1 for method 14: the stream carries an end-of-stream marker.
constexpr std::uint16_t EndMarkerFlag = 0x0002;
constexpr std::uint32_t SmallestDictionary = 4096;

} // namespace

struct LzmaCodec::Stream {
    DecoderHeap heap;
    lzma_allocator allocator = lzmaAllocatorFor(heap);
    lzma_stream state = LZMA_STREAM_INIT;
    lzma_options_lzma options{};
};

LzmaCodec::LzmaCodec(std::span<std::uint8_t> outputBuffer)
    : m_output(outputBuffer), m_stream(std::make_unique<Stream>()) {
    m_stream->state.allocator = &m_stream->allocator;
}

LzmaCodec::~LzmaCodec() {
    lzma_end(&m_stream->state);
}

bool LzmaCodec::reset(const CodecEntry& entry) {
    m_entry = entry;
    m_headerLength = 0;
    m_phase = Phase::Header;
    m_stream->heap.setAllowance(entry.memoryAllowance);
    m_stream->heap.clearNeeded();
    m_stream->heap.clearSystemRefused();
    return true;
}

void LzmaCodec::releaseMemory() {
    lzma_end(&m_stream->state);
}

const DecoderHeap& LzmaCodec::heap() const {
    return m_stream->heap;
}

void LzmaCodec::startStream() {
    LittleEndianReader reader(m_header);
    reader.skip(2); // the version of the SDK that wrote the stream: it does not matter for decoding
    const std::uint16_t propertiesSize = reader.u16();
    const std::uint8_t modelByte = reader.take(1)[0];
    const std::uint64_t declaredDictionary = reader.u32();
    // The model byte packs (pb * 5 + lp) * 9 + lc, with pb at most 4, lp at most 4 and lc at most 8.
    if (propertiesSize != 5 || modelByte >= 9 * 5 * 5) {
        m_phase = Phase::Damaged;
        return;
    }
    // The declared dictionary is a 32-bit field, so the smaller of it and the size fits liblzma's.
    const std::uint64_t dictionary =
        std::max<std::uint64_t>(std::min(declaredDictionary, m_entry.uncompressedSize), SmallestDictionary);
    lzma_options_lzma& options = m_stream->options;
    options = lzma_options_lzma{};
    options.dict_size = static_cast<std::uint32_t>(dictionary);
    options.lc = modelByte % 9u;
    options.lp = modelByte / 9u % 5u;
    options.pb = modelByte / 45u;
    if (m_entry.flags & EndMarkerFlag) {
        // The marker ends the stream; the verifier judges the size it comes to.
        lzma_set_ext_size(options, UINT64_MAX);
    } else {
        options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        lzma_set_ext_size(options, m_entry.uncompressedSize);
    }
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    // liblzma reuses its coder and its dictionary buffer when the stream is started again with a
    // dictionary of the same size.
    const lzma_ret result = lzma_raw_decoder(&m_stream->state, filters);
    // Any other failure here is liblzma's limit, not the stream's fault: a model it does not take
    // (lc + lp above 4 is still valid LZMA) or no memory in the system.
    if (result == LZMA_OK)
        m_phase = Phase::Stream;
    else if (m_stream->heap.needed() > m_stream->heap.allowance())
        m_phase = Phase::NeedsMemory;
    else if (m_stream->heap.systemRefused())
        m_phase = Phase::NoMemory;
    else
        m_phase = Phase::Refused;
}

CodecStep LzmaCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    CodecStep step;
    if (m_phase == Phase::Header) {
        const std::size_t taken = std::min(input.size(), HeaderLength - m_headerLength);
        std::copy_n(input.begin(), taken, m_header.begin() + static_cast<std::ptrdiff_t>(m_headerLength));
        m_headerLength += taken;
        step.consumed = taken;
        input = input.subspan(taken);
        if (m_headerLength < HeaderLength) {
            step.state = CodecState::NeedsInput;
            return step;
        }
        startStream();
    }
    switch (m_phase) {
    case Phase::Header:
    case Phase::Stream:
        break;
    case Phase::Finished:
        step.state = CodecState::Finished;
        step.unusedInput = input.size();
        return step;
    case Phase::Refused:
        step.state = CodecState::Unsupported;
        return step;
    case Phase::NeedsMemory:
        step.state = CodecState::NeedsMemory;
        step.memoryNeeded = m_stream->heap.needed();
        return step;
    case Phase::NoMemory:
        step.state = CodecState::MemoryUnavailable;
        step.memoryNeeded = m_stream->heap.refusedNeed();
        return step;
    case Phase::Damaged:
        step.state = CodecState::Damaged;
        return step;
    }

    const LzmaStep decoded = runLzmaStep(m_stream->state, input, m_output, outputLimit);
    step.consumed += decoded.consumed;
    step.output = decoded.output;
    if (decoded.result == LZMA_STREAM_END) {
        m_phase = Phase::Finished;
        step.state = CodecState::Finished;
        step.unusedInput = decoded.inputLeft;
    } else if (decoded.result == LZMA_MEM_ERROR) {
        step.state = CodecState::Unsupported;
        if (m_stream->heap.needed() > m_stream->heap.allowance()) {
            step.state = CodecState::NeedsMemory;
            step.memoryNeeded = m_stream->heap.needed();
        } else if (m_stream->heap.systemRefused()) {
            step.state = CodecState::MemoryUnavailable;
            step.memoryNeeded = m_stream->heap.refusedNeed();
        }
    } else if (decoded.result != LZMA_OK && decoded.result != LZMA_BUF_ERROR) {
        // LZMA_BUF_ERROR only says that nothing could be done without more input.
        m_phase = Phase::Damaged;
        step.state = CodecState::Damaged;
    } else if (decoded.outputFull) {
        step.state = CodecState::OutputFull;
    } else {
        step.state = CodecState::NeedsInput;
    }
    return step;
}

} // namespace vellum
