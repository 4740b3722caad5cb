// Fuzz target: any bytes, checked as an archive the way the test run checks one (probe, then
// verify), with verify also run when the probe finds damage so that decompression is exercised
// on partly broken archives. A small output allowance keeps every run short. The result codes must
// stay within the component's published tables.

#include "zip_engine.h"

#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

bool knownProbeCode(std::int16_t code) {
    return code == 0 || code == 140 || code == 190 || (code >= 101 && code <= 113 && code != 110);
}

bool knownVerifyCode(std::int16_t code) {
    return code == 0 || code == 10 || code == 110 || code == 200 || code == 410;
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
    // Structural damage the probe sees must make verify fail on the structure too: both check it.
    // Only a damaged filtered entry is the probe's own finding.
    const bool structureDamaged = vellum::judgeArchive(probe, std::nullopt) == vellum::ArchiveVerdict::Bad &&
                                  probe != vellum::ZipResult::FilteredEntryDamaged;
    if (structureDamaged && verify != vellum::ZipResult::StructureDamaged)
        std::abort();
    return 0;
}
