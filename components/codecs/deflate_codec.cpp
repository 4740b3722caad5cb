#include "codecs/deflate_codec.h"

#include <isa-l/igzip_lib.h>

#include <algorithm>

namespace vellum {

DeflateCodec::DeflateCodec(std::span<std::uint8_t> outputBuffer)
    : m_output(outputBuffer), m_state(std::make_unique<inflate_state>()) {
    reset({});
}

DeflateCodec::~DeflateCodec() = default;

bool DeflateCodec::reset(const CodecEntry&) {
    isal_inflate_init(m_state.get());
    m_state->crc_flag = ISAL_DEFLATE;
    return true;
}

CodecStep DeflateCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    inflate_state& state = *m_state;
    const std::size_t limit = std::min(outputLimit, m_output.size());
    // ISA-L never writes through next_in; its field is just not declared const.
    state.next_in = const_cast<std::uint8_t*>(input.data());
    state.avail_in = static_cast<std::uint32_t>(input.size());
    state.next_out = m_output.data();
    state.avail_out = static_cast<std::uint32_t>(limit);
    const int result = isal_inflate(&state);

    CodecStep step;
    // When the stream ends, ISA-L hands back the whole bytes it had read ahead by moving next_in
    // back; those may include bytes given in an earlier call, so avail_in can exceed this input.
    step.consumed = input.size() - std::min<std::size_t>(state.avail_in, input.size());
    step.output = std::span<const std::uint8_t>(m_output).first(limit - state.avail_out);
    if (result < 0) {
        step.state = CodecState::Damaged;
    } else if (state.block_state == ISAL_BLOCK_FINISH) {
        step.state = CodecState::Finished;
        // ISA-L reads ahead into a bit buffer: whole bytes still in it were never part of the
        // stream, so they count as unused alongside what is left in the input.
        step.unusedInput = state.avail_in + static_cast<std::size_t>(std::max(state.read_in_length, 0) / 8);
    } else if (state.avail_out == 0) {
        step.state = CodecState::OutputFull;
    } else {
        step.state = CodecState::NeedsInput;
    }
    return step;
}

} // namespace vellum
