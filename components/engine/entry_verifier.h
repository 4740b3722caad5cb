#pragma once

// Decompresses one entry through fixed buffers and checks what comes out against the entry's
// CRC-32 and sizes: the stream must end exactly at the end of the compressed data, produce exactly
// the declared size and match the CRC. Faults go to the log; the entry's structure has been checked
// before.

#include "base/byte_window.h"
#include "base/decoder_memory.h"
#include "base/fault_log.h"
#include "base/progress_pacer.h"
#include "codecs/codec_table.h"
#include "structure/zip_format.h"

#include <cstdint>
#include <optional>

namespace vellum {

class EntryVerifier {
public:
    enum class Outcome {
        Checked,      // decompressed; any fault is in the log
        Unverifiable, // encrypted, no decoder for its method or its options, or no memory (noted)
        Stopped,      // abort
        BudgetSpent,  // the operation's output allowance ran out
        ReadFailed,   // the file could not be read
    };

    // Entries whose decoder needs more than its free allowance lease the memory from budget.
    EntryVerifier(ByteWindow& window, CodecTable& codecs,
                  DecoderMemoryBudget& budget = DecoderMemoryBudget::shared());

    // Threads, this one included, that may decode the blocks of one large entry at once (see
    // parallel_blocks.h); one unless the caller has them to spare.
    void setBlockThreads(unsigned threads) { m_blockThreads = threads; }

    // outputBudget is reduced by the bytes decoded; when it runs out the entry stops unchecked.
    // Progress is advanced by the compressed bytes consumed.
    Outcome verify(const ZipEntryRecord& entry, std::int64_t index, FaultLog& log, ProgressSink& progress,
                   std::uint64_t& outputBudget);

private:
    // The memory of one pass: what the decoder may hold, and what it turned out to need.
    struct DecodeMemory {
        std::uint64_t allowance;
        std::uint64_t& needed;
        bool& refused; // the system refused it memory within the allowance
    };

    // One pass over the entry's data with the decoder allowed memory.allowance. Sets memory.needed
    // instead of finishing when the decoder needs more, or memory.refused as well when the system
    // had none to give; then nothing has been logged. reported holds the compressed bytes already
    // counted as progress by an earlier pass.
    Outcome decodeOnce(const ZipEntryRecord& entry, std::int64_t index, ZipCodec& codec, FaultLog& log,
                       ProgressSink& progress, std::uint64_t& outputBudget, const DecodeMemory& memory,
                       std::uint64_t& reported);

    // The entry decoded on several threads: Checked when it is sound, Stopped on abort, nullopt
    // when it is left to the serial decoder.
    std::optional<Outcome> decodeBlocksInParallel(const ZipEntryRecord& entry, std::int64_t index,
                                                  ProgressSink& progress, std::uint64_t& outputBudget,
                                                  std::uint64_t& reported);

    ByteWindow& m_window;
    CodecTable& m_codecs;
    DecoderMemoryBudget& m_budget;
    unsigned m_blockThreads = 1;
};

} // namespace vellum
