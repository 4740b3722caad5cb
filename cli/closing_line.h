#pragma once

// The line a run on a terminal ends with, on standard error once the progress line is cleared:
//
//   vellum: 120 tested, 2 bad, 1 unverified, 3 unreadable, 1.2 GB in 4.1 s; reports in /home/u/...
//
// Under --strict the unverified archives are among the bad ones: "3 bad (1 unverified)". A run
// that was stopped says so first; a run whose reports could not all be written says that in place
// of their folder (the notes before it name each file and the reason).

#include "run_observer.h"
#include "run_tally.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace vellum {

class ClosingLine final : public RunObserver {
public:
    // tally: the run's verdicts, counted by an observer told of each archive before this one.
    ClosingLine(std::FILE* terminal, const RunTally& tally) : m_terminal(terminal), m_tally(tally) {}
    void runStarted() override;
    void archiveJudged(const ArchiveOutcome& outcome) override;
    void runEnded(const RunSummary& summary) override;

private:
    std::FILE* m_terminal;
    const RunTally& m_tally;
    std::chrono::steady_clock::time_point m_start;
    std::uint64_t m_bytes = 0;
};

// The line without its line end: the counts of the tally, the archives' bytes, the run's length.
std::string closingLineText(const RunTally& tally, const RunSummary& summary, std::uint64_t bytes,
                            double seconds);

} // namespace vellum
