#pragma once

// The archives a command-line run has judged, counted by the verdicts it prints: what its exit
// status and its closing line on a terminal are made from.

#include "run_observer.h"

#include <cstdint>

namespace vellum {

class RunTally final : public RunObserver {
public:
    // strict: an unverified archive counts as bad, as --strict prints it.
    explicit RunTally(bool strict) : m_strict(strict) {}
    void runStarted() override;
    void archiveJudged(const ArchiveOutcome& outcome) override;

    bool strict() const { return m_strict; }
    std::int64_t tested() const { return m_tested; }
    std::int64_t bad() const { return m_bad; } // unverified ones included under --strict
    // Archives some entries of which could not be verified, whether counted bad or not.
    std::int64_t unverified() const { return m_unverified; }

private:
    bool m_strict;
    std::int64_t m_tested = 0;
    std::int64_t m_bad = 0;
    std::int64_t m_unverified = 0;
};

} // namespace vellum
