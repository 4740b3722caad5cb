#pragma once

// Verdicts computed ahead. The caller announces the archives it is about to test, in order; worker
// threads, each with an engine of its own, test them the way the caller will (probe with the
// "*.diz" filter, then verify every entry when the probe lets it go on, never stopping at the first
// fault) and keep the outcomes until the caller asks for them. The caller takes them in order;
// an archive it skips is dropped. The work ahead is bounded by a number of archives, of compressed
// bytes and of kept faults, so memory stays small however large the folder. Workers never call
// back into the caller: only the thread that takes a verdict yields, raises events or sees abort.

#include "base/byte_source.h"
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

// The filter the caller's probe uses, and so the only one a precomputed probe answers.
inline constexpr std::string_view LookaheadProbeFilter = "*.diz";

struct PrecomputedVerdict {
    std::string path;
    FileIdentity identity; // of the file as it was tested
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

    // The archives the caller will ask for next, in order. Replaces whatever was announced before.
    void announce(std::vector<std::string> paths);
    // Archives the caller will ask for after those already announced, which are kept.
    void append(std::vector<std::string> paths);
    // Drops every announced archive and stops the work on them.
    void discard();

    enum class Outcome {
        Ready,     // verdict holds the outcome
        NotQueued, // not announced, not yet started, or not testable ahead: test it in place
        Aborted,   // keepWaiting said stop; everything announced has been dropped
    };
    // The verdict for path. Archives announced before it that were never asked for are dropped.
    // While a worker is still on it, waits, calling keepWaiting at least every 5 ms with the last
    // status the worker's operation raised (completion 0 before it raised any); keepWaiting runs on
    // the calling thread without any lock held, and returns false to give up.
    Outcome take(const std::string& path, const std::function<bool(const ZipStatus&)>& keepWaiting,
                 std::shared_ptr<const PrecomputedVerdict>& verdict);

    // How many archives are announced and not yet taken or dropped.
    std::size_t pendingCount() const;

private:
    struct Slot;
    void startWorkers();
    void enqueueLocked(std::vector<std::string>& paths);
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
