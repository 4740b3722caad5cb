#pragma once

// One call of a liblzma decoder over the input it is given, into the first outputLimit bytes of the
// output buffer: the step the LZMA and xz codecs share.

#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <span>

namespace vellum {

struct LzmaStep {
    lzma_ret result = LZMA_OK;
    std::size_t consumed = 0;
    std::size_t inputLeft = 0;
    std::span<const std::uint8_t> output;
    bool outputFull = false;
};

inline LzmaStep runLzmaStep(lzma_stream& stream, std::span<const std::uint8_t> input,
                            std::span<std::uint8_t> outputBuffer, std::size_t outputLimit) {
    const std::size_t limit = std::min(outputLimit, outputBuffer.size());
    stream.next_in = input.data();
    stream.avail_in = input.size();
    stream.next_out = outputBuffer.data();
    stream.avail_out = limit;
    LzmaStep step;
    step.result = lzma_code(&stream, LZMA_RUN);
    step.consumed = input.size() - stream.avail_in;
    step.inputLeft = stream.avail_in;
    step.output = std::span<const std::uint8_t>(outputBuffer).first(limit - stream.avail_out);
    step.outputFull = stream.avail_out == 0;
    return step;
}

} // namespace vellum
