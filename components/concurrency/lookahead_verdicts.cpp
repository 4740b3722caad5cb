#include "concurrency/lookahead_verdicts.h"

#include "engine/zip_engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace vellum {

namespace {

// How far the workers may run ahead of the caller. Kept verdicts are small, but a folder may hold
// archives that fail with a fault for each of a million entries, and any work ahead is wasted when
// the run is cancelled. Each worker may always hold one archive beyond the one the caller waits for,
// so that a large archive finished early does not leave a processor idle.
constexpr std::size_t MaximumArchivesAhead = 64;
constexpr std::uint64_t MaximumBytesAhead = std::uint64_t{1} << 30;
constexpr std::size_t MaximumFaultsAhead = 200000;
constexpr auto WaitSlice = std::chrono::milliseconds(4);
// Verdicts and work are handed over in batches: a thread woken for every small archive spends
// more on the wake-up and the switch of processors than the archive's test costs. A waiting
// caller is woken once this many verdicts from its own on are ready (or nothing else is being
// worked on), and otherwise finds its verdict by itself at the end of its wait slice; idle workers
// are woken once this many archives are there to test (or the caller needs one that no worker
// has started).
constexpr std::size_t HandOverBatch = 16;

} // namespace

struct LookaheadVerdicts::Slot {
    enum class State { Waiting, Working, Done, Failed };

    Slot(std::string archivePath, std::shared_ptr<const ArchiveTestPlan> testPlan)
        : path(std::move(archivePath)), plan(std::move(testPlan)) {}

    const std::string path;
    const std::shared_ptr<const ArchiveTestPlan> plan;
    // Everything below but cancelled is guarded by the owner's mutex.
    State state = State::Waiting;
    bool inQueue = true;
    std::shared_ptr<const PrecomputedVerdict> verdict;
    std::uint64_t bytes = 0;
    std::size_t faults = 0;
    // Read by the worker testing the archive at every yield of its engine.
    std::atomic<bool> cancelled{false};

    // The last status event of the operation under way, for a caller waiting for the verdict to
    // show. Written by the worker at most once per percent, read by the caller every wait slice.
    void publish(const ZipStatus& status) {
        const std::lock_guard lock(statusMutex);
        liveStatus = status;
    }
    ZipStatus currentStatus() const {
        const std::lock_guard lock(statusMutex);
        return liveStatus;
    }

private:
    mutable std::mutex statusMutex;
    ZipStatus liveStatus;
};

namespace {

// Tests one archive as the caller would; null when it could not be tested ahead (the file does not
// open, the work was cancelled, memory ran out), which leaves the archive to the caller.
std::shared_ptr<PrecomputedVerdict> testAhead(ZipEngine& engine, const std::string& path,
                                              const std::shared_ptr<const ArchiveTestPlan>& plan,
                                              const std::atomic<bool>& cancelled, unsigned entryThreads,
                                              const std::function<void(const ZipStatus&)>& publish) {
    FileByteSource source;
    if (!source.open(path))
        return nullptr;
    auto verdict = std::make_shared<PrecomputedVerdict>();
    verdict->path = path;
    verdict->plan = plan;
    verdict->identity = source.identity();
    ZipStatus* lastStatus = &verdict->probeStatus;
    const std::function<void(const ZipStatus&)> onStatus = [&](const ZipStatus& status) {
        *lastStatus = status;
        publish(status);
    };
    ZipEngineSettings settings;
    settings.fileFilter = plan->probeFilter;
    settings.stopAtFirstFault = plan->stopAtFirstFault;
    // Nobody waits on this thread for a yield: the engine only watches for the cancellation.
    settings.onStatus = &onStatus;
    settings.cancelFlag = &cancelled;
    settings.entryThreads = entryThreads;
    SplitPartFiles parts(path);
    settings.splitParts = &parts;
    verdict->probe = engine.run(ZipOperation::Probe, source, settings, verdict->probeFaults);
    if (verdict->probe == ZipResult::Aborted)
        return nullptr;
    if (probeGoesOn(verdict->probe)) {
        // The verify's progress starts again from nothing, as it does for a caller testing in place.
        lastStatus = &verdict->verifyStatus;
        publish(ZipStatus{});
        settings.fileFilter = plan->verifyFilter;
        // The same open file: a small archive read whole by the probe is not read again.
        settings.sameSourceAsPreviousRun = true;
        verdict->verify = engine.run(ZipOperation::Verify, source, settings, verdict->verifyFaults);
        if (verdict->verify == ZipResult::Aborted)
            return nullptr;
        verdict->verified = true;
    }
    return verdict;
}

} // namespace

LookaheadVerdicts::LookaheadVerdicts(unsigned workerCount, unsigned entryThreadsPerWorker)
    : m_workerCount(std::max(workerCount, 1u)), m_entryThreadsPerWorker(std::max(entryThreadsPerWorker, 1u)) {
}

LookaheadVerdicts::~LookaheadVerdicts() {
    {
        const std::lock_guard lock(m_mutex);
        m_shuttingDown = true;
        cancelLocked();
    }
    m_workAvailable.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void LookaheadVerdicts::announce(std::vector<std::string> paths, const ArchiveTestPlan& plan) {
    {
        const std::lock_guard lock(m_mutex);
        cancelLocked();
        enqueueLocked(paths, plan);
    }
    m_workAvailable.notify_all();
}

void LookaheadVerdicts::append(std::vector<std::string> paths, const ArchiveTestPlan& plan) {
    const std::lock_guard lock(m_mutex);
    enqueueLocked(paths, plan);
    // Workers busy on the archives before these find them by themselves.
    wakeIdleWorkersLocked(false);
}

void LookaheadVerdicts::enqueueLocked(std::vector<std::string>& paths, const ArchiveTestPlan& plan) {
    // One copy of the plan for the whole announcement, however many archives it holds.
    const auto shared = std::make_shared<const ArchiveTestPlan>(plan);
    for (std::string& path : paths)
        m_slots.push_back(std::make_shared<Slot>(std::move(path), shared));
    if (m_workers.empty() && !m_slots.empty())
        startWorkers();
}

void LookaheadVerdicts::discard() {
    {
        const std::lock_guard lock(m_mutex);
        cancelLocked();
    }
}

std::size_t LookaheadVerdicts::pendingCount() const {
    const std::lock_guard lock(m_mutex);
    return m_slots.size();
}

void LookaheadVerdicts::startWorkers() {
    // Without threads nothing is tested ahead, and every archive is left to the caller.
    try {
        for (unsigned index = 0; index < m_workerCount; ++index)
            m_workers.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
    }
}

void LookaheadVerdicts::cancelLocked() {
    for (const std::shared_ptr<Slot>& slot : m_slots) {
        slot->cancelled.store(true);
        slot->inQueue = false;
    }
    m_slots.clear();
    m_bytesAhead = 0;
    m_faultsAhead = 0;
}

std::size_t LookaheadVerdicts::reachLocked() const {
    // The archive the caller asks for next, and one more for each worker, is always worth testing;
    // those after them only while the verdicts kept so far stay within bounds.
    const bool withinBounds = m_bytesAhead < MaximumBytesAhead && m_faultsAhead < MaximumFaultsAhead;
    const std::size_t always = std::min<std::size_t>(m_workerCount + 1, MaximumArchivesAhead);
    return std::min(m_slots.size(), withinBounds ? MaximumArchivesAhead : always);
}

std::shared_ptr<LookaheadVerdicts::Slot> LookaheadVerdicts::nextSlotLocked() {
    const std::size_t reach = reachLocked();
    for (std::size_t position = 0; position < reach; ++position) {
        if (m_slots[position]->state == Slot::State::Waiting)
            return m_slots[position];
    }
    return nullptr;
}

void LookaheadVerdicts::work() {
    // Each worker's engine is its own: buffers and decoder states are reused for every archive.
    std::unique_ptr<ZipEngine> engine;
    std::unique_lock lock(m_mutex);
    for (;;) {
        std::shared_ptr<Slot> slot;
        ++m_idleWorkers;
        m_workAvailable.wait(lock, [&] { return m_shuttingDown || (slot = nextSlotLocked()) != nullptr; });
        --m_idleWorkers;
        if (m_shuttingDown)
            return;
        slot->state = Slot::State::Working;
        ++m_working;
        lock.unlock();
        std::shared_ptr<PrecomputedVerdict> verdict;
        try {
            if (!engine)
                engine = std::make_unique<ZipEngine>();
            verdict = testAhead(*engine, slot->path, slot->plan, slot->cancelled, m_entryThreadsPerWorker,
                                [&slot](const ZipStatus& status) { slot->publish(status); });
        } catch (...) {
            // Out of memory: the caller tests the archive itself, and reports what it finds.
            verdict = nullptr;
        }
        lock.lock();
        --m_working;
        if (verdict && !slot->cancelled.load()) {
            slot->bytes = static_cast<std::uint64_t>(verdict->identity.size);
            slot->faults = verdict->probeFaults.size() + verdict->verifyFaults.size();
            slot->verdict = std::move(verdict);
            slot->state = Slot::State::Done;
            if (slot->inQueue) {
                m_bytesAhead += slot->bytes;
                m_faultsAhead += slot->faults;
            }
        } else {
            slot->state = Slot::State::Failed;
        }
        if (callerMayGoOnLocked())
            m_verdictReady.notify_one();
    }
}

bool LookaheadVerdicts::callerMayGoOnLocked() const {
    if (m_awaited == nullptr || m_awaited->state == Slot::State::Waiting ||
        m_awaited->state == Slot::State::Working)
        return false;
    if (m_working == 0)
        return true;
    // The caller's archive is the first in the queue while it waits.
    std::size_t ready = 0;
    for (const std::shared_ptr<Slot>& slot : m_slots) {
        if (slot->state == Slot::State::Waiting || slot->state == Slot::State::Working)
            return false;
        if (++ready >= HandOverBatch)
            return true;
    }
    return true;
}

std::size_t LookaheadVerdicts::workAvailableLocked() const {
    const std::size_t reach = reachLocked();
    std::size_t available = 0;
    for (std::size_t position = 0; position < reach; ++position) {
        if (m_slots[position]->state == Slot::State::Waiting)
            ++available;
    }
    return available;
}

void LookaheadVerdicts::wakeIdleWorkersLocked(bool callerWaits) {
    if (m_idleWorkers == 0 || m_slots.empty())
        return;
    const std::size_t available = workAvailableLocked();
    if (available == 0)
        return;
    // What is left beyond the reach enters it one archive per take; until a batch has gathered,
    // the workers keep sleeping, unless nothing more is to come or the caller is about to wait for
    // one of these archives.
    if (available >= HandOverBatch || m_slots.size() <= MaximumArchivesAhead || callerWaits ||
        m_slots.front()->state == Slot::State::Waiting)
        m_workAvailable.notify_all();
}

LookaheadVerdicts::Outcome LookaheadVerdicts::take(const std::string& path, ProbeSettings probe,
                                                   const std::function<bool(const ZipStatus&)>& keepWaiting,
                                                   std::shared_ptr<const PrecomputedVerdict>& verdict) {
    verdict.reset();
    std::unique_lock lock(m_mutex);
    const auto found = std::find_if(m_slots.begin(), m_slots.end(), [&](const std::shared_ptr<Slot>& slot) {
        return slot->path == path && slot->plan->probeFilter == probe.fileFilter &&
               slot->plan->stopAtFirstFault == probe.stopAtFirstFault;
    });
    if (found == m_slots.end())
        return Outcome::NotQueued;
    // Announced archives the caller passed over will not be asked for any more.
    const std::shared_ptr<Slot> slot = *found;
    while (m_slots.front() != slot) {
        const std::shared_ptr<Slot>& skipped = m_slots.front();
        skipped->cancelled.store(true);
        skipped->inQueue = false;
        if (skipped->state == Slot::State::Done) {
            m_bytesAhead -= skipped->bytes;
            m_faultsAhead -= skipped->faults;
        }
        m_slots.pop_front();
    }
    // An archive no worker has started yet is the first a free worker takes: waiting for it keeps
    // this thread free for the caller's own work instead of competing with the workers.
    const auto inProgress = [&] {
        return slot->state == Slot::State::Working || slot->state == Slot::State::Waiting;
    };
    if (m_workers.empty())
        return Outcome::NotQueued;
    if (inProgress())
        wakeIdleWorkersLocked(true);
    while (inProgress()) {
        m_awaited = slot.get();
        const bool ready = m_verdictReady.wait_for(lock, WaitSlice, [&] { return !inProgress(); });
        m_awaited = nullptr;
        if (ready)
            break;
        lock.unlock();
        const bool goOn = keepWaiting(slot->currentStatus());
        lock.lock();
        if (!goOn) {
            cancelLocked();
            return Outcome::Aborted;
        }
        // Dropped while the caller yielded (a new announcement or a discard): test it in place.
        if (!slot->inQueue)
            return Outcome::NotQueued;
    }
    if (slot->inQueue) {
        slot->inQueue = false;
        if (slot->state == Slot::State::Done) {
            m_bytesAhead -= slot->bytes;
            m_faultsAhead -= slot->faults;
        }
        m_slots.pop_front();
    }
    // Taking one lets the workers reach one further.
    wakeIdleWorkersLocked(false);
    if (slot->state != Slot::State::Done)
        return Outcome::NotQueued;
    verdict = slot->verdict;
    return Outcome::Ready;
}

} // namespace vellum
