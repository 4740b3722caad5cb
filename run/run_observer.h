#pragma once

// What a run tells those who print its results as it goes (the reasons, the JSON lines, the
// progress line on a terminal). The run calls them on its own thread, in the order of its steps;
// an archive whose test was aborted is started but never judged.

#include "zip/zip_faults.h"
#include "zip/zip_result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vellum {

// One archive once judged. The faults are those of its last operation: the verify when it ran
// (it checks the structure again, so it holds everything the probe found), else the probe.
struct ArchiveOutcome {
    const std::string& path; // absolute, as the file system names it
    std::int16_t probeCode;
    std::optional<std::int16_t> verifyCode;
    FullVerdict verdict;
    const std::vector<ZipFault>& faults;
};

class RunObserver {
public:
    virtual ~RunObserver() = default;

    virtual void runStarted() {}
    virtual void archiveStarted(const std::string& /*path*/) {}
    // The completion percentage of the archive under test, raised while the component works.
    virtual void archiveProgress(std::int16_t /*completion*/) {}
    virtual void archiveJudged(const ArchiveOutcome& outcome) = 0;
    // After the last archive, before the report files are written.
    virtual void runEnded() {}
};

} // namespace vellum
