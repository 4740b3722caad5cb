#pragma once

// The archive component: the real ArchiveTester, over the zip engine. Besides the interface it
// tests archives already in memory (for tests and tools) and keeps every fault the last operation
// found. Memory use is bounded by fixed buffers, whatever the archive's headers declare.
//
// Operations do not nest: a probe or verify called from inside the yield of another operation of
// the same tester (a window handler starting a second run, say) would pull the engine's tables
// from under the threads still working on them, so it is refused with 190 (aborted) and changes
// nothing.

#include "zip/archive_tester.h"
#include "zip/zip_faults.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vellum {

class ZipEngine;
class LookaheadVerdicts;
struct PrecomputedVerdict;

class ZipTester final : public ArchiveTester {
public:
    ZipTester();
    ~ZipTester() override;

    std::int16_t probeArchive() override;
    std::int16_t verifyArchive() override;

    // Worker threads start testing the announced archives at once, so that both steps of a later
    // probe and verify of the same file, with the settings of the plan it was announced with, can
    // answer with the outcome already found: the same result code and faults, and the status event
    // at 100 %. While the caller waits
    // for a worker still on the archive, it sees that worker's progress as status events, one before
    // each yield. Any other call, or a file that changed since it was tested, is tested in place as
    // always. Whether the file changed is seen when the probe is answered: the verify that follows
    // that probe answers for the same state of the file.
    void expectArchives(std::vector<std::string> paths, const ArchiveTestPlan& plan) override;
    void expectMoreArchives(std::vector<std::string> paths, const ArchiveTestPlan& plan) override;
    void dropExpectedArchives() override;

    // The same two operations over an archive already in memory (archiveName and archivePath are
    // not used). For tests and tools that have the bytes at hand.
    std::int16_t probeBytes(std::span<const std::uint8_t> bytes);
    std::int16_t verifyBytes(std::span<const std::uint8_t> bytes);

    const std::vector<ZipFault>& lastFaults() const override { return m_faults; }
    std::optional<FileIdentity> lastFileIdentity() const override { return m_fileIdentity; }

private:
    // Made when the first archives are announced.
    LookaheadVerdicts& lookahead();
    enum class Operation { Probe, Verify };
    class StatusRelay;
    std::int16_t runOperation(Operation operation, std::span<const std::uint8_t> memory, bool fromMemory);
    // Answers the operation from a verdict found ahead; std::nullopt when it has to run in place.
    std::optional<std::int16_t> answerFromLookahead(Operation operation, const std::string& path,
                                                    StatusRelay& relay);

    std::vector<ZipFault> m_faults;
    std::optional<FileIdentity> m_fileIdentity;
    std::unique_ptr<ZipEngine> m_engine; // buffers and decoder state, reused for every archive
    std::unique_ptr<LookaheadVerdicts> m_lookahead;
    // The verdict whose probe was answered last, kept for the verify that follows it.
    std::shared_ptr<const PrecomputedVerdict> m_heldVerdict;
    bool m_operationRunning = false;
};

// Lowers the memory that the decoders of every tester in the process may have to bytes (--memory):
// an entry whose decoder needs more is unverifiable. Call it before the first test.
void limitDecoderMemory(std::uint64_t bytes);

} // namespace vellum
