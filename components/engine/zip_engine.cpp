#include "engine/zip_engine.h"

#include "base/fault_log.h"
#include "base/little_endian_reader.h"
#include "base/multi_part_source.h"
#include "base/progress_pacer.h"
#include "engine/busy_threads.h"
#include "structure/central_directory_parser.h"
#include "structure/end_record_reader.h"
#include "structure/local_header_checker.h"

#include <algorithm>
#include <atomic>
#include <optional>

namespace vellum {

namespace {

using namespace zipformat;

// Input chunks and output blocks: large enough for fast reads and decoding, small enough to poll
// the clock often. The window also has to hold the largest central header and the end-record search.
constexpr std::size_t WindowSize = 256 * 1024;
constexpr std::size_t OutputSize = 256 * 1024;

static_assert(WindowSize >= MaximumCentralHeaderSize && WindowSize >= EndRecordSize + MaximumCommentLength);

// A set whose end record names far more disks than its folder holds parts is most likely a single
// archive with a damaged disk number: the first this many missing parts are named, and the look
// for the others ends there, as the archive is bad whatever they are.
constexpr std::uint32_t MaximumMissingPartsTold = 100;

const bool NeverAborted = false;
const std::function<void()> NoYield;
const std::function<void(const ZipStatus&)> NoStatus;

bool localSignatureAt(ByteWindow& window, std::uint64_t offset, std::uint64_t limit) {
    if (offset > limit || limit - offset < 4)
        return false;
    const auto bytes = window.view(offset, 4);
    return bytes && LittleEndianReader(*bytes).u32() == LocalHeaderSignature;
}

} // namespace

// One run of the engine: the state that lives only while an archive is being checked.
class ZipEngine::Operation final : public ProgressSink {
public:
    Operation(ZipEngine& engine, ZipOperation kind, ByteSource& source, const ZipEngineSettings& settings,
              std::vector<ZipFault>& faults)
        : m_engine(engine), m_kind(kind), m_source(source), m_settings(settings), m_faults(faults),
          m_log(faults, settings.stopAtFirstFault),
          m_pacer(settings.onYield ? *settings.onYield : NoYield,
                  settings.onStatus ? *settings.onStatus : NoStatus,
                  settings.abortFlag ? *settings.abortFlag : NeverAborted, settings.cancelFlag),
          m_outputBudget(settings.outputLimit) {}

    std::int16_t run() {
        const bool sameSource = m_settings.sameSourceAsPreviousRun;
        m_engine.attachWindow(m_source, sameSource);
        m_engine.m_cachedFrom = nullptr;
        m_layout.fileSize = m_source.size();
        // The structure check's outcome depends on the bytes and on stopping at the first fault
        // alone; the filter only picks the entries to decompress, and a verify without one picks
        // them all, whatever the probe matched.
        const bool takesProbeStructure = sameSource && m_engine.m_structureFrom == &m_source &&
                                         m_kind == ZipOperation::Verify && m_settings.fileFilter.empty() &&
                                         !m_settings.stopAtFirstFault;
        m_engine.m_structureFrom = nullptr;
        if (takesProbeStructure) {
            for (const ZipFault& fault : m_engine.m_structureFaults)
                m_log.add(fault);
        } else {
            checkStructure();
        }
        if (!m_pacer.aborted() && !m_stopped)
            decompressSelected();
        const bool aborted = m_pacer.aborted();
        if (!aborted)
            m_pacer.finish([&](ZipStatus& status) { describeCurrent(status); });
        m_engine.m_window.attach(nullptr);
        // A split set's parts joined before the file leave bytes from other offsets in the window.
        if (!m_joined)
            m_engine.m_cachedFrom = &m_source;
        if (aborted)
            return ZipResult::Aborted;
        if (m_kind == ZipOperation::Verify)
            return m_log.verifyCode();
        // A directory leased from the decoders' budget goes back as soon as the probe is over.
        if (probeGoesOn(m_log.probeCode()) && m_structureKept && !m_joined && !m_engine.m_entries.leased()) {
            m_engine.m_structureFaults.assign(m_faults.begin(), m_faults.begin() + m_structureFaultCount);
            m_engine.m_structureFrom = &m_source;
        }
        return m_log.probeCode();
    }

    bool advance(std::size_t entryIndex, std::uint64_t amount) override {
        m_currentEntry = entryIndex;
        m_done += amount;
        if (!m_pacer.poll())
            return false;
        // Work that the operation's percentage does not count (the structure check during verify)
        // only polls.
        if (m_total > 0) {
            std::uint64_t done = m_done + m_helperDone.load(std::memory_order_relaxed);
            // While entries are checked in parallel, the 100 % event waits for the end, so that it
            // names the last entry in check order as a one-by-one check does.
            if (m_parallel && done >= m_total)
                done = m_total - 1;
            m_pacer.progress(done, m_total, [&](ZipStatus& status) { describeCurrent(status); });
        }
        return true;
    }

private:
    void checkStructure() {
        EntryTable& entries = m_engine.m_entries;
        entries.clear();
        ZipEndRecords records;
        if (!findEndRecords(m_engine.m_window, m_log, m_layout.fileSize, records) || m_log.stopRequested() ||
            (records.lastDisk > 0 && !joinParts(records.lastDisk)) ||
            !locateDirectory(m_engine.m_window, m_log, records, m_layout) || m_log.stopRequested() ||
            parseCentralDirectory(m_engine.m_window, m_log, m_pacer, m_layout, m_settings.fileFilter,
                                  entries) != ParseOutcome::Completed) {
            m_stopped = true;
            return;
        }
        if (m_layout.split()) {
            m_log.addArchiveFault(ZipFaultKind::SplitArchive, m_layout.endRecordOffset);
        } else {
            confirmShift();
        }
        m_total = m_kind == ZipOperation::Probe ? entries.size() : 0;
        if (m_log.stopRequested() ||
            checkLocalHeaders(m_engine.m_window, m_log, *this, m_layout, entries) != ParseOutcome::Completed)
            m_stopped = true;
        m_structureFaultCount = static_cast<std::ptrdiff_t>(m_faults.size());
        m_structureKept = !m_stopped && m_log.keptEveryFault();
    }

    // Joins the parts before the file at hand, the last one, so that the whole set reads as one
    // archive from then on. A part that is missing makes the archive bad: every missing one is
    // named (up to a limit), and nothing further is checked. An archive in memory has no parts
    // beside it: what it holds cannot be checked without them, so it is bad in the same way.
    bool joinParts(std::uint32_t lastDisk) {
        std::vector<std::unique_ptr<ByteSource>> parts;
        std::uint32_t missing = 0;
        for (std::uint32_t part = 1; part <= lastDisk && missing < MaximumMissingPartsTold; ++part) {
            std::unique_ptr<ByteSource> source =
                m_settings.splitParts ? m_settings.splitParts->openPart(part) : nullptr;
            if (!source) {
                ++missing;
                ZipFault fault{ZipFaultKind::SplitPartMissing, -1, 0};
                fault.splitPart = part;
                m_log.add(fault);
            } else if (missing == 0) {
                parts.push_back(std::move(source));
            }
        }
        if (missing > 0)
            return false;
        m_joined = std::make_unique<MultiPartByteSource>(std::move(parts), m_source);
        m_reading = m_joined.get();
        m_engine.m_window.attach(m_reading);
        m_layout.diskStarts = m_joined->partStarts();
        return true;
    }

    // A directory found later than its declared offset means data before the archive, and every
    // stored offset is moved by as much. Unless the first local header is only found where its
    // offset points without the move: then the archive starts at the file's start and it is the
    // directory offset that is wrong.
    void confirmShift() {
        if (m_layout.shift == 0)
            return;
        EntryTable& entries = m_engine.m_entries;
        std::optional<std::uint64_t> first;
        for (std::size_t index = 0; index < entries.size(); ++index) {
            if (!entries.unlocatable(index))
                first = std::min(first.value_or(UINT64_MAX), entries.localHeaderOffset(index));
        }
        if (first && !localSignatureAt(m_engine.m_window, *first, m_layout.directoryStart) &&
            localSignatureAt(m_engine.m_window, *first - m_layout.shift, m_layout.directoryStart)) {
            m_log.addArchiveFault(ZipFaultKind::DirectoryOffsetWrong, m_layout.endRecordOffset);
            for (std::size_t index = 0; index < entries.size(); ++index) {
                if (entries.unlocatable(index))
                    continue;
                ZipEntryRecord entry = entries[index];
                entry.localHeaderOffset -= m_layout.shift;
                entries.update(index, entry);
            }
            m_layout.shift = 0;
            return;
        }
        m_log.addArchiveFault(ZipFaultKind::DataBeforeArchive, 0);
    }

    bool selected(const ZipEntryRecord& entry) const {
        if (entry.damaged || !entry.spanKnown)
            return false;
        if (m_kind == ZipOperation::Probe || !m_settings.fileFilter.empty())
            return entry.matchesFilter;
        return true;
    }

    void decompressSelected() {
        const EntryTable& entries = m_engine.m_entries;
        const EntryTable::Order order = entries.order();
        if (m_kind == ZipOperation::Verify) {
            m_done = 0;
            m_total = 0;
            m_selectedCount = 0;
            for (const std::uint32_t index : order) {
                const ZipEntryRecord entry = entries[index];
                if (selected(entry)) {
                    m_total += entry.compressedSize;
                    ++m_selectedCount;
                }
            }
        }
        if (m_kind == ZipOperation::Verify && decompressInParallel())
            return;
        // Entries checked one after another leave the operation's other threads to the blocks of a
        // large entry; checked in parallel, each entry has one thread of them.
        m_engine.m_verifier.setBlockThreads(m_settings.entryThreads);
        // The probe's progress counts entries, already done; its decompression only polls.
        const std::uint64_t savedDone = m_done;
        for (const std::uint32_t index : order) {
            const ZipEntryRecord entry = entries[index];
            if (!selected(entry))
                continue;
            m_currentEntry = index;
            const EntryVerifier::Outcome outcome =
                m_engine.m_verifier.verify(entry, index, m_log, *this, m_outputBudget);
            if (m_kind == ZipOperation::Probe)
                m_done = savedDone;
            if (outcome == EntryVerifier::Outcome::Stopped ||
                outcome == EntryVerifier::Outcome::BudgetSpent ||
                outcome == EntryVerifier::Outcome::ReadFailed || m_log.stopRequested())
                return;
        }
    }

    // Checks the selected entries on several threads when the archive is large enough to gain from
    // it and the caller wants every entry checked; false when the entries are left to the serial loop.
    // A directory that holds a lease from the decoders' memory budget keeps its entries on this
    // thread, whose decoder leases are then grown onto it (see decoder_memory.h).
    bool decompressInParallel() {
        if (m_settings.entryThreads < 2 || m_settings.stopAtFirstFault ||
            m_settings.outputLimit != UINT64_MAX || m_engine.m_entries.leased() ||
            !worthCheckingInParallel(m_selectedCount, m_total))
            return false;
        std::vector<std::uint32_t>& selection = m_engine.m_selection;
        std::vector<ZipEntryRecord>& records = m_engine.m_selectedRecords;
        selection.clear();
        records.clear();
        for (const std::uint32_t index : m_engine.m_entries.order()) {
            const ZipEntryRecord entry = m_engine.m_entries[index];
            if (selected(entry)) {
                selection.push_back(index);
                records.push_back(entry);
            }
        }
        std::vector<std::unique_ptr<EntryWorkbench>>& helpers = m_engine.m_helpers;
        while (helpers.size() < m_settings.entryThreads - 1)
            helpers.push_back(std::make_unique<EntryWorkbench>());
        ParallelEntryCheck check;
        check.entries = records;
        check.selection = selection;
        check.source = m_reading;
        check.callerVerifier = &m_engine.m_verifier;
        check.callerProgress = this;
        check.helperProgress = &m_helperDone;
        m_parallel = true;
        m_engine.m_verifier.setBlockThreads(1);
        checkEntriesInParallel(check, std::span(helpers).first(m_settings.entryThreads - 1), m_log,
                               m_currentEntry);
        return true;
    }

    void describeCurrent(ZipStatus& status) {
        if (m_currentEntry < m_engine.m_entries.size())
            m_engine.describeEntry(m_engine.m_entries[m_currentEntry], status);
    }

    ZipEngine& m_engine;
    ZipOperation m_kind;
    ByteSource& m_source;
    // What the archive is read from: the file at hand, or a split set's parts joined before it.
    ByteSource* m_reading = &m_source;
    std::unique_ptr<MultiPartByteSource> m_joined;
    const ZipEngineSettings& m_settings;
    std::vector<ZipFault>& m_faults;
    // How many of the faults the structure check found; the rest are the entries' own. Kept: it
    // ran to its end and every fault it found is in the list, so a verify can take them over.
    std::ptrdiff_t m_structureFaultCount = 0;
    bool m_structureKept = false;
    FaultLog m_log;
    ProgressPacer m_pacer;
    ZipArchiveLayout m_layout;
    std::uint64_t m_outputBudget;
    std::uint64_t m_done = 0;
    std::uint64_t m_total = 0;
    std::size_t m_selectedCount = 0;
    std::size_t m_currentEntry = SIZE_MAX;
    bool m_stopped = false;
    std::atomic<std::uint64_t> m_helperDone{0};
    bool m_parallel = false;
};

ZipEngine::ZipEngine()
    : m_output(OutputSize), m_window(WindowSize), m_codecs(m_output), m_verifier(m_window, m_codecs),
      m_headerBuffer(MaximumCentralHeaderSize) {}

ZipEngine::~ZipEngine() = default;

std::int16_t ZipEngine::run(ZipOperation operation, ByteSource& source, const ZipEngineSettings& settings,
                            std::vector<ZipFault>& faults) {
    // A large directory's memory and its lease go back as soon as the operation is over, not with
    // the next archive; a probe's entries stay only for the verify that takes its structure.
    const struct ClearEntries {
        ZipEngine& engine;
        ~ClearEntries() {
            if (!engine.m_structureFrom)
                engine.m_entries.clear();
        }
    } clearEntries{*this};
    const BusyThreads::Token busy = BusyThreads::shared().enter();
    Operation run(*this, operation, source, settings, faults);
    const std::int16_t result = run.run();
    if (result != ZipResult::Aborted)
        nameEntryFaults(source, faults);
    return result;
}

void ZipEngine::nameEntryFaults(ByteSource& source, std::vector<ZipFault>& faults) {
    bool attached = false;
    for (ZipFault& fault : faults) {
        // A header that could not be parsed has no record, and so no name to give.
        if (!fault.isEntryFault() || static_cast<std::uint64_t>(fault.entryIndex) >= m_entries.size())
            continue;
        if (!attached) {
            attachWindow(source, true);
            attached = true;
        }
        const ZipEntryRecord& entry = m_entries[static_cast<std::size_t>(fault.entryIndex)];
        const auto name = m_window.view(entry.centralHeaderOffset + CentralHeaderSize, entry.nameLength);
        if (name)
            fault.entryName.assign(name->begin(), name->end());
    }
    if (attached)
        m_window.attach(nullptr);
}

void ZipEngine::attachWindow(ByteSource& source, bool unchangedSinceLastRun) {
    if (unchangedSinceLastRun && m_cachedFrom == &source)
        m_window.reattach(&source);
    else
        m_window.attach(&source);
}

void ZipEngine::describeEntry(const ZipEntryRecord& entry, ZipStatus& status) {
    // The name was read and checked with its central header; copy it again (from the window's cache
    // when it still holds it), leaving the cached data alone for the work in progress.
    const std::span<std::uint8_t> name = std::span(m_headerBuffer).first(entry.nameLength);
    if (m_window.copy(entry.centralHeaderOffset + CentralHeaderSize, name))
        status.fileName.assign(name.begin(), name.end());
}

} // namespace vellum
