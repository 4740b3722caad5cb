#include "closing_line.h"

#include "amount_text.h"
#include "base/path_open.h"
#include "escaped_text.h"

#include <sys/stat.h>

namespace vellum {

void ClosingLine::runStarted() {
    m_start = std::chrono::steady_clock::now();
    m_bytes = 0;
}

void ClosingLine::archiveJudged(const ArchiveOutcome& outcome) {
    struct stat status {};
    if (statusOfPathOfAnyLength(outcome.path, status))
        m_bytes += static_cast<std::uint64_t>(status.st_size);
}

void ClosingLine::runEnded(const RunSummary& summary) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    std::fprintf(m_terminal, "%s\n", closingLineText(m_tally, summary, m_bytes, elapsed.count()).c_str());
    std::fflush(m_terminal);
}

std::string closingLineText(const RunTally& tally, const RunSummary& summary, std::uint64_t bytes,
                            double seconds) {
    std::string line = summary.record.cancelled ? "vellum: stopped: " : "vellum: ";
    line += std::to_string(tally.tested()) + " tested, " + std::to_string(tally.bad()) + " bad";
    if (tally.strict())
        line += " (" + std::to_string(tally.unverified()) + " unverified)";
    else
        line += ", " + std::to_string(tally.unverified()) + " unverified";
    line += ", " + std::to_string(summary.unreachable) + " unreadable, ";
    // Archives deleted during the run are told only when there were any.
    if (summary.vanished > 0)
        line += std::to_string(summary.vanished) + " vanished, ";
    if (summary.missing > 0)
        line += std::to_string(summary.missing) + " missing, ";
    line += byteAmountText(bytes) + " in " + runTimeText(seconds);
    if (summary.report.failures.empty())
        line += "; reports in " + platform::escapedText(summary.report.folder);
    else
        line += "; the reports could not all be written";
    return line;
}

} // namespace vellum
