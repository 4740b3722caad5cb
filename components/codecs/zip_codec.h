#pragma once

// The decoder of one compression method, driven in steps over fixed buffers. The verifier owns
// the input; a codec either writes into the output buffer it was given or, when it does not
// transform the data, hands back a view of the input itself.

#include "base/decoder_memory.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace vellum {

enum class CodecState {
    NeedsInput, // consumed all it was given and wants more
    OutputFull, // stopped at the output limit; call again with the rest of the input
    Finished,   // the stream has ended
    Damaged,    // the stream cannot be decoded
    // The stream needs more memory than the entry's allowance (CodecStep::memoryNeeded in all). The
    // entry starts again from its first byte with a reset that allows that much.
    NeedsMemory,
    // The system refused memory within the allowance (CodecStep::memoryNeeded: what the decoder
    // would have held in all). The entry is unverifiable for want of memory.
    MemoryUnavailable,
    // The stream asks for what this decoder cannot do (an option the library lacks, a restoration
    // method not reproduced here). That is no sign of damage: the entry is unverifiable.
    Unsupported,
};

struct CodecStep {
    std::size_t consumed = 0;             // input bytes used
    std::span<const std::uint8_t> output; // decoded bytes, valid until the next call
    CodecState state = CodecState::NeedsInput;
    std::size_t unusedInput = 0;    // after Finished: bytes of the given input past the stream's end
    std::uint64_t memoryNeeded = 0; // after NeedsMemory or MemoryUnavailable
};

// What a decoder may need to know of the entry it is about to decode: some methods take their
// options from the general-purpose flags, and some streams end only at the declared size.
struct CodecEntry {
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    // The memory the decoder may hold for its state while it decodes this entry (see decoder_memory.h).
    std::uint64_t memoryAllowance = DecoderMemoryBudget::UnleasedAllowance;
};

class ZipCodec {
public:
    virtual ~ZipCodec() = default;

    // Prepares for a new entry. False when the entry's own parameters (a method's header or
    // options) cannot be decoded at all, which is damage of that entry's data.
    virtual bool reset(const CodecEntry& entry) = 0;

    // Decodes from input, producing at most outputLimit bytes (outputLimit is at least 1).
    virtual CodecStep decode(std::span<const std::uint8_t> input, std::size_t outputLimit) = 0;

    // True for methods whose stream has no end marker of its own and ends with its input.
    virtual bool endsWithInput() const = 0;

    // Frees the state kept from entry to entry, after an entry that held more than the free
    // allowance; the next reset makes it again.
    virtual void releaseMemory() {}
};

} // namespace vellum
