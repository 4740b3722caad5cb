#include "codecs/own/ppmd_codec.h"

#include <algorithm>

namespace vellum {

PpmdCodec::PpmdCodec(std::span<std::uint8_t> outputBuffer) : m_output(outputBuffer) {}

bool PpmdCodec::reset(const CodecEntry& entry) {
    m_bufferStart = m_bufferEnd = 0;
    m_received = 0;
    m_compressedSize = entry.compressedSize;
    m_produced = 0;
    m_total = entry.uncompressedSize;
    m_memoryAllowance = entry.memoryAllowance;
    m_memoryNeeded = 0;
    m_phase = Phase::Header;
    return true;
}

// Reads the parameter word and starts the model and the range decoder.
CodecState PpmdCodec::startModel() {
    const std::uint8_t* header = m_buffer.data() + m_bufferStart;
    const unsigned word = header[0] | static_cast<unsigned>(header[1]) << 8;
    const unsigned order = (word & 0x0F) + 1;
    const std::uint32_t memory = (((word >> 4) & 0xFF) + 1) << 20;
    const unsigned restoreMethod = word >> 12;
    if (order < 2 || restoreMethod > PpmdModel::RestoreFreeze)
        return CodecState::Damaged;
    switch (m_model.reserve(memory, m_memoryAllowance)) {
    case PpmdModel::Reserved::Ready:
        break;
    case PpmdModel::Reserved::OverAllowance:
        m_memoryNeeded = m_model.heap().needed();
        return CodecState::NeedsMemory;
    case PpmdModel::Reserved::NoMemory:
        m_memoryNeeded = m_model.heap().refusedNeed();
        return CodecState::MemoryUnavailable;
    }
    m_model.start(order, restoreMethod);
    m_decoder.setInput(header + 2, header + HeaderSize);
    m_decoder.start();
    m_bufferStart += HeaderSize;
    m_phase = Phase::Symbols;
    return m_decoder.failed() ? CodecState::Damaged : CodecState::NeedsInput;
}

// 7-Zip ends its streams with an escape out of the order-0 context before flushing the coder, while
// other writers stop after the last symbol. The coder reads four bytes ahead, as many as the flush
// writes, so a stream without the marker is used up exactly when the last symbol is decoded; any
// bytes left must hold the marker, and otherwise they stay unused for the verifier to judge.
void PpmdCodec::skipEndMark() {
    if (buffered() == 0)
        return;
    const std::uint8_t* end = m_buffer.data() + m_bufferEnd;
    m_decoder.setInput(m_buffer.data() + m_bufferStart, end);
    const int value = m_model.decodeSymbol(m_decoder);
    if (value == PpmdModel::EndMark && !m_decoder.overrun() && !m_decoder.failed())
        m_bufferStart = static_cast<std::size_t>(m_decoder.position() - m_buffer.data());
}

CodecStep PpmdCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    const std::size_t limit = std::min(outputLimit, m_output.size());
    std::size_t written = 0;
    std::size_t position = 0;
    CodecStep step;
    for (;;) {
        if (buffered() < Reserve && position < input.size()) {
            std::copy(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_bufferStart),
                      m_buffer.begin() + static_cast<std::ptrdiff_t>(m_bufferEnd), m_buffer.begin());
            m_bufferEnd -= m_bufferStart;
            m_bufferStart = 0;
            const std::size_t take = std::min(m_buffer.size() - m_bufferEnd, input.size() - position);
            std::copy_n(input.data() + position, take, m_buffer.data() + m_bufferEnd);
            m_bufferEnd += take;
            position += take;
            m_received += take;
        }
        const bool allReceived = m_received >= m_compressedSize;
        if (m_phase == Phase::Header) {
            if (buffered() < HeaderSize) {
                if (allReceived)
                    m_phase = Phase::Truncated;
                step.state = CodecState::NeedsInput;
                break;
            }
            step.state = startModel();
            if (step.state != CodecState::NeedsInput)
                break;
        }
        if (m_phase == Phase::Truncated) {
            // The stream ended inside a symbol: take what is offered and wait for an end that the
            // verifier reports as truncation.
            position = input.size();
            step.state = CodecState::NeedsInput;
            break;
        }
        if (m_produced == m_total) {
            // The writer may close the stream with an end marker; wait for the input it needs.
            if (buffered() != 0 && buffered() < Reserve && !allReceived) {
                step.state = CodecState::NeedsInput;
                break;
            }
            skipEndMark();
            step.state = CodecState::Finished;
            step.unusedInput = buffered() + (input.size() - position);
            break;
        }
        if (written == limit) {
            step.state = CodecState::OutputFull;
            break;
        }
        if (buffered() < Reserve && !allReceived) {
            step.state = CodecState::NeedsInput;
            break;
        }
        const std::uint8_t* end = m_buffer.data() + m_bufferEnd;
        m_decoder.setInput(m_buffer.data() + m_bufferStart, end);
        // Counted in locals: a byte stored to the output could otherwise alias every member.
        std::uint8_t* const output = m_output.data() + written;
        const auto room =
            static_cast<std::size_t>(std::min<std::uint64_t>(limit - written, m_total - m_produced));
        std::size_t made = 0;
        while (made < room &&
               (allReceived || static_cast<std::size_t>(end - m_decoder.position()) >= Reserve)) {
            const int value = m_model.decodeSymbol(m_decoder);
            if (m_model.exhausted()) {
                step.state = CodecState::Unsupported;
                break;
            }
            if (value < 0 || m_decoder.failed()) {
                step.state = CodecState::Damaged;
                break;
            }
            if (m_decoder.overrun()) {
                m_phase = Phase::Truncated;
                break;
            }
            output[made++] = static_cast<std::uint8_t>(value);
        }
        written += made;
        m_produced += made;
        m_bufferStart = static_cast<std::size_t>(m_decoder.position() - m_buffer.data());
        if (step.state == CodecState::Damaged || step.state == CodecState::Unsupported)
            break;
    }
    step.consumed = position;
    step.output = std::span<const std::uint8_t>(m_output.data(), written);
    if (step.state == CodecState::NeedsMemory || step.state == CodecState::MemoryUnavailable)
        step.memoryNeeded = m_memoryNeeded;
    return step;
}

} // namespace vellum
