#pragma once

// What every run tells on standard error, whatever shows it: each folder, path or file list it
// could not reach, each archive left unverified for want of decoder memory, each archive that went
// bad although nothing rewrote it, and each report file or ledger it could not write, one line each.

#include "run_observer.h"

#include <cstdio>

namespace vellum {

class StandardErrorNotes final : public RunObserver {
public:
    explicit StandardErrorNotes(std::FILE* output = stderr) : m_output(output) {}
    void unreachable(const Unreachable& what) override;
    void linkNotFollowed(const std::string& path) override;
    void memoryShortfall(const MemoryShortfall& what) override;
    void archiveJudged(const ArchiveOutcome& outcome) override;
    void runEnded(const RunSummary& summary) override;

private:
    std::FILE* m_output;
};

} // namespace vellum
