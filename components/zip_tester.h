#pragma once

// The archive component: tests one zip archive at a time, in two steps.
//
//   probeArchive(0)  checks the archive's structure (end record, zip64 records, central directory,
//                    every local header against its central record, entry spans) and decompresses
//                    the entries whose names match fileFilter (none when it is empty).
//   verifyArchive()  checks the structure again and decompresses every entry whose name matches
//                    fileFilter (every entry when it is empty), checking CRC-32 and sizes.
//
// Both run on the calling thread. While they work they call the yield callback at least every
// 50 ms, so that the caller's window stays responsive and may set abort, and raise the status
// callback with the completion percentage of the operation. Neither throws; every outcome is a
// result code from the table below. Memory use is bounded by fixed buffers, whatever the archive's
// headers declare.
//
// Result codes. A caller judges them by these rules: probe 190 aborted; probe 0 and 140 go on to
// verify; other probe codes below 101 are good, 101 and up are bad. Verify 190 aborted; verify 110,
// 200 and 410 are bad; every other verify code is good.
//
//   probeArchive
//     0    structure sound; decompression follows in verify
//     140  structure sound with notes (data before the archive, bytes after its end record);
//          decompression follows in verify
//     101  the file cannot be opened (missing, a folder, no permission)
//     102  the file cannot be read (input/output error)
//     103  not a zip archive: no end-of-central-directory record (an empty or foreign file)
//     104  end record inconsistent: comment length, entry counts, directory offset or size
//     105  zip64 end record or locator missing, damaged or inconsistent with the end record
//     106  central directory damaged: bad signature, truncated record, fields past its end
//     107  local header missing or disagreeing with its central record
//     108  entry data outside the file, or entries overlapping
//     109  data descriptor missing or disagreeing with the central record
//     111  extra fields that do not tile their area
//     112  an entry that claims to expand beyond any real compression ratio
//     113  a filtered entry's data is damaged (probe decompresses fileFilter's matches)
//     190  aborted
//   verifyArchive
//     0    every entry decompressed and matched its CRC-32 and sizes
//     10   good, but some entries could not be verified (encrypted, or a method without a decoder)
//     110  an entry's data does not match its CRC-32 or its declared size
//     200  a compressed stream is damaged: the decoder failed, ended early, or left bytes over
//     410  the structure is damaged or the file could not be opened or read
//     190  aborted
//
// The abort property is cleared when an operation starts: an abort left over from an earlier
// operation, or set while none ran, does not end the next one.

#include "dispatch.h"
#include "zip_faults.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vellum {

namespace ZipResult {
inline constexpr std::int16_t Sound = 0;
inline constexpr std::int16_t SoundWithNotes = 140;
inline constexpr std::int16_t CannotOpen = 101;
inline constexpr std::int16_t CannotRead = 102;
inline constexpr std::int16_t NotAnArchive = 103;
inline constexpr std::int16_t EndRecordInconsistent = 104;
inline constexpr std::int16_t Zip64RecordDamaged = 105;
inline constexpr std::int16_t CentralDirectoryDamaged = 106;
inline constexpr std::int16_t LocalHeaderMismatch = 107;
inline constexpr std::int16_t EntrySpanDamaged = 108;
inline constexpr std::int16_t DataDescriptorMismatch = 109;
inline constexpr std::int16_t ExtraFieldDamaged = 111;
inline constexpr std::int16_t ImplausibleRatio = 112;
inline constexpr std::int16_t FilteredEntryDamaged = 113;
inline constexpr std::int16_t Aborted = 190;

inline constexpr std::int16_t Verified = 0;
inline constexpr std::int16_t VerifiedWithUnverifiableEntries = 10;
inline constexpr std::int16_t DataMismatch = 110;
inline constexpr std::int16_t StreamDamaged = 200;
inline constexpr std::int16_t StructureDamaged = 410;
} // namespace ZipResult

// Dispatch IDs of the component's properties and methods.
namespace ZipDispatchId {
inline constexpr std::int32_t Abort = 1;
inline constexpr std::int32_t WorkFolder = 4;
inline constexpr std::int32_t OptionSwitch = 10;
inline constexpr std::int32_t ArchiveName = 18;
inline constexpr std::int32_t FileFilter = 21;
inline constexpr std::int32_t VerifyArchive = 22;
inline constexpr std::int32_t ProbeArchive = 25;
// The file to open, as the file system names it, when it differs from ArchiveName (which callers
// may have lower-cased for display). Empty means: open ArchiveName.
inline constexpr std::int32_t ArchivePath = 100;
// Put only: the archives the caller will test next, in order, as file-system paths separated by
// NUL characters (which no path contains). See ZipTester::expectArchives.
inline constexpr std::int32_t ExpectedArchives = 101;
} // namespace ZipDispatchId

// The thirteen parameters of the status event. Completion is the percentage of the current
// operation that is done; the others describe the entry being worked on.
struct ZipStatus {
    std::string fileName;
    std::int64_t size = 0;
    std::int64_t packedSize = 0;
    std::int64_t processed = 0;
    std::int32_t attributes = 0;
    std::int64_t fileTime = 0;
    std::uint32_t crc = 0;
    std::int16_t ratio = 0;
    std::int16_t completion = 0;
    std::int16_t method = 0;
    bool encrypted = false;
    std::int16_t commentLength = 0;
    std::string comment;
};

class ZipEngine;
class LookaheadVerdicts;
struct PrecomputedVerdict;

class ZipTester final : public Dispatch {
public:
    ZipTester();
    ~ZipTester() override;

    // Properties.
    bool abort = false;
    std::string workFolder;    // accepted and kept; the component writes nothing there
    bool optionSwitch = false; // true: stop at the first damaged entry instead of checking them all
    std::string archiveName;
    std::string archivePath;
    std::string fileFilter;

    std::int16_t probeArchive(std::int16_t mode);
    std::int16_t verifyArchive();

    // Announces the archives the caller is about to test, in order, as it will name them in
    // archivePath (or archiveName). Worker threads start testing them at once, so that both steps
    // of a later probe and verify of the same file, with the settings the run uses (optionSwitch
    // false, fileFilter "*.diz" for the probe, "" for the verify), can answer with the outcome
    // already found: the same result code and faults, and one status event at 100 %. Any other
    // call, or a file that changed since it was tested, is tested in place as always. A new
    // announcement replaces the previous one; setting abort through dispatch drops it.
    void expectArchives(std::vector<std::string> paths);

    // The same two operations over an archive already in memory (archiveName and archivePath are
    // not used). For tests and tools that have the bytes at hand.
    std::int16_t probeBytes(std::span<const std::uint8_t> bytes);
    std::int16_t verifyBytes(std::span<const std::uint8_t> bytes);

    std::function<void(const ZipStatus&)> onStatus;
    std::function<void()> onYield;

    // Every fault the last operation found, archive-level or entry-level, in the order found.
    const std::vector<ZipFault>& lastFaults() const { return m_faults; }

    std::optional<DispatchValue> invoke(std::int32_t dispatchId, DispatchKind kind,
                                        std::span<const DispatchValue> arguments) override;

private:
    enum class Operation { Probe, Verify };
    std::int16_t runOperation(Operation operation, std::span<const std::uint8_t> memory, bool fromMemory);
    // Answers the operation from a verdict found ahead; std::nullopt when it has to run in place.
    std::optional<std::int16_t> answerFromLookahead(Operation operation, const std::string& path);
    void raiseFinalStatus(const ZipStatus& status);

    std::vector<ZipFault> m_faults;
    std::unique_ptr<ZipEngine> m_engine; // buffers and decoder state, reused for every archive
    std::unique_ptr<LookaheadVerdicts> m_lookahead;
    // The verdict whose probe was answered last, kept for the verify that follows it.
    std::shared_ptr<const PrecomputedVerdict> m_heldVerdict;
};

} // namespace vellum
