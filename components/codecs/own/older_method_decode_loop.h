#pragma once

// The call loop shared by the Reduce and Implode decoders: finish any pending match, stop at the
// declared size or a full output, otherwise refill the bit reader and decode one more symbol. A
// symbol that runs out of bits is rewound and retried on the next call with more input.

#include "codecs/own/older_method_bit_reader.h"
#include "codecs/own/older_method_history.h"
#include "codecs/zip_codec.h"

namespace vellum {

enum class OlderMethodStep {
    Done,     // one symbol decoded (it may have queued a match)
    NeedBits, // the symbol is not complete in the buffered bits
    Damaged,  // the symbol is invalid
};

template <typename DecodeSymbol>
CodecStep runOlderMethodDecode(OlderMethodBitReader& reader, OlderMethodHistory& history,
                               std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                               std::size_t outputLimit, DecodeSymbol decodeSymbol) {
    history.begin(output, outputLimit);
    std::size_t position = 0;
    CodecStep step;
    for (;;) {
        if (history.hasPending())
            history.copyPending();
        if (history.complete()) {
            step.state = CodecState::Finished;
            step.unusedInput = reader.unusedBytes() + (input.size() - position);
            break;
        }
        if (history.outputFull()) {
            step.state = CodecState::OutputFull;
            break;
        }
        position += reader.fill(input.subspan(position));
        const OlderMethodBitReader::Mark mark = reader.mark();
        const OlderMethodStep result = decodeSymbol();
        if (result == OlderMethodStep::Damaged) {
            step.state = CodecState::Damaged;
            break;
        }
        if (result == OlderMethodStep::NeedBits) {
            reader.rewind(mark);
            // The reader holds at least 57 bits whenever input is left, more than any symbol of
            // these formats needs, so running dry with input left cannot happen; the check only
            // guarantees that the loop never spins.
            step.state = position < input.size() ? CodecState::Damaged : CodecState::NeedsInput;
            break;
        }
    }
    step.consumed = position;
    step.output = std::span<const std::uint8_t>(output.data(), history.written());
    return step;
}

} // namespace vellum
