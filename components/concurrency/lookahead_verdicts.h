#pragma once

// Verdicts computed ahead. The caller announces the archives it is about to test, in order, with
// the settings it will test them with; worker threads, each with an engine of its own, test them
// the way the caller will (probe, then verify when the probe lets it go on) and keep the outcomes
// until the caller asks for them with the same settings. The caller takes them in order;
// an archive it skips is dropped. The work ahead is bounded by a number of archives, of compressed
// bytes and of kept faults, so memory stays small however large the folder. Workers never call
// back into the caller: only the thread that takes a verdict yields, raises events or sees abort.

#include "base/byte_source.h"
#include "zip/archive_tester.h"
#include "zip/zip_faults.h"
#include "zip/zip_result.h"
#include "zip/zip_status.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vellum {

struct PrecomputedVerdict {
    std::string path;
    std::shared_ptr<const ArchiveTestPlan> plan; // the settings it was found with
    FileIdentity identity;                       // of the file as it was tested
    std::int16_t probe = 0;
    std::vector<ZipFault> probeFaults;
    ZipStatus probeStatus; // the last status event the probe raised
    bool verified = false; // verify ran (the probe let it go on)
    std::int16_t verify = 0;
    std::vector<ZipFault> verifyFaults;
    ZipStatus verifyStatus;
};

class LookaheadVerdicts {
public:
    // workerCount threads are started with the first announcement; each checks the entries of a
    // large archive on up to entryThreadsPerWorker threads, its own included.
    explicit LookaheadVerdicts(unsigned workerCount, unsigned entryThreadsPerWorker = 2);
    // Stops the workers (abandoning the archives in progress) and waits for them.
    ~LookaheadVerdicts();
    LookaheadVerdicts(const LookaheadVerdicts&) = delete;
    LookaheadVerdicts& operator=(const LookaheadVerdicts&) = delete;

    // The archives the caller will ask for next, in order, to be tested with plan's settings.
    // Replaces whatever was announced before.
    void announce(std::vector<std::string> paths, const ArchiveTestPlan& plan);
    // Archives the caller will ask for after those already announced, which are kept.
    void append(std::vector<std::string> paths, const ArchiveTestPlan& plan);
    // Drops every announced archive and stops the work on them.
    void discard();

    // What the caller's probe asks for.
    struct ProbeSettings {
        const std::string& fileFilter;
        bool stopAtFirstFault;
    };
    enum class Outcome {
        Ready,     // verdict holds the outcome
        NotQueued, // not announced with these settings, not yet started, or not testable ahead:
                   // test it in place
        Aborted,   // keepWaiting said stop; everything announced has been dropped
    };
    // The verdict for path, announced with a plan whose probe has probe's settings. Archives
    // announced before it that were never asked for are dropped.
    // While a worker is still on it, waits, calling keepWaiting at least every 5 ms with the last
    // status the worker's operation raised (completion 0 before it raised any); keepWaiting runs on
    // the calling thread without any lock held, and returns false to give up.
    Outcome take(const std::string& path, ProbeSettings probe,
                 const std::function<bool(const ZipStatus&)>& keepWaiting,
                 std::shared_ptr<const PrecomputedVerdict>& verdict);

    // How many archives are announced and not yet taken or dropped.
    std::size_t pendingCount() const;

private:
    struct Slot;
    void startWorkers();
    void enqueueLocked(std::vector<std::string>& paths, const ArchiveTestPlan& plan);
    void work();
    // How many archives from the front of the queue the workers may start on.
    std::size_t reachLocked() const;
    std::shared_ptr<Slot> nextSlotLocked();
    void cancelLocked();
    // Whether the waiting caller should be woken: its verdict is ready, and a batch after it too or
    // no worker is busy.
    bool callerMayGoOnLocked() const;
    // How many archives the workers could start now.
    std::size_t workAvailableLocked() const;
    void wakeIdleWorkersLocked(bool callerWaits);

    unsigned m_workerCount;
    unsigned m_entryThreadsPerWorker;
    mutable std::mutex m_mutex;
    std::condition_variable m_workAvailable; // workers wait here for archives to test
    std::condition_variable m_verdictReady;  // the caller waits here for the archive it asked for
    std::deque<std::shared_ptr<Slot>> m_slots;
    std::uint64_t m_bytesAhead = 0;
    std::size_t m_faultsAhead = 0;
    unsigned m_idleWorkers = 0;
    unsigned m_working = 0;
    // The slot the caller is waiting for; null while it does not wait.
    const Slot* m_awaited = nullptr;
    bool m_shuttingDown = false;
    std::vector<std::thread> m_workers;
};

} // namespace vellum
