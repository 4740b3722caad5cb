// Fuzz target: any bytes, checked as an archive the way the test run checks one (probe, then
// verify), with verify also run when the probe finds damage so that decompression is exercised
// on partly broken archives. A small output allowance keeps every run short. The result codes must
// stay within the component's published tables, and a verify that takes over the structure its
// probe checked must find exactly what a verify checking it afresh finds.

#include "engine/zip_engine.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

// The codes the severity orders rank are the published ones; a probe may also be aborted.
bool knownProbeCode(std::int16_t code) {
    return code == vellum::ZipResult::Aborted || vellum::zipProbeCodeRank(code) > 0;
}

bool knownVerifyCode(std::int16_t code) {
    return vellum::zipVerifyCodeRank(code) > 0;
}

bool sameFaults(const std::vector<vellum::ZipFault>& left, const std::vector<vellum::ZipFault>& right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](const vellum::ZipFault& a, const vellum::ZipFault& b) {
                          return a.kind == b.kind && a.entryIndex == b.entryIndex && a.offset == b.offset &&
                                 a.entryName == b.entryName && a.found == b.found &&
                                 a.expected == b.expected && a.splitPart == b.splitPart;
                      });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vellum::ZipEngine engine;
    const std::span<const std::uint8_t> bytes(data, size);
    vellum::MemoryByteSource source(bytes);
    std::vector<vellum::ZipFault> faults;
    vellum::ZipEngineSettings settings;
    settings.outputLimit = 16u << 20;
    settings.fileFilter = "*.diz";
    const std::int16_t probe = engine.run(vellum::ZipOperation::Probe, source, settings, faults);
    settings.fileFilter = {};
    const std::int16_t verify = engine.run(vellum::ZipOperation::Verify, source, settings, faults);
    if (!knownProbeCode(probe) || !knownVerifyCode(verify))
        std::abort();
    if (vellum::probeGoesOn(probe)) {
        std::vector<vellum::ZipFault> takenOver;
        settings.fileFilter = "*.diz";
        engine.run(vellum::ZipOperation::Probe, source, settings, takenOver);
        settings.fileFilter = {};
        settings.sameSourceAsPreviousRun = true;
        if (engine.run(vellum::ZipOperation::Verify, source, settings, takenOver) != verify ||
            !sameFaults(takenOver, faults))
            std::abort();
    }
    // Structural damage the probe sees must make verify fail on the structure too: both check it.
    // Only a damaged filtered entry is the probe's own finding.
    const bool structureDamaged = vellum::judgeArchive(probe, std::nullopt) == vellum::ArchiveVerdict::Bad &&
                                  probe != vellum::ZipResult::FilteredEntryDamaged;
    if (structureDamaged && verify != vellum::ZipResult::StructureDamaged)
        std::abort();
    return 0;
}
