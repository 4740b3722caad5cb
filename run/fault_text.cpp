#include "fault_text.h"

#include "base/split_part_name.h"
#include "escaped_text.h"

#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace vellum {

std::string faultKindName(ZipFaultKind kind) {
    // A switch with a fallback rather than a table tied to the enumeration's length: kinds added
    // later still print, and a test asks for a real name for every kind.
    switch (kind) {
    case ZipFaultKind::CannotOpen:
        return "cannot_open";
    case ZipFaultKind::CannotRead:
        return "cannot_read";
    case ZipFaultKind::EndRecordMissing:
        return "end_record_missing";
    case ZipFaultKind::EndRecordCommentLength:
        return "end_record_comment_length";
    case ZipFaultKind::EntryCountMismatch:
        return "entry_count_mismatch";
    case ZipFaultKind::DirectoryOffsetWrong:
        return "directory_offset_wrong";
    case ZipFaultKind::DirectorySizeWrong:
        return "directory_size_wrong";
    case ZipFaultKind::Zip64LocatorDamaged:
        return "zip64_locator_damaged";
    case ZipFaultKind::Zip64RecordMissing:
        return "zip64_record_missing";
    case ZipFaultKind::Zip64RecordInconsistent:
        return "zip64_record_inconsistent";
    case ZipFaultKind::CentralHeaderSignature:
        return "central_header_signature";
    case ZipFaultKind::CentralHeaderTruncated:
        return "central_header_truncated";
    case ZipFaultKind::CentralDirectorySizeMismatch:
        return "central_directory_size_mismatch";
    case ZipFaultKind::Zip64FieldMissing:
        return "zip64_field_missing";
    case ZipFaultKind::ExtraFieldsDamaged:
        return "extra_fields_damaged";
    case ZipFaultKind::LocalHeaderMissing:
        return "local_header_missing";
    case ZipFaultKind::LocalHeaderNameMismatch:
        return "local_header_name_mismatch";
    case ZipFaultKind::LocalHeaderMethodMismatch:
        return "local_header_method_mismatch";
    case ZipFaultKind::LocalHeaderFlagsMismatch:
        return "local_header_flags_mismatch";
    case ZipFaultKind::LocalHeaderCrcMismatch:
        return "local_header_crc_mismatch";
    case ZipFaultKind::LocalHeaderSizeMismatch:
        return "local_header_size_mismatch";
    case ZipFaultKind::EntryOutsideFile:
        return "entry_outside_file";
    case ZipFaultKind::EntriesOverlap:
        return "entries_overlap";
    case ZipFaultKind::DataDescriptorMissing:
        return "data_descriptor_missing";
    case ZipFaultKind::DataDescriptorMismatch:
        return "data_descriptor_mismatch";
    case ZipFaultKind::ImplausibleRatio:
        return "implausible_ratio";
    case ZipFaultKind::CrcMismatch:
        return "crc_mismatch";
    case ZipFaultKind::SizeMismatch:
        return "size_mismatch";
    case ZipFaultKind::StreamDamaged:
        return "stream_damaged";
    case ZipFaultKind::StreamTruncated:
        return "stream_truncated";
    case ZipFaultKind::StreamTrailingBytes:
        return "stream_trailing_bytes";
    case ZipFaultKind::MethodUndefined:
        return "method_undefined";
    case ZipFaultKind::DataBeforeArchive:
        return "data_before_archive";
    case ZipFaultKind::BytesAfterEndRecord:
        return "bytes_after_end_record";
    case ZipFaultKind::SplitArchive:
        return "split_archive";
    case ZipFaultKind::EntryEncrypted:
        return "entry_encrypted";
    case ZipFaultKind::MethodUnsupported:
        return "method_unsupported";
    case ZipFaultKind::EncryptionFlagsInconsistent:
        return "encryption_flags_inconsistent";
    case ZipFaultKind::EncryptedSizeImpossible:
        return "encrypted_size_impossible";
    case ZipFaultKind::AesFieldMissing:
        return "aes_field_missing";
    case ZipFaultKind::LocalTimeDiffers:
        return "local_time_differs";
    case ZipFaultKind::LocalVersionNeededDiffers:
        return "local_version_needed_differs";
    case ZipFaultKind::LocalExtraFieldDiffers:
        return "local_extra_field_differs";
    case ZipFaultKind::SplitPartMissing:
        return "split_part_missing";
    case ZipFaultKind::EndRecordDisksDisagree:
        return "end_record_disks_disagree";
    case ZipFaultKind::DirectorySizeTooSmall:
        return "directory_size_too_small";
    case ZipFaultKind::EntryDiskWrong:
        return "entry_disk_wrong";
    case ZipFaultKind::EndRecordTruncated:
        return "end_record_truncated";
    default:
        break;
    }
    return "fault_" + std::to_string(static_cast<int>(kind));
}

bool faultIsUnverifiable(ZipFaultKind kind) {
    return zipVerifyCode(kind) == ZipResult::VerifiedWithUnverifiableEntries;
}

std::string_view faultSeverity(ZipFaultKind kind) {
    if (!zipFaultIsNote(kind))
        return "damage";
    return faultIsUnverifiable(kind) ? "unverifiable" : "note";
}

namespace {

// The component's sentence as a clause: no final full stop, and a lower-case start unless the
// first word is an abbreviation ("CRC-32 ...").
std::string clauseOf(std::string_view sentence) {
    std::string clause(sentence);
    if (clause.ends_with('.'))
        clause.pop_back();
    if (clause.size() > 1 && std::isupper(static_cast<unsigned char>(clause[0])) &&
        !std::isupper(static_cast<unsigned char>(clause[1])))
        clause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(clause[0])));
    return clause;
}

std::string formatted(const char* format, std::uint64_t first, std::uint64_t second) {
    std::array<char, 128> text{};
    std::snprintf(text.data(), text.size(), format, first, second);
    return text.data();
}

} // namespace

std::string faultDescription(std::string_view archivePath, const ZipFault& fault) {
    // The missing part's number is kept where an offset would be.
    if (fault.kind == ZipFaultKind::SplitPartMissing)
        return "incomplete split set: " +
               platform::escapedText(splitPartName(archivePath, static_cast<std::uint32_t>(fault.offset))) +
               " missing";
    if (fault.found && fault.expected) {
        if (fault.kind == ZipFaultKind::CrcMismatch)
            return formatted("CRC-32 is 0x%08" PRIx64 ", the central header says 0x%08" PRIx64, *fault.found,
                             *fault.expected);
        if (fault.kind == ZipFaultKind::SizeMismatch)
            return formatted("%" PRIu64 " bytes decompressed, the central header says %" PRIu64, *fault.found,
                             *fault.expected);
    }
    std::string description = clauseOf(zipFaultMessage(fault.kind));
    // The offset helps with a damaged structure (where a record went wrong) and a read error; a
    // missing end record, an entry's data or a note is said well enough without it.
    const std::int16_t code = zipProbeCode(fault.kind);
    const bool structural = code >= ZipResult::CannotRead && code <= ZipResult::ImplausibleRatio &&
                            code != ZipResult::NotAnArchive;
    if (structural && fault.offset > 0)
        description += " at offset " + std::to_string(fault.offset);
    return description;
}

std::string faultSentence(std::string_view archivePath, const ZipFault& fault) {
    if (!fault.isEntryFault())
        return faultDescription(archivePath, fault);
    const std::string entry = fault.entryName.empty()
                                  ? "the entry at index " + std::to_string(fault.entryIndex)
                                  : "entry \"" + platform::escapedText(fault.entryName) + "\"";
    return entry + ": " + faultDescription(archivePath, fault);
}

std::string verdictReason(std::string_view archivePath, FullVerdict verdict,
                          const std::vector<ZipFault>& faults) {
    if (verdict != FullVerdict::Bad && verdict != FullVerdict::Unverified)
        return {};
    const auto counts = [verdict](const ZipFault& fault) {
        return verdict == FullVerdict::Bad ? !zipFaultIsNote(fault.kind) : faultIsUnverifiable(fault.kind);
    };
    const ZipFault* first = nullptr;
    std::size_t others = 0;
    for (const ZipFault& fault : faults) {
        if (!counts(fault))
            continue;
        if (first)
            ++others;
        else
            first = &fault;
    }
    if (!first)
        return verdict == FullVerdict::Bad ? "the archive could not be tested"
                                           : "some entries could not be checked";
    std::string reason = faultSentence(archivePath, *first);
    if (others > 0)
        reason += ", and " + std::to_string(others) + " more";
    return reason;
}

} // namespace vellum
