#include "engine/entry_verifier.h"

#include "codecs/crc32.h"
#include "engine/parallel_blocks.h"

#include <algorithm>
#include <optional>

namespace vellum {

namespace {

// A stream whose memory need grows at each pass (a later xz block or Zstandard frame asking for
// more than the first) gets this many passes; real streams need two at most.
constexpr int MaximumMemoryPasses = 4;

using Outcome = EntryVerifier::Outcome;

// One pass of the decoder over an entry's data: where it stands, and what it reports to.
struct DecodePass {
    const ZipEntryRecord& entry;
    std::int64_t index;
    ZipCodec& codec;
    FaultLog& log;
    ProgressSink& progress;
    std::uint64_t& outputBudget;
    std::uint64_t& memoryNeeded;
    bool& memoryRefused; // the system refused memory within the allowance
    std::uint64_t dataOffset;
    std::uint32_t crc = 0;
    std::uint64_t produced = 0;
    std::uint64_t remaining = 0; // compressed bytes not yet fed
    bool finished = false;
};

// Takes in what the decoder put out: an outcome when the entry ends here, as its output runs past
// its declared size or beyond the operation's allowance.
std::optional<Outcome> takeOutput(DecodePass& pass, const CodecStep& step) {
    pass.crc = crc32Update(pass.crc, step.output);
    pass.produced += step.output.size();
    if (pass.produced > pass.entry.uncompressedSize) {
        pass.log.add(ZipFaultKind::SizeMismatch, pass.index, pass.dataOffset);
        return Outcome::Checked;
    }
    if (step.output.size() > pass.outputBudget) {
        pass.outputBudget = 0;
        return Outcome::BudgetSpent;
    }
    pass.outputBudget -= step.output.size();
    return std::nullopt;
}

// Decodes one chunk of the entry's data until the decoder wants more input or the stream ends; an
// outcome when the pass ends here instead (damage found, memory needed, an abort).
std::optional<Outcome> decodeChunk(DecodePass& pass, std::span<const std::uint8_t> input) {
    const ZipEntryRecord& entry = pass.entry;
    for (;;) {
        // Allow one byte more than declared, so that a stream longer than its entry says is
        // caught at once instead of being decoded to its end.
        const std::uint64_t allowed = entry.uncompressedSize - pass.produced;
        const std::size_t outputLimit =
            static_cast<std::size_t>(std::min<std::uint64_t>(allowed, std::uint64_t{UINT32_MAX} - 1) + 1);
        const CodecStep step = pass.codec.decode(input, outputLimit);
        input = input.subspan(step.consumed);
        if (const std::optional<Outcome> ended = takeOutput(pass, step))
            return ended;
        switch (step.state) {
        case CodecState::Damaged:
            pass.log.add(ZipFaultKind::StreamDamaged, pass.index, pass.dataOffset);
            return Outcome::Checked;
        case CodecState::NeedsMemory:
            pass.memoryNeeded = std::max<std::uint64_t>(step.memoryNeeded, 1);
            return Outcome::Checked;
        case CodecState::MemoryUnavailable:
            pass.memoryNeeded = std::max<std::uint64_t>(step.memoryNeeded, 1);
            pass.memoryRefused = true;
            return Outcome::Unverifiable;
        case CodecState::Unsupported:
            pass.log.add(ZipFaultKind::MethodUnsupported, pass.index, entry.localHeaderOffset);
            return Outcome::Unverifiable;
        case CodecState::Finished:
            if (step.unusedInput > 0 || pass.remaining > 0) {
                pass.log.add(ZipFaultKind::StreamTrailingBytes, pass.index, pass.dataOffset);
                return Outcome::Checked;
            }
            pass.finished = true;
            return std::nullopt;
        case CodecState::NeedsInput:
            if (input.empty())
                return std::nullopt;
            // A decoder that asks for more while input is left and makes no progress would
            // otherwise be called forever.
            if (step.consumed == 0 && step.output.empty()) {
                pass.log.add(ZipFaultKind::StreamDamaged, pass.index, pass.dataOffset);
                return Outcome::Checked;
            }
            continue;
        case CodecState::OutputFull:
            break;
        }
        // Output full: a highly compressed chunk can take long to expand, so keep polling.
        if (!pass.progress.advance(static_cast<std::size_t>(pass.index), 0))
            return Outcome::Stopped;
    }
}

// The faults of a stream that was decoded to its end, or ended early.
Outcome judgeDecoded(const DecodePass& pass) {
    const ZipEntryRecord& entry = pass.entry;
    if (!pass.finished)
        pass.log.add(ZipFaultKind::StreamTruncated, pass.index, pass.dataOffset);
    else if (pass.produced != entry.uncompressedSize)
        pass.log.add(ZipFault{ZipFaultKind::SizeMismatch,
                              pass.index,
                              pass.dataOffset,
                              {},
                              pass.produced,
                              entry.uncompressedSize});
    else if (pass.crc != entry.crc)
        pass.log.add(
            ZipFault{ZipFaultKind::CrcMismatch, pass.index, pass.dataOffset, {}, pass.crc, entry.crc});
    return Outcome::Checked;
}

// The entry cannot be checked: its decoder needs more memory than could be had.
Outcome memoryUnavailable(FaultLog& log, std::int64_t index, std::uint64_t offset, std::uint64_t needed,
                          std::uint64_t obtainable) {
    log.add(ZipFault{ZipFaultKind::DecoderMemoryUnavailable, index, offset, {}, needed, obtainable});
    return Outcome::Unverifiable;
}

} // namespace

EntryVerifier::EntryVerifier(ByteWindow& window, CodecTable& codecs, DecoderMemoryBudget& budget)
    : m_window(window), m_codecs(codecs), m_budget(budget) {}

EntryVerifier::Outcome EntryVerifier::verify(const ZipEntryRecord& entry, std::int64_t index, FaultLog& log,
                                             ProgressSink& progress, std::uint64_t& outputBudget) {
    const std::uint64_t dataOffset = entry.dataOffset();
    if (entry.encrypted()) {
        log.add(ZipFaultKind::EntryEncrypted, index, dataOffset);
        return Outcome::Unverifiable;
    }
    ZipCodec* codec = m_codecs.find(entry.method);
    if (!codec) {
        if (!zipformat::isDefinedMethod(entry.method)) {
            // No writer produces such a method: the field itself is damaged, and nothing can
            // extract the entry.
            log.add(ZipFaultKind::MethodUndefined, index, entry.localHeaderOffset);
            return Outcome::Checked;
        }
        log.add(ZipFaultKind::MethodUnsupported, index, entry.localHeaderOffset);
        return Outcome::Unverifiable;
    }
    // Some writers store an empty file as a deflated entry with no compressed bytes at all; that
    // holds nothing to decode and nothing to get wrong.
    if (entry.compressedSize == 0 && entry.uncompressedSize == 0 && entry.crc == 0)
        return Outcome::Checked;

    // A decoder that finds it needs more memory than it was allowed says so before it holds it; the
    // entry then waits for a lease of that much and is decoded again from its start. Each pass asks
    // for more than the one before, so a few passes settle any stream.
    DecoderMemoryBudget::Lease lease;
    std::uint64_t allowance = DecoderMemoryBudget::UnleasedAllowance;
    std::uint64_t reported = 0;
    if (const std::optional<Outcome> outcome =
            decodeBlocksInParallel(entry, index, progress, outputBudget, reported))
        return *outcome;
    for (int pass = 0;; ++pass) {
        std::uint64_t needed = 0;
        bool refused = false;
        const std::uint64_t budgetBefore = outputBudget;
        const Outcome outcome = decodeOnce(entry, index, *codec, log, progress, outputBudget,
                                           DecodeMemory{allowance, needed, refused}, reported);
        if (refused) {
            codec->releaseMemory();
            return memoryUnavailable(log, index, dataOffset, needed, m_budget.obtainable());
        }
        if (needed == 0 || needed <= allowance || pass == MaximumMemoryPasses) {
            // The state held beyond the free allowance goes back before the lease does.
            if (lease)
                codec->releaseMemory();
            if (needed == 0)
                return outcome;
            log.add(ZipFaultKind::MethodUnsupported, index, entry.localHeaderOffset);
            return Outcome::Unverifiable;
        }
        codec->releaseMemory();
        lease.release();
        outputBudget = budgetBefore;
        // Running alone does not help a decoder that needs more than the process can have at all.
        if (needed > m_budget.ceiling())
            return memoryUnavailable(log, index, dataOffset, needed, m_budget.ceiling());
        // The refused block is seldom the last the decoder takes: room for its small state besides
        // saves a pass.
        allowance = std::min(needed + DecoderMemoryBudget::UnleasedAllowance, m_budget.ceiling());
        lease =
            m_budget.acquire(allowance, [&] { return progress.advance(static_cast<std::size_t>(index), 0); });
        if (!lease)
            return Outcome::Stopped;
    }
}

std::optional<EntryVerifier::Outcome>
EntryVerifier::decodeBlocksInParallel(const ZipEntryRecord& entry, std::int64_t index, ProgressSink& progress,
                                      std::uint64_t& outputBudget, std::uint64_t& reported) {
    // An entry that may run past the operation's output allowance, or a thread that holds a large
    // directory's lease (whose decoder leases must stay its own), takes the serial path.
    if (!worthDecodingBlocksInParallel(entry, m_blockThreads) || entry.uncompressedSize > outputBudget ||
        !m_window.source() || m_budget.holdsDirectory())
        return std::nullopt;
    switch (checkBlocksInParallel(
        {entry, index, m_window, *m_window.source(), progress, reported, m_budget, m_blockThreads})) {
    case BlockCheck::Sound:
        outputBudget -= entry.uncompressedSize;
        return Outcome::Checked;
    case BlockCheck::Stopped:
        return Outcome::Stopped;
    case BlockCheck::Undecided:
        break;
    }
    return std::nullopt;
}

EntryVerifier::Outcome EntryVerifier::decodeOnce(const ZipEntryRecord& entry, std::int64_t index,
                                                 ZipCodec& codec, FaultLog& log, ProgressSink& progress,
                                                 std::uint64_t& outputBudget, const DecodeMemory& memory,
                                                 std::uint64_t& reported) {
    const std::uint64_t dataOffset = entry.dataOffset();
    if (!codec.reset(CodecEntry{entry.method, entry.flags, entry.compressedSize, entry.uncompressedSize,
                                memory.allowance})) {
        log.add(ZipFaultKind::StreamDamaged, index, dataOffset);
        return Outcome::Checked;
    }
    DecodePass pass{entry,        index,         codec,          log,       progress,
                    outputBudget, memory.needed, memory.refused, dataOffset};
    pass.remaining = entry.compressedSize;
    std::uint64_t position = dataOffset;
    // Each pass feeds one chunk of compressed data. Once it is all fed, one more pass with no input
    // lets the decoder finish what its bit buffer still holds.
    bool drainPassDone = false;
    while (!pass.finished) {
        const std::size_t chunkLength =
            static_cast<std::size_t>(std::min<std::uint64_t>(pass.remaining, m_window.capacity()));
        if (chunkLength == 0) {
            if (drainPassDone)
                break;
            drainPassDone = true;
        }
        const auto chunk = m_window.view(position, chunkLength);
        if (!chunk) {
            log.addArchiveFault(ZipFaultKind::CannotRead, position);
            return Outcome::ReadFailed;
        }
        position += chunkLength;
        pass.remaining -= chunkLength;
        if (const std::optional<Outcome> ended = decodeChunk(pass, *chunk))
            return *ended;
        // A second pass counts only what the first did not reach.
        const std::uint64_t fed = position - dataOffset;
        const std::uint64_t fresh = fed > reported ? fed - reported : 0;
        reported += fresh;
        if (!progress.advance(static_cast<std::size_t>(index), fresh))
            return Outcome::Stopped;
        if (!pass.finished && pass.remaining == 0 && codec.endsWithInput())
            pass.finished = true;
    }
    return judgeDecoded(pass);
}

} // namespace vellum
