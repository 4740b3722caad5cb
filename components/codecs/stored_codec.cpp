#include "codecs/stored_codec.h"

#include <algorithm>

namespace vellum {

CodecStep StoredCodec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    CodecStep step;
    step.consumed = std::min(input.size(), outputLimit);
    step.output = input.first(step.consumed);
    step.state = step.consumed < input.size() ? CodecState::OutputFull : CodecState::NeedsInput;
    return step;
}

} // namespace vellum
