#pragma once

// Checks one large xz entry by decoding its blocks on several threads at once. The calling thread
// reads the stream's framing (block headers, whose stated sizes tell where the next block starts,
// the index and the footer) and decodes blocks itself between reads; helper threads, each reading
// through a window of its own, decode the blocks it has found. Each block's CRC-32 is combined into
// the entry's in stream order, so the entry is known good without one thread decoding it from end
// to end.
//
// Only a sound entry is judged here. Anything else (damage, a block header without its sizes, a
// block needing more memory than was leased, several streams one after another) leaves the entry
// undecided, for the serial decoder to check from its start: that one alone says what is wrong and
// where, and asks for the memory it needs, so every fault and every shortfall is reported as a check
// on one thread reports it.

#include "base/byte_window.h"
#include "base/decoder_memory.h"
#include "base/progress_pacer.h"
#include "structure/zip_format.h"

#include <cstdint>

namespace vellum {

enum class BlockCheck {
    Sound,     // decoded in full: every block, the index, the footer, the sizes and the CRC-32 agree
    Undecided, // to be checked by the serial decoder
    Stopped,   // progress said abort
};

struct ParallelBlockEntry {
    const ZipEntryRecord& entry;
    std::int64_t index;
    ByteWindow& window;     // the calling thread's, over the archive
    ByteSource& source;     // what the helpers' windows read
    ProgressSink& progress; // called from the calling thread only
    // Compressed bytes already reported for this entry; a pass that follows counts only the rest.
    std::uint64_t& reported;
    DecoderMemoryBudget& budget; // the decoders' and the helpers' buffers are leased from it
    unsigned threads;            // the calling one included
};

// Whether the entry is an xz entry large enough to gain from more threads than one.
bool worthDecodingBlocksInParallel(const ZipEntryRecord& entry, unsigned threads);

BlockCheck checkBlocksInParallel(const ParallelBlockEntry& check);

} // namespace vellum
