#pragma once

// The checking machinery behind ZipTester: reads an archive from any ByteSource, checks its
// structure and decompresses the selected entries, with buffers and decoder state allocated once
// per engine and reused for every archive.

#include "base/byte_source.h"
#include "base/byte_window.h"
#include "base/multi_part_source.h"
#include "codecs/codec_table.h"
#include "engine/entry_verifier.h"
#include "engine/parallel_entries.h"
#include "structure/entry_table.h"
#include "structure/zip_format.h"
#include "zip/zip_faults.h"
#include "zip/zip_result.h"
#include "zip/zip_status.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace vellum {

enum class ZipOperation {
    Probe,  // structure, plus the entries the filter selects
    Verify, // structure, plus every entry (or the ones a non-empty filter selects)
};

struct ZipEngineSettings {
    std::string_view fileFilter;
    bool stopAtFirstFault = false;
    // Decoded bytes the operation may produce before it stops checking further data; the fuzzer
    // uses it to keep each run short.
    std::uint64_t outputLimit = UINT64_MAX;
    // The callbacks and the abort flag stay owned by the caller; any of them may be null.
    const std::function<void()>* onYield = nullptr;
    const std::function<void(const ZipStatus&)>* onStatus = nullptr;
    const bool* abortFlag = nullptr; // read after each yield
    // Read at every poll, without the clock: for a thread that has no caller to yield to and only
    // needs to stop when told, from any thread.
    const std::atomic<bool>* cancelFlag = nullptr;
    // Threads that may check the entries of one large archive at once, the calling one included.
    // Only a verify that checks every entry without stopping at the first fault uses more than one;
    // its faults and result are the same as with one.
    unsigned entryThreads = 1;
    // Where the other parts of a split archive are found; null for an archive that has none beside
    // it (one in memory), whose split end record then finds every other part missing.
    SplitPartSource* splitParts = nullptr;
    // The source is the one the engine's previous run read, its bytes unchanged since (the verify
    // that follows a probe of the same open file): what that run left in the engine's read buffer
    // is used again instead of being read a second time, and a verify of every entry takes the
    // structure that probe checked, with its faults, instead of checking it again.
    bool sameSourceAsPreviousRun = false;
};

class ZipEngine {
public:
    ZipEngine();
    ~ZipEngine();
    ZipEngine(const ZipEngine&) = delete;
    ZipEngine& operator=(const ZipEngine&) = delete;

    // Runs one operation and returns its result code; faults receives what was found. Does not
    // throw except for std::bad_alloc, which the caller turns into a result code.
    std::int16_t run(ZipOperation operation, ByteSource& source, const ZipEngineSettings& settings,
                     std::vector<ZipFault>& faults);

private:
    class Operation;

    // Reads from source from now on, keeping the bytes the window holds when they came from source
    // in the last run and source has not changed since.
    void attachWindow(ByteSource& source, bool unchangedSinceLastRun);
    // Names the entry in status.
    void describeEntry(const ZipEntryRecord& entry, ZipStatus& status);
    // Gives each entry fault its entry's name, read from the central header once the operation is
    // over, so that checking pays nothing for names and an archive without faults reads none.
    void nameEntryFaults(ByteSource& source, std::vector<ZipFault>& faults);

    std::vector<std::uint8_t> m_output;
    ByteWindow m_window;
    // The source whose bytes the window still holds after the last run; null when none does.
    const ByteSource* m_cachedFrom = nullptr;
    // The source whose structure the last run, a probe that lets the verify go on, checked: its
    // entries are still in m_entries and its structure faults in m_structureFaults. Null otherwise.
    const ByteSource* m_structureFrom = nullptr;
    std::vector<ZipFault> m_structureFaults;
    CodecTable m_codecs;
    EntryVerifier m_verifier;
    EntryTable m_entries;
    std::vector<std::uint32_t> m_selection;
    std::vector<ZipEntryRecord> m_selectedRecords;
    std::vector<std::uint8_t> m_headerBuffer;
    // Helper threads' workbenches, made the first time an archive is checked in parallel.
    std::vector<std::unique_ptr<EntryWorkbench>> m_helpers;
};

} // namespace vellum
