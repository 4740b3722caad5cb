#include "run_tally.h"

#include "result_output.h"

namespace vellum {

void RunTally::runStarted() {
    m_tested = 0;
    m_bad = 0;
    m_unverified = 0;
}

void RunTally::archiveJudged(const ArchiveOutcome& outcome) {
    ++m_tested;
    if (printedVerdict(outcome.verdict, m_strict) == FullVerdict::Bad)
        ++m_bad;
    if (outcome.verdict == FullVerdict::Unverified)
        ++m_unverified;
}

} // namespace vellum
