#pragma once

// Record signatures and sizes of the zip format (PKWARE APPNOTE), and the compact per-entry record
// the component keeps while it checks an archive.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vellum::zipformat {

inline constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t CentralHeaderSignature = 0x02014b50;
inline constexpr std::uint32_t EndRecordSignature = 0x06054b50;
inline constexpr std::uint32_t Zip64EndRecordSignature = 0x06064b50;
inline constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
inline constexpr std::uint32_t DataDescriptorSignature = 0x08074b50;

inline constexpr std::uint16_t Zip64ExtraId = 0x0001;
inline constexpr std::uint16_t AesExtraId = 0x9901;

inline constexpr std::size_t LocalHeaderSize = 30;
inline constexpr std::size_t CentralHeaderSize = 46;
inline constexpr std::size_t EndRecordSize = 22;
inline constexpr std::size_t Zip64EndRecordSize = 56; // without extensible data
inline constexpr std::size_t Zip64LocatorSize = 20;
inline constexpr std::size_t MaximumCommentLength = 0xFFFF;
// The largest central header: fixed part plus name, extra and comment of the largest length.
inline constexpr std::size_t MaximumCentralHeaderSize = CentralHeaderSize + 3 * 0xFFFF;

inline constexpr std::uint16_t Saturated16 = 0xFFFF;
inline constexpr std::uint32_t Saturated32 = 0xFFFFFFFF;

inline constexpr std::uint16_t FlagEncrypted = 0x0001;
inline constexpr std::uint16_t FlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t FlagStrongEncryption = 0x0040;

inline constexpr std::uint16_t MethodStored = 0;
inline constexpr std::uint16_t MethodDeflated = 8;
inline constexpr std::uint16_t MethodXz = 95;
inline constexpr std::uint16_t MethodAes = 99;

// Traditional encryption puts a 12-byte header before the data.
inline constexpr std::uint64_t TraditionalEncryptionHeaderSize = 12;
// AES encryption puts a salt (its length set by the key strength) and a 2-byte password verifier
// before the data, and a 10-byte authentication code after it.
inline constexpr std::uint64_t AesVerifierSize = 2;
inline constexpr std::uint64_t AesAuthenticationCodeSize = 10;

// The methods the zip format's published note defines (0 to 20 without its reserved numbers, and
// 93 to 99), whether or not this component can decode them.
constexpr bool isDefinedMethod(std::uint16_t method) {
    if (method <= 20)
        return method != 7 && method != 11 && method != 13 && method != 15 && method != 17;
    return method >= 93 && method <= 99;
}

// Deflate cannot expand by more than 258 bytes per two bits; anything beyond this, with some room
// for tiny streams, is a lie about the size (a ratio bomb) rather than real data.
inline constexpr std::uint64_t MaximumDeflateRatio = 1032;
inline constexpr std::uint64_t RatioAllowance = 1024;

} // namespace vellum::zipformat

namespace vellum {

// What the component remembers of one entry: enough to find, check and decompress it, but none of
// its variable-length fields. The name is kept as a hash for comparison with the local header, and
// the extra fields that both headers carry as a digest; names and comments are reread from the
// central header when they are shown. This is the form the checks work on; an archive's entries are
// held in a more compact one (EntryTable, 40 bytes an entry), so that memory stays small however
// many entries there are.
struct ZipEntryRecord {
    std::uint64_t centralHeaderOffset = 0; // in the file
    std::uint64_t localHeaderOffset = 0;   // in the file, with any prepended data allowed for
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t nameHash = 0;
    std::uint32_t crc = 0;
    std::uint32_t dataDelta = 0; // from the local header to the data, once the local header is read
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    std::uint16_t nameLength = 0;
    std::uint8_t descriptorLength = 0; // bytes of data descriptor after the data
    bool zip64 = false;                // the central header carried zip64 sizes
    bool matchesFilter = false;        // selected by the operation's file filter
    bool unlocatable = false;          // its offsets are unknown: the local header cannot be checked
    bool damaged = false;              // a structural fault of its own: not decompressed
    bool spanKnown = false;            // dataDelta and descriptorLength are valid
    // Copies the local header repeats, kept only to tell when the two disagree.
    std::uint32_t dosDateTime = 0; // date in the high half, time in the low
    std::uint16_t versionNeeded = 0;
    std::uint16_t copiedFieldsDigest = 0; // see copiedFieldsDigest() in extra_fields.h

    std::uint64_t dataOffset() const { return localHeaderOffset + dataDelta; }
    std::uint64_t spanEnd() const { return dataOffset() + compressedSize + descriptorLength; }
    bool encrypted() const { return (flags & zipformat::FlagEncrypted) != 0; }
};

// Records are copied in and out of an EntryTable for every check: a few machine words, no more.
static_assert(sizeof(ZipEntryRecord) <= 72, "entry records must stay small");

// Where the parts of an archive lie in the file, once the end records have been read. A split
// set's parts are read one after the other as one run of bytes, and every position here counts
// through them.
struct ZipArchiveLayout {
    std::uint64_t fileSize = 0;
    std::uint64_t endRecordOffset = 0;
    std::uint64_t directoryEnd = 0;   // the end record, or the zip64 end record when there is one
    std::uint64_t directoryStart = 0; // where the central directory really starts
    std::uint64_t directorySize = 0;
    std::uint64_t declaredEntries = 0;
    std::uint64_t shift = 0; // bytes of prepended data that every stored offset must skip
    // Where each disk of a split set starts; empty for an archive in one file, which is disk 0.
    std::vector<std::uint64_t> diskStarts;

    bool split() const { return !diskStarts.empty(); }
    bool hasDisk(std::uint64_t disk) const { return split() ? disk < diskStarts.size() : disk == 0; }
    // What an offset that a record gives on one of the archive's disks must be moved by: offsets
    // count from the start of their disk, and in one file from the archive's start.
    std::uint64_t diskBase(std::uint64_t disk) const { return split() ? diskStarts[disk] : shift; }
};

// FNV-1a over a stored name, in 32 bits: equal names give equal hashes, and two names of equal
// length that differ in one byte always differ (each step is a bijection of the hash); names that
// differ more collide one time in four billion, too rarely to matter for a consistency check.
inline std::uint32_t zipNameHash(std::span<const std::uint8_t> name) {
    std::uint32_t hash = 0x811c9dc5u;
    for (const std::uint8_t byte : name) {
        hash ^= byte;
        hash *= 0x01000193u;
    }
    return hash;
}

} // namespace vellum
