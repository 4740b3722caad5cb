#include "zip/zip_faults.h"

#include "zip/zip_result.h"

#include <array>

namespace vellum {

namespace {

// Every fault kind with its name, codes and message, in the order of the enumeration, so that all
// that is said of a kind lives in one row and a missing row is caught by the checks below.
constexpr std::array<ZipFaultKindInfo, ZipFaultKindCount> FaultTable{{
    {ZipFaultKind::CannotOpen, "cannot_open", ZipResult::CannotOpen, ZipResult::StructureDamaged,
     "The file cannot be opened."},
    {ZipFaultKind::CannotRead, "cannot_read", ZipResult::CannotRead, ZipResult::StructureDamaged,
     "The file cannot be read."},
    {ZipFaultKind::EndRecordMissing, "end_record_missing", ZipResult::NotAnArchive,
     ZipResult::StructureDamaged, "No end of central directory record: this is not a zip archive."},
    {ZipFaultKind::EndRecordCommentLength, "end_record_comment_length", ZipResult::EndRecordInconsistent,
     ZipResult::StructureDamaged, "The archive comment runs past the end of the file."},
    {ZipFaultKind::EntryCountMismatch, "entry_count_mismatch", ZipResult::EndRecordInconsistent,
     ZipResult::StructureDamaged,
     "The entry count in the end record differs from the entries in the central directory."},
    {ZipFaultKind::DirectoryOffsetWrong, "directory_offset_wrong", ZipResult::EndRecordInconsistent,
     ZipResult::StructureDamaged,
     "The central directory offset in the end record does not point at the central directory."},
    {ZipFaultKind::DirectorySizeWrong, "directory_size_wrong", ZipResult::EndRecordInconsistent,
     ZipResult::StructureDamaged, "The central directory size in the end record does not fit the file."},
    {ZipFaultKind::Zip64LocatorDamaged, "zip64_locator_damaged", ZipResult::Zip64RecordDamaged,
     ZipResult::StructureDamaged, "The zip64 end of central directory locator is damaged."},
    {ZipFaultKind::Zip64RecordMissing, "zip64_record_missing", ZipResult::Zip64RecordDamaged,
     ZipResult::StructureDamaged, "The zip64 end of central directory record is missing."},
    {ZipFaultKind::Zip64RecordInconsistent, "zip64_record_inconsistent", ZipResult::Zip64RecordDamaged,
     ZipResult::StructureDamaged, "The zip64 end of central directory record disagrees with the end record."},
    {ZipFaultKind::CentralHeaderSignature, "central_header_signature", ZipResult::CentralDirectoryDamaged,
     ZipResult::StructureDamaged, "A central directory header has a wrong signature."},
    {ZipFaultKind::CentralHeaderTruncated, "central_header_truncated", ZipResult::CentralDirectoryDamaged,
     ZipResult::StructureDamaged, "A central directory header runs past the directory's end."},
    {ZipFaultKind::CentralDirectorySizeMismatch, "central_directory_size_mismatch",
     ZipResult::CentralDirectoryDamaged, ZipResult::StructureDamaged,
     "The central directory's size does not match the headers it holds."},
    {ZipFaultKind::Zip64FieldMissing, "zip64_field_missing", ZipResult::CentralDirectoryDamaged,
     ZipResult::StructureDamaged, "A size or offset needs a zip64 extra field that is missing."},
    {ZipFaultKind::ExtraFieldsDamaged, "extra_fields_damaged", ZipResult::ExtraFieldDamaged,
     ZipResult::StructureDamaged, "The extra fields do not fill their area exactly."},
    {ZipFaultKind::LocalHeaderMissing, "local_header_missing", ZipResult::LocalHeaderMismatch,
     ZipResult::StructureDamaged, "The local header is missing."},
    {ZipFaultKind::LocalHeaderNameMismatch, "local_header_name_mismatch", ZipResult::LocalHeaderMismatch,
     ZipResult::StructureDamaged, "The local header's name differs from the central header's."},
    {ZipFaultKind::LocalHeaderMethodMismatch, "local_header_method_mismatch", ZipResult::LocalHeaderMismatch,
     ZipResult::StructureDamaged, "The local header's compression method differs from the central header's."},
    {ZipFaultKind::LocalHeaderFlagsMismatch, "local_header_flags_mismatch", ZipResult::LocalHeaderMismatch,
     ZipResult::StructureDamaged,
     "The local header's encryption or descriptor flags differ from the central header's."},
    {ZipFaultKind::LocalHeaderCrcMismatch, "local_header_crc_mismatch", ZipResult::LocalHeaderMismatch,
     ZipResult::StructureDamaged, "The local header's CRC-32 differs from the central header's."},
    {ZipFaultKind::LocalHeaderSizeMismatch, "local_header_size_mismatch", ZipResult::LocalHeaderMismatch,
     ZipResult::StructureDamaged, "The local header's sizes differ from the central header's."},
    {ZipFaultKind::EntryOutsideFile, "entry_outside_file", ZipResult::EntrySpanDamaged,
     ZipResult::StructureDamaged, "The entry's data lies outside the file or in the central directory."},
    {ZipFaultKind::EntriesOverlap, "entries_overlap", ZipResult::EntrySpanDamaged,
     ZipResult::StructureDamaged, "The entry's data overlaps another entry."},
    {ZipFaultKind::DataDescriptorMissing, "data_descriptor_missing", ZipResult::DataDescriptorMismatch,
     ZipResult::StructureDamaged, "The data descriptor is missing."},
    {ZipFaultKind::DataDescriptorMismatch, "data_descriptor_mismatch", ZipResult::DataDescriptorMismatch,
     ZipResult::StructureDamaged, "The data descriptor differs from the central header."},
    {ZipFaultKind::ImplausibleRatio, "implausible_ratio", ZipResult::ImplausibleRatio,
     ZipResult::StructureDamaged, "The entry claims to expand beyond any real compression ratio."},
    {ZipFaultKind::CrcMismatch, "crc_mismatch", ZipResult::FilteredEntryDamaged, ZipResult::DataMismatch,
     "The entry's data does not match its CRC-32."},
    {ZipFaultKind::SizeMismatch, "size_mismatch", ZipResult::FilteredEntryDamaged, ZipResult::DataMismatch,
     "The entry's data does not match its declared size."},
    {ZipFaultKind::StreamDamaged, "stream_damaged", ZipResult::FilteredEntryDamaged, ZipResult::StreamDamaged,
     "The entry's compressed data is damaged."},
    {ZipFaultKind::StreamTruncated, "stream_truncated", ZipResult::FilteredEntryDamaged,
     ZipResult::StreamDamaged, "The entry's compressed data ends before its stream does."},
    {ZipFaultKind::StreamTrailingBytes, "stream_trailing_bytes", ZipResult::FilteredEntryDamaged,
     ZipResult::StreamDamaged, "The entry's compressed data goes on after the end of its stream."},
    {ZipFaultKind::MethodUndefined, "method_undefined", ZipResult::FilteredEntryDamaged,
     ZipResult::StructureDamaged,
     "The entry names a compression method that the zip format does not define."},
    {ZipFaultKind::DataBeforeArchive, "data_before_archive", ZipResult::SoundWithNotes, ZipResult::Verified,
     "The file has data before the archive (a self-extractor stub)."},
    {ZipFaultKind::BytesAfterEndRecord, "bytes_after_end_record", ZipResult::SoundWithNotes,
     ZipResult::Verified, "The file has bytes after the end record."},
    {ZipFaultKind::SplitArchive, "split_archive", ZipResult::Sound, ZipResult::Verified,
     "The archive is split into parts, which were tested as one archive."},
    {ZipFaultKind::EntryEncrypted, "entry_encrypted", ZipResult::Sound,
     ZipResult::VerifiedWithUnverifiableEntries, "The entry is encrypted and cannot be tested."},
    {ZipFaultKind::MethodUnsupported, "method_unsupported", ZipResult::Sound,
     ZipResult::VerifiedWithUnverifiableEntries, "The entry's compression method has no decoder here."},
    {ZipFaultKind::EncryptionFlagsInconsistent, "encryption_flags_inconsistent",
     ZipResult::CentralDirectoryDamaged, ZipResult::StructureDamaged,
     "The entry's encryption flags contradict each other or its method."},
    {ZipFaultKind::EncryptedSizeImpossible, "encrypted_size_impossible", ZipResult::CentralDirectoryDamaged,
     ZipResult::StructureDamaged,
     "The encrypted entry's compressed size cannot hold its encryption header and data."},
    {ZipFaultKind::AesFieldMissing, "aes_field_missing", ZipResult::CentralDirectoryDamaged,
     ZipResult::StructureDamaged, "The AES-encrypted entry's AES extra field is missing or damaged."},
    {ZipFaultKind::LocalTimeDiffers, "local_time_differs", ZipResult::SoundWithNotes, ZipResult::Verified,
     "The local header's modification time differs from the central header's."},
    {ZipFaultKind::LocalVersionNeededDiffers, "local_version_needed_differs", ZipResult::SoundWithNotes,
     ZipResult::Verified, "The local header's version needed to extract differs from the central header's."},
    {ZipFaultKind::LocalExtraFieldDiffers, "local_extra_field_differs", ZipResult::SoundWithNotes,
     ZipResult::Verified, "An extra field in the local header differs from its copy in the central header."},
    {ZipFaultKind::SplitPartMissing, "split_part_missing", ZipResult::CannotOpen, ZipResult::StructureDamaged,
     "A part of the split archive is missing or cannot be opened."},
    {ZipFaultKind::EndRecordDisksDisagree, "end_record_disks_disagree", ZipResult::EndRecordInconsistent,
     ZipResult::StructureDamaged,
     "The disk numbers and per-disk entry count in the end records contradict each other."},
    {ZipFaultKind::DirectorySizeTooSmall, "directory_size_too_small", ZipResult::EndRecordInconsistent,
     ZipResult::StructureDamaged,
     "The central directory size in the end record is too small for the entries it declares."},
    {ZipFaultKind::EntryDiskWrong, "entry_disk_wrong", ZipResult::CentralDirectoryDamaged,
     ZipResult::StructureDamaged, "The entry's starting disk number names no part of the archive."},
    {ZipFaultKind::EndRecordTruncated, "end_record_truncated", ZipResult::NotAnArchive,
     ZipResult::StructureDamaged,
     "The file ends inside its end of central directory record: it was cut short."},
    {ZipFaultKind::EntriesNotInDirectory, "entries_not_in_directory", ZipResult::CentralDirectoryDamaged,
     ZipResult::StructureDamaged,
     "Entries lie before the central directory without a central header: they are not in the directory."},
    {ZipFaultKind::DecoderMemoryUnavailable, "decoder_memory_unavailable", ZipResult::Sound,
     ZipResult::VerifiedWithUnverifiableEntries, "The entry's decoder needs more memory than could be had."},
}};

constexpr bool tableInOrder() {
    for (int index = 0; index < ZipFaultKindCount; ++index) {
        if (static_cast<int>(FaultTable[static_cast<std::size_t>(index)].kind) != index)
            return false;
    }
    return true;
}
static_assert(tableInOrder(), "fault table rows must follow the enumeration's order");

// Scripts tell the kinds apart by their names alone.
constexpr bool namesUnique() {
    for (std::size_t first = 0; first < FaultTable.size(); ++first) {
        for (std::size_t second = first + 1; second < FaultTable.size(); ++second) {
            if (FaultTable[first].name == FaultTable[second].name)
                return false;
        }
    }
    return true;
}
static_assert(namesUnique(), "every fault kind needs a name of its own");

// The codes of each operation, most severe first: the code an operation returns is that of its
// most severe fault.
constexpr std::array ProbeSeverity{ZipResult::CannotOpen,
                                   ZipResult::CannotRead,
                                   ZipResult::NotAnArchive,
                                   ZipResult::Zip64RecordDamaged,
                                   ZipResult::EndRecordInconsistent,
                                   ZipResult::CentralDirectoryDamaged,
                                   ZipResult::ExtraFieldDamaged,
                                   ZipResult::EntrySpanDamaged,
                                   ZipResult::LocalHeaderMismatch,
                                   ZipResult::DataDescriptorMismatch,
                                   ZipResult::ImplausibleRatio,
                                   ZipResult::FilteredEntryDamaged,
                                   ZipResult::SoundWithNotes,
                                   ZipResult::Sound};
constexpr std::array VerifySeverity{ZipResult::StructureDamaged, ZipResult::StreamDamaged,
                                    ZipResult::DataMismatch, ZipResult::VerifiedWithUnverifiableEntries,
                                    ZipResult::Verified};

template <std::size_t Count>
constexpr int rankIn(const std::array<std::int16_t, Count>& order, std::int16_t code) {
    for (std::size_t index = 0; index < order.size(); ++index) {
        if (order[index] == code)
            return static_cast<int>(order.size() - index);
    }
    return 0;
}

// A row whose code no severity order knows could never decide an operation's result.
constexpr bool codesRanked() {
    for (const ZipFaultKindInfo& row : FaultTable) {
        if (rankIn(ProbeSeverity, row.probeCode) == 0 || rankIn(VerifySeverity, row.verifyCode) == 0)
            return false;
    }
    return true;
}
static_assert(codesRanked(), "every fault kind's codes need a place in the severity orders");

} // namespace

const ZipFaultKindInfo& zipFaultKindInfo(ZipFaultKind kind) {
    return FaultTable[static_cast<std::size_t>(kind)];
}

std::string_view zipFaultName(ZipFaultKind kind) {
    return zipFaultKindInfo(kind).name;
}

std::string_view zipFaultMessage(ZipFaultKind kind) {
    return zipFaultKindInfo(kind).message;
}

// A note leaves the structure sound and the data unjudged, so the verdict stays good.
bool zipFaultIsNote(ZipFaultKind kind) {
    const std::int16_t probe = zipFaultKindInfo(kind).probeCode;
    return probe == ZipResult::Sound || probe == ZipResult::SoundWithNotes;
}

// Only decompression can tell that data does not match or that a stream is damaged.
bool zipFaultIsDataFault(ZipFaultKind kind) {
    const std::int16_t verify = zipFaultKindInfo(kind).verifyCode;
    return verify == ZipResult::DataMismatch || verify == ZipResult::StreamDamaged;
}

std::int16_t zipProbeCode(ZipFaultKind kind) {
    return zipFaultKindInfo(kind).probeCode;
}

std::int16_t zipVerifyCode(ZipFaultKind kind) {
    return zipFaultKindInfo(kind).verifyCode;
}

int zipProbeCodeRank(std::int16_t code) {
    return rankIn(ProbeSeverity, code);
}

int zipVerifyCodeRank(std::int16_t code) {
    return rankIn(VerifySeverity, code);
}

} // namespace vellum
