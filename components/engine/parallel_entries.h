#pragma once

// Checks the entries of one archive on several threads at once. The calling thread checks entries
// too and stays the only one that reports progress, yields and sees abort; helper threads each use
// a workbench of their own (read window, output buffer, decoders), so that nothing but the
// read-only source and entry records is shared. Entries are claimed one at a time in check order,
// and their faults are handed to the operation's log afterwards in that same order, so the log,
// and with it the result code, is exactly what a check of one entry after the other produces.

#include "base/byte_source.h"
#include "base/byte_window.h"
#include "base/fault_log.h"
#include "base/progress_pacer.h"
#include "codecs/codec_table.h"
#include "engine/entry_verifier.h"
#include "structure/zip_format.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vellum {

// One helper thread's tools, allocated once and reused for every archive.
class EntryWorkbench {
public:
    EntryWorkbench();
    EntryWorkbench(const EntryWorkbench&) = delete;
    EntryWorkbench& operator=(const EntryWorkbench&) = delete;

    ByteWindow& window() { return m_window; }
    EntryVerifier& verifier() { return m_verifier; }

private:
    std::vector<std::uint8_t> m_output;
    ByteWindow m_window;
    CodecTable m_codecs;
    EntryVerifier m_verifier;
};

struct ParallelEntryCheck {
    std::span<const ZipEntryRecord> entries;  // the records of the entries to check, in check order
    std::span<const std::uint32_t> selection; // their indices, in the same order
    ByteSource* source = nullptr;
    // The calling thread's verifier, and where it reports progress; advance() returning false
    // (abort) stops every thread.
    EntryVerifier* callerVerifier = nullptr;
    ProgressSink* callerProgress = nullptr;
    // Compressed bytes the helpers have consumed so far, for the caller's percentage.
    std::atomic<std::uint64_t>* helperProgress = nullptr;
};

// Whether checking this many entries of this much compressed data is worth a second thread.
bool worthCheckingInParallel(std::size_t entryCount, std::uint64_t compressedBytes);

// Checks the selected entries with the caller and the helpers, then adds their faults to log in
// check order. Returns the outcome at which a one-by-one check would have stopped (Stopped,
// ReadFailed), or Checked when it would have gone through all of them; lastEntry receives the index
// of the entry a one-by-one check would have ended on.
EntryVerifier::Outcome checkEntriesInParallel(const ParallelEntryCheck& check,
                                              std::span<const std::unique_ptr<EntryWorkbench>> helpers,
                                              FaultLog& log, std::size_t& lastEntry);

} // namespace vellum
