#include "zip/zip_tester.h"

#include "base/byte_source.h"
#include "base/decoder_memory.h"
#include "concurrency/lookahead_verdicts.h"
#include "engine/zip_engine.h"

#include <algorithm>
#include <new>
#include <thread>

namespace vellum {

namespace {

// How many threads the component runs, against the number of processors. The look-ahead tests one
// archive per worker; a worker that meets a large archive checks it on two threads, so that the
// last large archive of a folder still keeps two processors busy when the other workers have run
// out of archives. An operation's entry threads are one allowance, spent either on several entries
// at once or, when its entries are checked one after another, on the blocks of one large xz entry
// (engine/parallel_blocks.h); never on both. Block helpers further start only while a processor has
// no archive to check (engine/busy_threads.h), so one big entry at the end of a run or alone in an
// archive uses the idle processor, and many archives keep one thread per worker. The caller's thread waits
// while the look-ahead works and tests in place only what the look-ahead does not hold, so its own entry
// threads and the workers seldom run at once. At most twice as many threads as processors can be busy
// together, which keeps the scheduler's switching small while no processor waits for work; more than four
// workers gain nothing, as reading the archives becomes the limit.
struct ThreadBudget {
    unsigned lookaheadWorkers;
    unsigned entryThreadsPerWorker;
    unsigned callerEntryThreads;
};

ThreadBudget threadBudget() {
    const unsigned processors = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    return {processors, 2, processors};
}

} // namespace

ZipTester::ZipTester() = default;

// Destroying the look-ahead stops its workers and waits for them.
ZipTester::~ZipTester() = default;

void ZipTester::expectArchives(std::vector<std::string> paths, const ArchiveTestPlan& plan) {
    try {
        lookahead().announce(std::move(paths), plan);
    } catch (...) {
        // Without the look-ahead every archive is simply tested in place.
        m_lookahead.reset();
    }
}

void ZipTester::expectMoreArchives(std::vector<std::string> paths, const ArchiveTestPlan& plan) {
    try {
        lookahead().append(std::move(paths), plan);
    } catch (...) {
        m_lookahead.reset();
    }
}

LookaheadVerdicts& ZipTester::lookahead() {
    if (!m_lookahead)
        m_lookahead = std::make_unique<LookaheadVerdicts>(threadBudget().lookaheadWorkers,
                                                          threadBudget().entryThreadsPerWorker);
    return *m_lookahead;
}

void ZipTester::dropExpectedArchives() {
    if (m_lookahead)
        m_lookahead->discard();
}

// Passes the operation's status events and yields on to the caller, and sees that a status event
// comes before every yield: when the work has not reached another percent since the last yield, the
// last event is raised again. A window minimised in the middle of one long entry so shows the
// percentage at once, and a caller waiting for a worker sees its progress at the same pace.
class ZipTester::StatusRelay {
public:
    explicit StatusRelay(ZipTester& tester) : m_tester(tester) {}

    void status(const ZipStatus& status) {
        m_last = status;
        m_raisedSinceYield = true;
        if (m_tester.onStatus)
            m_tester.onStatus(m_last);
    }
    void yield() {
        if (!m_raisedSinceYield && m_tester.onStatus)
            m_tester.onStatus(m_last);
        m_raisedSinceYield = false;
        if (m_tester.onYield)
            m_tester.onYield();
    }

    // The two as the engine takes them.
    const std::function<void(const ZipStatus&)> onStatus = [this](const ZipStatus& event) { status(event); };
    const std::function<void()> onYield = [this] { yield(); };

private:
    ZipTester& m_tester;
    ZipStatus m_last; // completion 0 until the operation raises its first event
    bool m_raisedSinceYield = false;
};

std::optional<std::int16_t> ZipTester::answerFromLookahead(Operation operation, const std::string& path,
                                                           StatusRelay& relay) {
    const bool probe = operation == Operation::Probe;
    std::shared_ptr<const PrecomputedVerdict> verdict = std::move(m_heldVerdict);
    if (!m_lookahead)
        return std::nullopt;
    if (probe) {
        const auto keepWaiting = [this, &relay](const ZipStatus& workerStatus) {
            relay.status(workerStatus);
            relay.yield();
            return !abort;
        };
        const LookaheadVerdicts::Outcome outcome =
            m_lookahead->take(path, {fileFilter, stopAtFirstFault}, keepWaiting, verdict);
        if (outcome == LookaheadVerdicts::Outcome::Aborted)
            return ZipResult::Aborted;
        if (outcome != LookaheadVerdicts::Outcome::Ready)
            return std::nullopt;
    } else if (!verdict || !verdict->verified || verdict->path != path ||
               fileFilter != verdict->plan->verifyFilter ||
               stopAtFirstFault != verdict->plan->stopAtFirstFault) {
        return std::nullopt;
    }
    // A file replaced or rewritten since it was tested ahead is tested again. The probe checks;
    // the verify that follows it takes the verdict the probe has just found current.
    if (probe && fileIdentityOf(path) != verdict->identity)
        return std::nullopt;
    m_faults = probe ? verdict->probeFaults : verdict->verifyFaults;
    m_fileIdentity = verdict->identity;
    relay.status(probe ? verdict->probeStatus : verdict->verifyStatus);
    const std::int16_t result = probe ? verdict->probe : verdict->verify;
    if (probe)
        m_heldVerdict = std::move(verdict);
    return result;
}

std::int16_t ZipTester::probeArchive() {
    return runOperation(Operation::Probe, {}, false);
}

std::int16_t ZipTester::verifyArchive() {
    return runOperation(Operation::Verify, {}, false);
}

std::int16_t ZipTester::probeBytes(std::span<const std::uint8_t> bytes) {
    return runOperation(Operation::Probe, bytes, true);
}

std::int16_t ZipTester::verifyBytes(std::span<const std::uint8_t> bytes) {
    return runOperation(Operation::Verify, bytes, true);
}

std::int16_t ZipTester::runOperation(Operation operation, std::span<const std::uint8_t> memory,
                                     bool fromMemory) {
    if (m_operationRunning)
        return ZipResult::Aborted;
    m_operationRunning = true;
    const struct Finished {
        bool& running;
        ~Finished() { running = false; }
    } finished{m_operationRunning};
    // An abort left over from before this operation must not end it.
    abort = false;
    const bool probe = operation == Operation::Probe;
    try {
        m_faults.clear();
        m_fileIdentity.reset();
        StatusRelay relay(*this);
        if (!fromMemory) {
            if (const auto answer =
                    answerFromLookahead(operation, archivePath.empty() ? archiveName : archivePath, relay))
                return *answer;
        } else {
            m_heldVerdict.reset();
        }
        if (!m_engine)
            m_engine = std::make_unique<ZipEngine>();
        ZipEngineSettings settings;
        settings.fileFilter = fileFilter;
        settings.stopAtFirstFault = stopAtFirstFault;
        settings.onYield = &relay.onYield;
        settings.onStatus = &relay.onStatus;
        settings.abortFlag = &abort;
        settings.entryThreads = threadBudget().callerEntryThreads;
        const ZipOperation kind = probe ? ZipOperation::Probe : ZipOperation::Verify;
        if (fromMemory) {
            MemoryByteSource source(memory);
            return m_engine->run(kind, source, settings, m_faults);
        }
        const std::string& path = archivePath.empty() ? archiveName : archivePath;
        FileByteSource source;
        if (!source.open(path)) {
            // What kind of file it is, or the system's reason, so that the reason can be told.
            ZipFault fault{ZipFaultKind::CannotOpen, -1, 0};
            if (source.refusedFileType() != 0)
                fault.found = source.refusedFileType();
            else if (source.openError() != 0)
                fault.expected = static_cast<std::uint64_t>(source.openError());
            m_faults.push_back(std::move(fault));
            return probe ? ZipResult::CannotOpen : ZipResult::StructureDamaged;
        }
        m_fileIdentity = source.identity();
        SplitPartFiles parts(path);
        settings.splitParts = &parts;
        return m_engine->run(kind, source, settings, m_faults);
    } catch (...) {
        // Out of memory, or an exception from a callback: the archive could not be tested.
        try {
            m_faults.push_back(ZipFault{ZipFaultKind::CannotRead, -1, 0});
        } catch (...) {
        }
        return probe ? ZipResult::CannotRead : ZipResult::StructureDamaged;
    }
}

void limitDecoderMemory(std::uint64_t bytes) {
    DecoderMemoryBudget::limitShared(bytes);
}

} // namespace vellum
