#include "engine/parallel_entries.h"

#include "engine/busy_threads.h"

#include <chrono>
#include <future>

namespace vellum {

namespace {

constexpr std::size_t BufferSize = 256 * 1024;
// Below this much compressed data an archive is checked in a few tens of milliseconds anyway, and a
// second thread saves nothing anyone would notice.
constexpr std::uint64_t ParallelThreshold = 16 << 20;
// A log keeps at most 100,000 faults, and each entry adds at most one; staying well below that
// keeps every helper's list complete, so the merged log is exact.
constexpr std::size_t MaximumParallelEntries = 50000;
// How long the caller waits for the helpers between two polls of its own progress sink.
constexpr auto HelperPollInterval = std::chrono::milliseconds(10);

struct EntryResult {
    bool claimed = false;
    EntryVerifier::Outcome outcome = EntryVerifier::Outcome::Checked;
    std::size_t thread = 0;
    std::size_t firstFault = 0;
    std::size_t faultEnd = 0;
};

bool endsCheck(EntryVerifier::Outcome outcome) {
    return outcome == EntryVerifier::Outcome::Stopped || outcome == EntryVerifier::Outcome::ReadFailed ||
           outcome == EntryVerifier::Outcome::BudgetSpent;
}

// Shared between the threads of one check.
struct SharedClaims {
    std::atomic<std::size_t> next{0};
    // Set when an entry ended the check: entries after it are left alone, while those claimed
    // before it, all earlier in check order, are finished as a one-by-one check would.
    std::atomic<bool> noMoreClaims{false};
    // Set on abort: every thread stops at once.
    std::atomic<bool> stopped{false};
};

class HelperProgress final : public ProgressSink {
public:
    HelperProgress(std::atomic<std::uint64_t>& done, const std::atomic<bool>& stopped)
        : m_done(done), m_stopped(stopped) {}
    bool advance(std::size_t, std::uint64_t amount) override {
        m_done.fetch_add(amount, std::memory_order_relaxed);
        return !m_stopped.load(std::memory_order_relaxed);
    }

private:
    std::atomic<std::uint64_t>& m_done;
    const std::atomic<bool>& m_stopped;
};

class CallerProgress final : public ProgressSink {
public:
    CallerProgress(ProgressSink& sink, std::atomic<bool>& stopped) : m_sink(sink), m_stopped(stopped) {}
    bool advance(std::size_t entryIndex, std::uint64_t amount) override {
        m_lastEntry = entryIndex;
        if (m_sink.advance(entryIndex, amount))
            return true;
        m_stopped.store(true);
        return false;
    }
    // Polls while the caller waits for the helpers, naming the entry it last worked on.
    bool poll() { return advance(m_lastEntry, 0); }

private:
    std::size_t m_lastEntry = SIZE_MAX;
    ProgressSink& m_sink;
    std::atomic<bool>& m_stopped;
};

void claimEntries(const ParallelEntryCheck& check, SharedClaims& claims, std::vector<EntryResult>& results,
                  std::size_t thread, EntryVerifier& verifier, std::vector<ZipFault>& faults,
                  ProgressSink& progress) {
    FaultLog log(faults, false);
    std::uint64_t unlimited = UINT64_MAX;
    while (!claims.noMoreClaims.load() && !claims.stopped.load()) {
        const std::size_t position = claims.next.fetch_add(1);
        if (position >= check.selection.size())
            return;
        const std::uint32_t index = check.selection[position];
        EntryResult& result = results[position];
        result.claimed = true;
        result.thread = thread;
        result.firstFault = faults.size();
        result.outcome = verifier.verify(check.entries[position], index, log, progress, unlimited);
        result.faultEnd = faults.size();
        if (endsCheck(result.outcome))
            claims.noMoreClaims.store(true);
    }
}

} // namespace

EntryWorkbench::EntryWorkbench()
    : m_output(BufferSize), m_window(BufferSize), m_codecs(m_output), m_verifier(m_window, m_codecs) {}

bool worthCheckingInParallel(std::size_t entryCount, std::uint64_t compressedBytes) {
    return entryCount >= 2 && entryCount <= MaximumParallelEntries && compressedBytes >= ParallelThreshold;
}

EntryVerifier::Outcome checkEntriesInParallel(const ParallelEntryCheck& check,
                                              std::span<const std::unique_ptr<EntryWorkbench>> helpers,
                                              FaultLog& log, std::size_t& lastEntry) {
    SharedClaims claims;
    std::vector<EntryResult> results(check.selection.size());
    std::vector<std::vector<ZipFault>> faults(helpers.size() + 1);
    HelperProgress helperProgress(*check.helperProgress, claims.stopped);
    // Declared after everything the helpers use: leaving early waits for them before that goes.
    std::vector<std::future<void>> running;
    running.reserve(helpers.size());
    for (std::size_t helper = 0; helper < helpers.size(); ++helper) {
        EntryWorkbench& bench = *helpers[helper];
        running.push_back(std::async(std::launch::async, [&, helper] {
            const BusyThreads::Token busy = BusyThreads::shared().enter();
            bench.window().attach(check.source);
            claimEntries(check, claims, results, helper + 1, bench.verifier(), faults[helper + 1],
                         helperProgress);
            bench.window().attach(nullptr);
        }));
    }
    CallerProgress callerProgress(*check.callerProgress, claims.stopped);
    claimEntries(check, claims, results, 0, *check.callerVerifier, faults[0], callerProgress);
    // The helpers may still be on their last entries: keep the caller's window alive meanwhile.
    for (std::future<void>& helper : running) {
        while (helper.wait_for(HelperPollInterval) != std::future_status::ready)
            callerProgress.poll();
        helper.get();
    }
    if (claims.stopped.load())
        return EntryVerifier::Outcome::Stopped;
    for (std::size_t position = 0; position < results.size(); ++position) {
        const EntryResult& result = results[position];
        if (!result.claimed)
            break;
        lastEntry = check.selection[position];
        const std::vector<ZipFault>& found = faults[result.thread];
        for (std::size_t fault = result.firstFault; fault < result.faultEnd; ++fault)
            log.add(found[fault]);
        if (endsCheck(result.outcome))
            return result.outcome;
    }
    return EntryVerifier::Outcome::Checked;
}

} // namespace vellum
