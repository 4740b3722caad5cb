#pragma once

// The faults the archive component can find, what each one means, and which result code it
// leads to. Every fault is either about the archive as a whole or about one entry; an entry fault
// carries the entry's index in the central directory. Both carry the byte offset in the file where
// the fault was seen.
//
// Severity. An operation returns the code of its most severe fault. For the structure check
// (probe) the order, most severe first, is:
//   101 cannot open, 102 cannot read, 103 no end record, 105 zip64 records, 104 end record,
//   106 central directory, 111 extra fields, 108 entry spans, 107 local headers,
//   109 data descriptors, 112 implausible ratio, 113 filtered entry data, 140 notes, 0.
// Encryption that an entry's own header contradicts counts as central directory damage (106).
// For verify: 410 structure or reading, 200 damaged stream, 110 data mismatch, 10 unverifiable
// entries, 0.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellum {

enum class ZipFaultKind : std::uint8_t {
    // The file itself.
    CannotOpen,
    CannotRead,
    // The end of central directory record.
    EndRecordMissing,
    EndRecordCommentLength,
    EntryCountMismatch,
    DirectoryOffsetWrong,
    DirectorySizeWrong,
    // The zip64 end of central directory record and its locator.
    Zip64LocatorDamaged,
    Zip64RecordMissing,
    Zip64RecordInconsistent,
    // The central directory.
    CentralHeaderSignature,
    CentralHeaderTruncated,
    CentralDirectorySizeMismatch,
    Zip64FieldMissing,
    ExtraFieldsDamaged,
    // Local headers, spans and data descriptors.
    LocalHeaderMissing,
    LocalHeaderNameMismatch,
    LocalHeaderMethodMismatch,
    LocalHeaderFlagsMismatch,
    LocalHeaderCrcMismatch,
    LocalHeaderSizeMismatch,
    EntryOutsideFile,
    EntriesOverlap,
    DataDescriptorMissing,
    DataDescriptorMismatch,
    ImplausibleRatio,
    // Decompression.
    CrcMismatch,
    SizeMismatch,
    StreamDamaged,
    StreamTruncated,
    StreamTrailingBytes,
    MethodUndefined,
    // Notes: not damage.
    DataBeforeArchive,
    BytesAfterEndRecord,
    SplitArchive,
    EntryEncrypted,
    MethodUnsupported,
    // Encryption that the sizes and fields contradict, and header copies that disagree where no
    // reader needs the second copy (notes).
    EncryptionFlagsInconsistent,
    EncryptedSizeImpossible,
    AesFieldMissing,
    LocalTimeDiffers,
    LocalVersionNeededDiffers,
    LocalExtraFieldDiffers,
    // Disk numbers and split sets.
    SplitPartMissing, // splitPart: the number of the missing part
    EndRecordDisksDisagree,
    DirectorySizeTooSmall,
    EntryDiskWrong,
    // The file ends inside its last end record (or right before it, after the central directory).
    EndRecordTruncated,
    // Local headers of entries before the directory that no central header points at (found: how
    // many).
    EntriesNotInDirectory,
    // The entry's decoder needs more memory than could be had (found: the bytes it needs,
    // expected: the bytes that could be had).
    DecoderMemoryUnavailable,
};

inline constexpr int ZipFaultKindCount = static_cast<int>(ZipFaultKind::DecoderMemoryUnavailable) + 1;

struct ZipFault {
    ZipFaultKind kind = ZipFaultKind::CannotRead;
    std::int64_t entryIndex = -1; // -1 for a fault of the whole archive
    std::uint64_t offset = 0;
    // The entry's name as stored in its central header, raw bytes; filled once the operation ends,
    // empty for a fault of the whole archive or an entry whose header could not be read.
    std::string entryName;
    // For a mismatch, the value the check found and the one the headers declare (a CRC-32 or a
    // size); absent when the fault has no such pair.
    std::optional<std::uint64_t> found;
    std::optional<std::uint64_t> expected;
    // For a missing part of a split set, the part's number (1 for NAME.z01); 0 otherwise.
    std::uint32_t splitPart = 0;

    bool isEntryFault() const { return entryIndex >= 0; }
};

// One row of the fault table: all that is said of a fault kind.
struct ZipFaultKindInfo {
    ZipFaultKind kind;
    std::string_view name;   // stable snake_case name for scripts ("crc_mismatch")
    std::int16_t probeCode;  // the code it gives the structure check, of zip_result.h
    std::int16_t verifyCode; // the code it gives the full test
    std::string_view message;
};

const ZipFaultKindInfo& zipFaultKindInfo(ZipFaultKind kind);

// The kind's name for scripts, unique among the kinds.
std::string_view zipFaultName(ZipFaultKind kind);

// The sentence describing a fault kind, for logs and the user; never empty.
std::string_view zipFaultMessage(ZipFaultKind kind);

// True for findings that are worth telling but are not damage (the archive is still good).
bool zipFaultIsNote(ZipFaultKind kind);

// True for faults that only decompression finds; the structure check cannot.
bool zipFaultIsDataFault(ZipFaultKind kind);

// The code a fault gives the structure check (probe) and the full test (verify).
std::int16_t zipProbeCode(ZipFaultKind kind);
std::int16_t zipVerifyCode(ZipFaultKind kind);

// Ranks codes by severity, as documented above: a higher rank wins.
int zipProbeCodeRank(std::int16_t code);
int zipVerifyCodeRank(std::int16_t code);

} // namespace vellum
