#include "standard_error_notes.h"

#include "escaped_text.h"
#include "fault_text.h"

namespace vellum {

void StandardErrorNotes::unreachable(const Unreachable& what) {
    const char* subject = "";
    switch (what.kind) {
    case Unreachable::Kind::Folder:
        subject = "folder ";
        break;
    case Unreachable::Kind::FileList:
        subject = "the file list ";
        break;
    case Unreachable::Kind::Path:
        break;
    }
    std::fprintf(m_output, "vellum: cannot read %s%s: %s\n", subject,
                 platform::escapedText(what.path).c_str(), what.reason.c_str());
}

void StandardErrorNotes::linkNotFollowed(const std::string& path) {
    std::fprintf(m_output, "vellum: not following %s: a symbolic link to a folder\n",
                 platform::escapedText(path).c_str());
}

void StandardErrorNotes::memoryShortfall(const MemoryShortfall& what) {
    std::fprintf(m_output, "vellum: %s: %s\n", platform::escapedText(what.path).c_str(),
                 faultDescription(what.path, what.fault).c_str());
}

void StandardErrorNotes::archiveJudged(const ArchiveOutcome& outcome) {
    // Decay is told whatever else the run prints: it is what a ledger is kept for.
    if (outcome.change == VerdictChange::NewlyBad)
        std::fprintf(m_output, "vellum: %s %s\n", platform::escapedText(outcome.path).c_str(),
                     verdictChangeText(outcome).c_str());
}

void StandardErrorNotes::runEnded(const RunSummary& summary) {
    for (const platform::WriteFailure& failure : summary.report.failures)
        std::fprintf(m_output, "vellum: %s\n", reportFailureText(failure).c_str());
    if (!summary.ledgerFailure.empty())
        std::fprintf(m_output, "vellum: %s\n", platform::escapedText(summary.ledgerFailure).c_str());
}

} // namespace vellum
