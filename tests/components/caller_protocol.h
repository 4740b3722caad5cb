#pragma once

// Runs the archive component the way the test run does, and judges its codes by the component's
// verdict rule, so that the component's tests check verdicts as well as exact codes.

#include "zip/zip_tester.h"

#include <cstdint>
#include <string>

namespace vellum::testing {

struct CallerVerdict {
    std::int16_t probe = 0;
    std::int16_t verify = -1; // -1 when the probe did not let verify run
    bool good = false;
};

// The settings the test run tests every archive with, and announces them with.
inline const ArchiveTestPlan CallerPlan{"*.diz", "", false};

inline bool judgeGood(std::int16_t probe, std::int16_t verify) {
    return judgeArchive(probe, verify < 0 ? std::nullopt : std::optional<std::int16_t>(verify)) ==
           ArchiveVerdict::Good;
}

// The caller's sequence for one archive file.
inline CallerVerdict runAsCaller(ZipTester& tester, const std::string& path) {
    CallerVerdict verdict;
    tester.stopAtFirstFault = CallerPlan.stopAtFirstFault;
    tester.fileFilter = CallerPlan.probeFilter;
    tester.archivePath = path;
    tester.archiveName = path;
    verdict.probe = tester.probeArchive();
    if (probeGoesOn(verdict.probe)) {
        tester.archiveName = path;
        tester.fileFilter = CallerPlan.verifyFilter;
        verdict.verify = tester.verifyArchive();
    }
    verdict.good = judgeGood(verdict.probe, verdict.verify);
    return verdict;
}

// The same sequence over bytes in memory.
inline CallerVerdict runAsCallerInMemory(ZipTester& tester, const std::string& bytes) {
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size());
    CallerVerdict verdict;
    tester.stopAtFirstFault = CallerPlan.stopAtFirstFault;
    tester.fileFilter = CallerPlan.probeFilter;
    verdict.probe = tester.probeBytes(view);
    if (probeGoesOn(verdict.probe)) {
        tester.fileFilter = CallerPlan.verifyFilter;
        verdict.verify = tester.verifyBytes(view);
    }
    verdict.good = judgeGood(verdict.probe, verdict.verify);
    return verdict;
}

} // namespace vellum::testing
