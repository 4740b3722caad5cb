#pragma once

// Builds zip archives in memory for tests: good ones in every layout the archive component must
// accept, and, together with the patch functions below, deliberately damaged ones. Everything is
// written by hand from the published record layouts so that a test can place each byte where it
// wants, including places a well-behaved archiver never would.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::testing {

struct ZipBuilderEntry {
    std::string name;
    std::string data;
    std::uint16_t method = 8; // 0 stored, 8 deflate via zlib; other values store data unchanged
    bool dataDescriptor = false;
    bool zip64 = false;

    // Everything below has a default that gives an ordinary entry.
    bool descriptorSignature = true;           // the data descriptor starts with its optional signature
    bool encrypted = false;                    // sets flag bit 0; the data is written as given
    std::uint16_t extraFlags = 0;              // or'ed into the general-purpose flags (e.g. bit 11, UTF-8)
    std::optional<std::string> compressedData; // written instead of compressing data
    std::string localExtra;                    // appended after any zip64 field in the local header
    std::string centralExtra;                  // appended after any zip64 field in the central header
    std::string comment;
    std::uint32_t externalAttributes = 0;
    std::uint16_t dosTime = 0x6000; // 12:00:00
    std::uint16_t dosDate = 0x5821; // 2024-01-01
};

struct ZipEntryLayout {
    std::uint64_t localHeaderOffset = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t centralHeaderOffset = 0;
    std::uint64_t descriptorOffset = 0; // 0 when the entry has no data descriptor
    std::uint32_t crc = 0;
};

struct BuiltZip {
    std::string bytes;
    std::vector<ZipEntryLayout> entries;
    std::uint64_t centralDirectoryOffset = 0;
    std::uint64_t endRecordOffset = 0;
    std::uint64_t zip64EndRecordOffset = 0; // 0 when there is none
    std::uint64_t zip64LocatorOffset = 0;   // 0 when there is none
};

struct ZipBuilderOptions {
    std::string comment;
    std::string prefix; // bytes before the archive (a self-extractor stub)
    bool adjustOffsetsForPrefix = false;
    bool zip64EndRecord = false; // also written, whatever this says, when counts or offsets need it
};

BuiltZip buildZip(const std::vector<ZipBuilderEntry>& entries, const ZipBuilderOptions& options = {});

// A split set as Info-ZIP's zip -s writes one: the split signature, then the archive cut into parts
// of partSize bytes (a part ends early rather than cut a header in two, and the end records all go
// into the last part), every offset counted from the start of its own part, every disk field set.
// parts.front() is NAME.z01; parts.back() is NAME.zip, the last part.
struct SplitZip {
    std::vector<std::string> parts;
    std::vector<std::uint64_t> partStarts; // where each part starts in whole.bytes
    BuiltZip whole;                        // the parts one after the other, offsets as in the parts
};

SplitZip buildSplitZip(const std::vector<ZipBuilderEntry>& entries, std::uint64_t partSize,
                       const ZipBuilderOptions& options = {});

// Writes a split set's parts beside each other: base + ".z01", ..., and base + ".zip" last.
void writeSplitZip(const std::string& base, const SplitZip& split);

// Writes bytes to path, creating the parent folders; aborts the test program on failure.
void writeFile(const std::string& path, std::string_view bytes);

// Writes a zip64 archive of one stored entry of zeros, its size a power of two, as a sparse file,
// which takes next to no room on disk however long it takes to check. Answers the reason the file
// could not be written, or nothing.
std::string writeZerosArchive(const std::string& path, std::uint64_t size);

// Compression and checksums from zlib, the reference the component is compared against.
std::string deflateRaw(std::string_view data, int level = 6);
std::string inflateRaw(std::string_view compressed); // empty on failure
std::string gzipCompress(std::string_view data);
std::uint32_t crc32Of(std::string_view data);

// Numbers appended little-endian, as the zip format stores them.
void appendLe16(std::string& out, std::uint64_t value);
void appendLe32(std::string& out, std::uint64_t value);
void appendLe64(std::string& out, std::uint64_t value);

// Field access by absolute offset, little-endian, as the zip format stores numbers.
std::uint16_t readLe16(std::string_view bytes, std::uint64_t offset);
std::uint32_t readLe32(std::string_view bytes, std::uint64_t offset);
std::uint64_t readLe64(std::string_view bytes, std::uint64_t offset);
void patchLe16(std::string& bytes, std::uint64_t offset, std::uint16_t value);
void patchLe32(std::string& bytes, std::uint64_t offset, std::uint32_t value);
void patchLe64(std::string& bytes, std::uint64_t offset, std::uint64_t value);
void flipBit(std::string& bytes, std::uint64_t offset, int bit = 0);

// Offsets of the fields inside each record, counted from the record's signature.
namespace LocalHeaderField {
inline constexpr std::uint64_t VersionNeeded = 4;
inline constexpr std::uint64_t Flags = 6;
inline constexpr std::uint64_t Method = 8;
inline constexpr std::uint64_t Time = 10;
inline constexpr std::uint64_t Date = 12;
inline constexpr std::uint64_t Crc = 14;
inline constexpr std::uint64_t CompressedSize = 18;
inline constexpr std::uint64_t UncompressedSize = 22;
inline constexpr std::uint64_t NameLength = 26;
inline constexpr std::uint64_t ExtraLength = 28;
inline constexpr std::uint64_t Name = 30;
} // namespace LocalHeaderField

namespace CentralHeaderField {
inline constexpr std::uint64_t Flags = 8;
inline constexpr std::uint64_t Method = 10;
inline constexpr std::uint64_t Crc = 16;
inline constexpr std::uint64_t CompressedSize = 20;
inline constexpr std::uint64_t UncompressedSize = 24;
inline constexpr std::uint64_t NameLength = 28;
inline constexpr std::uint64_t ExtraLength = 30;
inline constexpr std::uint64_t CommentLength = 32;
inline constexpr std::uint64_t DiskStart = 34;
inline constexpr std::uint64_t LocalHeaderOffset = 42;
inline constexpr std::uint64_t Name = 46;
} // namespace CentralHeaderField

namespace EndRecordField {
inline constexpr std::uint64_t Disk = 4;
inline constexpr std::uint64_t DirectoryDisk = 6;
inline constexpr std::uint64_t EntriesOnDisk = 8;
inline constexpr std::uint64_t Entries = 10;
inline constexpr std::uint64_t DirectorySize = 12;
inline constexpr std::uint64_t DirectoryOffset = 16;
inline constexpr std::uint64_t CommentLength = 20;
} // namespace EndRecordField

namespace Zip64EndRecordField {
inline constexpr std::uint64_t RecordSize = 4;
inline constexpr std::uint64_t Disk = 16;
inline constexpr std::uint64_t DirectoryDisk = 20;
inline constexpr std::uint64_t EntriesOnDisk = 24;
inline constexpr std::uint64_t Entries = 32;
inline constexpr std::uint64_t DirectorySize = 40;
inline constexpr std::uint64_t DirectoryOffset = 48;
} // namespace Zip64EndRecordField

namespace Zip64LocatorField {
inline constexpr std::uint64_t RecordDisk = 4;
inline constexpr std::uint64_t RecordOffset = 8;
inline constexpr std::uint64_t DiskCount = 16;
} // namespace Zip64LocatorField

} // namespace vellum::testing
