#include "zip/zip_faults.h"

#include <array>

namespace vellum {

namespace {

struct FaultDescription {
    ZipFaultKind kind;
    std::int16_t probeCode;
    std::int16_t verifyCode;
    std::string_view message;
};

// Every fault kind with its codes and its message, in the order of the enumeration, so that all
// wording lives in one place and a missing row is caught by the check below.
constexpr std::array<FaultDescription, ZipFaultKindCount> Descriptions{{
    {ZipFaultKind::CannotOpen, 101, 410, "The file cannot be opened."},
    {ZipFaultKind::CannotRead, 102, 410, "The file cannot be read."},
    {ZipFaultKind::EndRecordMissing, 103, 410,
     "No end of central directory record: this is not a zip archive."},
    {ZipFaultKind::EndRecordCommentLength, 104, 410, "The archive comment runs past the end of the file."},
    {ZipFaultKind::EntryCountMismatch, 104, 410,
     "The entry count in the end record differs from the entries in the central directory."},
    {ZipFaultKind::DirectoryOffsetWrong, 104, 410,
     "The central directory offset in the end record does not point at the central directory."},
    {ZipFaultKind::DirectorySizeWrong, 104, 410,
     "The central directory size in the end record does not fit the file."},
    {ZipFaultKind::Zip64LocatorDamaged, 105, 410, "The zip64 end of central directory locator is damaged."},
    {ZipFaultKind::Zip64RecordMissing, 105, 410, "The zip64 end of central directory record is missing."},
    {ZipFaultKind::Zip64RecordInconsistent, 105, 410,
     "The zip64 end of central directory record disagrees with the end record."},
    {ZipFaultKind::CentralHeaderSignature, 106, 410, "A central directory header has a wrong signature."},
    {ZipFaultKind::CentralHeaderTruncated, 106, 410,
     "A central directory header runs past the directory's end."},
    {ZipFaultKind::CentralDirectorySizeMismatch, 106, 410,
     "The central directory's size does not match the headers it holds."},
    {ZipFaultKind::Zip64FieldMissing, 106, 410,
     "A size or offset needs a zip64 extra field that is missing."},
    {ZipFaultKind::ExtraFieldsDamaged, 111, 410, "The extra fields do not fill their area exactly."},
    {ZipFaultKind::LocalHeaderMissing, 107, 410, "The local header is missing."},
    {ZipFaultKind::LocalHeaderNameMismatch, 107, 410,
     "The local header's name differs from the central header's."},
    {ZipFaultKind::LocalHeaderMethodMismatch, 107, 410,
     "The local header's compression method differs from the central header's."},
    {ZipFaultKind::LocalHeaderFlagsMismatch, 107, 410,
     "The local header's encryption or descriptor flags differ from the central header's."},
    {ZipFaultKind::LocalHeaderCrcMismatch, 107, 410,
     "The local header's CRC-32 differs from the central header's."},
    {ZipFaultKind::LocalHeaderSizeMismatch, 107, 410,
     "The local header's sizes differ from the central header's."},
    {ZipFaultKind::EntryOutsideFile, 108, 410,
     "The entry's data lies outside the file or in the central directory."},
    {ZipFaultKind::EntriesOverlap, 108, 410, "The entry's data overlaps another entry."},
    {ZipFaultKind::DataDescriptorMissing, 109, 410, "The data descriptor is missing."},
    {ZipFaultKind::DataDescriptorMismatch, 109, 410, "The data descriptor differs from the central header."},
    {ZipFaultKind::ImplausibleRatio, 112, 410,
     "The entry claims to expand beyond any real compression ratio."},
    {ZipFaultKind::CrcMismatch, 113, 110, "The entry's data does not match its CRC-32."},
    {ZipFaultKind::SizeMismatch, 113, 110, "The entry's data does not match its declared size."},
    {ZipFaultKind::StreamDamaged, 113, 200, "The entry's compressed data is damaged."},
    {ZipFaultKind::StreamTruncated, 113, 200, "The entry's compressed data ends before its stream does."},
    {ZipFaultKind::StreamTrailingBytes, 113, 200,
     "The entry's compressed data goes on after the end of its stream."},
    {ZipFaultKind::MethodUndefined, 113, 410,
     "The entry names a compression method that the zip format does not define."},
    {ZipFaultKind::DataBeforeArchive, 140, 0,
     "The file has data before the archive (a self-extractor stub)."},
    {ZipFaultKind::BytesAfterEndRecord, 140, 0, "The file has bytes after the end record."},
    {ZipFaultKind::SplitArchive, 0, 0, "The archive is split into parts, which were tested as one archive."},
    {ZipFaultKind::EntryEncrypted, 0, 10, "The entry is encrypted and cannot be tested."},
    {ZipFaultKind::MethodUnsupported, 0, 10, "The entry's compression method has no decoder here."},
    {ZipFaultKind::EncryptionFlagsInconsistent, 106, 410,
     "The entry's encryption flags contradict each other or its method."},
    {ZipFaultKind::EncryptedSizeImpossible, 106, 410,
     "The encrypted entry's compressed size cannot hold its encryption header and data."},
    {ZipFaultKind::AesFieldMissing, 106, 410,
     "The AES-encrypted entry's AES extra field is missing or damaged."},
    {ZipFaultKind::LocalTimeDiffers, 140, 0,
     "The local header's modification time differs from the central header's."},
    {ZipFaultKind::LocalVersionNeededDiffers, 140, 0,
     "The local header's version needed to extract differs from the central header's."},
    {ZipFaultKind::LocalExtraFieldDiffers, 140, 0,
     "An extra field in the local header differs from its copy in the central header."},
    {ZipFaultKind::SplitPartMissing, 101, 410, "A part of the split archive is missing or cannot be opened."},
    {ZipFaultKind::EndRecordDisksDisagree, 104, 410,
     "The disk numbers and per-disk entry count in the end records contradict each other."},
    {ZipFaultKind::DirectorySizeTooSmall, 104, 410,
     "The central directory size in the end record is too small for the entries it declares."},
    {ZipFaultKind::EntryDiskWrong, 106, 410,
     "The entry's starting disk number names no part of the archive."},
    {ZipFaultKind::EndRecordTruncated, 103, 410,
     "The file ends inside its end of central directory record: it was cut short."},
}};

constexpr bool descriptionsInOrder() {
    for (int index = 0; index < ZipFaultKindCount; ++index) {
        if (static_cast<int>(Descriptions[static_cast<std::size_t>(index)].kind) != index)
            return false;
    }
    return true;
}
static_assert(descriptionsInOrder(), "fault descriptions must follow the enumeration's order");

const FaultDescription& describe(ZipFaultKind kind) {
    return Descriptions[static_cast<std::size_t>(kind)];
}

} // namespace

std::string_view zipFaultMessage(ZipFaultKind kind) {
    return describe(kind).message;
}

// A note leaves the structure sound (probe 0 or 140) and the data unjudged, so the verdict stays good.
bool zipFaultIsNote(ZipFaultKind kind) {
    const std::int16_t probe = describe(kind).probeCode;
    return probe == 0 || probe == 140;
}

bool zipFaultIsDataFault(ZipFaultKind kind) {
    return kind >= ZipFaultKind::CrcMismatch && kind <= ZipFaultKind::StreamTrailingBytes;
}

std::int16_t zipProbeCode(ZipFaultKind kind) {
    return describe(kind).probeCode;
}

std::int16_t zipVerifyCode(ZipFaultKind kind) {
    return describe(kind).verifyCode;
}

int zipProbeCodeRank(std::int16_t code) {
    constexpr std::array<std::int16_t, 14> Order{101, 102, 103, 105, 104, 106, 111,
                                                 108, 107, 109, 112, 113, 140, 0};
    for (std::size_t index = 0; index < Order.size(); ++index) {
        if (Order[index] == code)
            return static_cast<int>(Order.size() - index);
    }
    return 0;
}

int zipVerifyCodeRank(std::int16_t code) {
    constexpr std::array<std::int16_t, 5> Order{410, 200, 110, 10, 0};
    for (std::size_t index = 0; index < Order.size(); ++index) {
        if (Order[index] == code)
            return static_cast<int>(Order.size() - index);
    }
    return 0;
}

} // namespace vellum
