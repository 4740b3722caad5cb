#pragma once

// The archive component's result codes, and the one rule that turns them into a verdict.
//
//   probe
//     0    structure sound; decompression follows in verify
//     140  structure sound with notes (data before the archive, bytes after its end record);
//          decompression follows in verify
//     101  the file cannot be opened (missing, a folder, no permission), or a part of its split
//          set is missing
//     102  the file cannot be read (input/output error)
//     103  not a zip archive: no end-of-central-directory record (an empty or foreign file), or
//          the file ends inside its last one
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
//   verify
//     0    every entry decompressed and matched its CRC-32 and sizes
//     10   good, but some entries could not be verified (encrypted, or a method without a decoder)
//     110  an entry's data does not match its CRC-32 or its declared size
//     200  a compressed stream is damaged: the decoder failed, ended early, or left bytes over
//     410  the structure is damaged or the file could not be opened or read
//     190  aborted

#include <cstdint>
#include <optional>

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

enum class ArchiveVerdict { Good, Bad, Aborted };

// The verdict with one more shade, for output that must not call an archive good when part of it
// could not be checked: Unverified is an archive whose checked entries were all sound but some
// entries could not be checked (encrypted, a method without a decoder, one part of a split set).
enum class FullVerdict { Good, Unverified, Bad, Aborted };

// Whether a probe result lets the verify step follow: only a sound structure is worth decompressing.
inline bool probeGoesOn(std::int16_t probe) {
    return probe == ZipResult::Sound || probe == ZipResult::SoundWithNotes;
}

// The verdict on one archive from its probe result and, when the probe went on, its verify result.
// Probe codes below 101 other than those that go on are good; 101 and up are bad. Verify 110, 200
// and 410 are bad; verify 10 is unverified; every other verify code is good.
inline FullVerdict judgeArchiveFully(std::int16_t probe, std::optional<std::int16_t> verify) {
    if (probe == ZipResult::Aborted || verify == ZipResult::Aborted)
        return FullVerdict::Aborted;
    if (!probeGoesOn(probe))
        return probe >= 101 ? FullVerdict::Bad : FullVerdict::Good;
    if (!verify)
        return FullVerdict::Good;
    if (*verify == ZipResult::DataMismatch || *verify == ZipResult::StreamDamaged ||
        *verify == ZipResult::StructureDamaged)
        return FullVerdict::Bad;
    return *verify == ZipResult::VerifiedWithUnverifiableEntries ? FullVerdict::Unverified
                                                                 : FullVerdict::Good;
}

// The verdict the run and its report files keep: an unverified archive counts as good, since what
// could be checked was sound.
inline ArchiveVerdict judgeArchive(std::int16_t probe, std::optional<std::int16_t> verify) {
    switch (judgeArchiveFully(probe, verify)) {
    case FullVerdict::Aborted:
        return ArchiveVerdict::Aborted;
    case FullVerdict::Bad:
        return ArchiveVerdict::Bad;
    case FullVerdict::Good:
    case FullVerdict::Unverified:
        break;
    }
    return ArchiveVerdict::Good;
}

} // namespace vellum
