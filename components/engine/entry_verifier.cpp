#include "engine/entry_verifier.h"

#include "codecs/crc32.h"

#include <algorithm>

namespace vellum {

namespace {

// A stream whose memory need grows at each pass (a later xz block or Zstandard frame asking for
// more than the first) gets this many passes; real streams need two at most.
constexpr int MaximumMemoryPasses = 4;

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
    for (int pass = 0;; ++pass) {
        std::uint64_t needed = 0;
        const std::uint64_t budgetBefore = outputBudget;
        const Outcome outcome =
            decodeOnce(entry, index, *codec, log, progress, outputBudget, allowance, reported, needed);
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
        // The refused block is seldom the last the decoder takes: room for its small state besides
        // saves a pass.
        allowance = needed + DecoderMemoryBudget::UnleasedAllowance;
        lease =
            m_budget.acquire(allowance, [&] { return progress.advance(static_cast<std::size_t>(index), 0); });
        if (!lease)
            return Outcome::Stopped;
    }
}

EntryVerifier::Outcome EntryVerifier::decodeOnce(const ZipEntryRecord& entry, std::int64_t index,
                                                 ZipCodec& codec, FaultLog& log, ProgressSink& progress,
                                                 std::uint64_t& outputBudget, std::uint64_t memoryAllowance,
                                                 std::uint64_t& reported, std::uint64_t& memoryNeeded) {
    const std::uint64_t dataOffset = entry.dataOffset();
    if (!codec.reset(CodecEntry{entry.method, entry.flags, entry.compressedSize, entry.uncompressedSize,
                                memoryAllowance})) {
        log.add(ZipFaultKind::StreamDamaged, index, dataOffset);
        return Outcome::Checked;
    }
    std::uint32_t crc = 0;
    std::uint64_t produced = 0;
    std::uint64_t position = dataOffset;
    std::uint64_t remaining = entry.compressedSize;
    bool finished = false;
    // Each pass feeds one chunk of compressed data. Once it is all fed, one more pass with no input
    // lets the decoder finish what its bit buffer still holds.
    bool drainPassDone = false;
    while (!finished) {
        const std::size_t chunkLength =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, m_window.capacity()));
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
        remaining -= chunkLength;
        std::span<const std::uint8_t> input = *chunk;
        for (;;) {
            // Allow one byte more than declared, so that a stream longer than its entry says is
            // caught at once instead of being decoded to its end.
            const std::uint64_t allowed = entry.uncompressedSize - produced;
            const std::size_t outputLimit =
                static_cast<std::size_t>(std::min<std::uint64_t>(allowed, std::uint64_t{UINT32_MAX} - 1) + 1);
            const CodecStep step = codec.decode(input, outputLimit);
            input = input.subspan(step.consumed);
            crc = crc32Update(crc, step.output);
            produced += step.output.size();
            if (produced > entry.uncompressedSize) {
                log.add(ZipFaultKind::SizeMismatch, index, dataOffset);
                return Outcome::Checked;
            }
            if (step.output.size() > outputBudget) {
                outputBudget = 0;
                return Outcome::BudgetSpent;
            }
            outputBudget -= step.output.size();
            if (step.state == CodecState::Damaged) {
                log.add(ZipFaultKind::StreamDamaged, index, dataOffset);
                return Outcome::Checked;
            }
            if (step.state == CodecState::NeedsMemory) {
                memoryNeeded = std::max<std::uint64_t>(step.memoryNeeded, 1);
                return Outcome::Checked;
            }
            if (step.state == CodecState::Unsupported) {
                log.add(ZipFaultKind::MethodUnsupported, index, entry.localHeaderOffset);
                return Outcome::Unverifiable;
            }
            if (step.state == CodecState::Finished) {
                if (step.unusedInput > 0 || remaining > 0) {
                    log.add(ZipFaultKind::StreamTrailingBytes, index, dataOffset);
                    return Outcome::Checked;
                }
                finished = true;
                break;
            }
            if (step.state == CodecState::NeedsInput) {
                if (input.empty())
                    break;
                // A decoder that asks for more while input is left and makes no progress would
                // otherwise be called forever.
                if (step.consumed == 0 && step.output.empty()) {
                    log.add(ZipFaultKind::StreamDamaged, index, dataOffset);
                    return Outcome::Checked;
                }
                continue;
            }
            // Output full: a highly compressed chunk can take long to expand, so keep polling.
            if (!progress.advance(static_cast<std::size_t>(index), 0))
                return Outcome::Stopped;
        }
        // A second pass counts only what the first did not reach.
        const std::uint64_t fed = position - dataOffset;
        const std::uint64_t fresh = fed > reported ? fed - reported : 0;
        reported += fresh;
        if (!progress.advance(static_cast<std::size_t>(index), fresh))
            return Outcome::Stopped;
        if (!finished && remaining == 0 && codec.endsWithInput())
            finished = true;
    }
    if (!finished)
        log.add(ZipFaultKind::StreamTruncated, index, dataOffset);
    else if (produced != entry.uncompressedSize)
        log.add(
            ZipFault{ZipFaultKind::SizeMismatch, index, dataOffset, {}, produced, entry.uncompressedSize});
    else if (crc != entry.crc)
        log.add(ZipFault{ZipFaultKind::CrcMismatch, index, dataOffset, {}, crc, entry.crc});
    return Outcome::Checked;
}

} // namespace vellum
