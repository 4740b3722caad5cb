#include "zip_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

namespace vellum::testing {

namespace {

constexpr std::uint32_t Saturated32 = 0xFFFFFFFFu;
constexpr std::uint16_t Saturated16 = 0xFFFFu;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "zip builder: %s\n", what);
    std::abort();
}

std::uint32_t clamp32(std::uint64_t value) {
    return value > Saturated32 ? Saturated32 : static_cast<std::uint32_t>(value);
}

// What one entry's headers need to know once its data has been laid out.
struct PreparedEntry {
    std::string payload; // the bytes stored in the archive
    std::uint32_t crc = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint16_t flags = 0;
};

PreparedEntry prepare(const ZipBuilderEntry& entry) {
    PreparedEntry prepared;
    prepared.crc = crc32Of(entry.data);
    prepared.uncompressedSize = entry.data.size();
    if (entry.compressedData)
        prepared.payload = *entry.compressedData;
    else if (entry.method == 8)
        prepared.payload = deflateRaw(entry.data);
    else
        prepared.payload = entry.data;
    prepared.flags = entry.extraFlags;
    if (entry.dataDescriptor)
        prepared.flags |= 0x0008;
    if (entry.encrypted)
        prepared.flags |= 0x0001;
    return prepared;
}

void writeLocalHeader(std::string& out, const ZipBuilderEntry& entry, const PreparedEntry& prepared) {
    std::string extra;
    if (entry.zip64) {
        appendLe16(extra, 0x0001);
        appendLe16(extra, 16);
        appendLe64(extra, entry.dataDescriptor ? 0 : prepared.uncompressedSize);
        appendLe64(extra, entry.dataDescriptor ? 0 : prepared.payload.size());
    }
    extra += entry.localExtra;

    appendLe32(out, 0x04034b50);
    appendLe16(out, entry.zip64 ? 45 : 20);
    appendLe16(out, prepared.flags);
    appendLe16(out, entry.method);
    appendLe16(out, entry.dosTime);
    appendLe16(out, entry.dosDate);
    if (entry.zip64) {
        appendLe32(out, entry.dataDescriptor ? 0 : prepared.crc);
        appendLe32(out, Saturated32);
        appendLe32(out, Saturated32);
    } else if (entry.dataDescriptor) {
        appendLe32(out, 0);
        appendLe32(out, 0);
        appendLe32(out, 0);
    } else {
        appendLe32(out, prepared.crc);
        appendLe32(out, clamp32(prepared.payload.size()));
        appendLe32(out, clamp32(prepared.uncompressedSize));
    }
    appendLe16(out, entry.name.size());
    appendLe16(out, extra.size());
    out += entry.name;
    out += extra;
}

void writeDescriptor(std::string& out, const ZipBuilderEntry& entry, const PreparedEntry& prepared) {
    if (entry.descriptorSignature)
        appendLe32(out, 0x08074b50);
    appendLe32(out, prepared.crc);
    if (entry.zip64) {
        appendLe64(out, prepared.payload.size());
        appendLe64(out, prepared.uncompressedSize);
    } else {
        appendLe32(out, prepared.payload.size());
        appendLe32(out, prepared.uncompressedSize);
    }
}

void writeCentralHeader(std::string& out, const ZipBuilderEntry& entry, const PreparedEntry& prepared,
                        std::uint64_t localOffset) {
    std::string extra;
    if (entry.zip64) {
        appendLe16(extra, 0x0001);
        appendLe16(extra, 24);
        appendLe64(extra, prepared.uncompressedSize);
        appendLe64(extra, prepared.payload.size());
        appendLe64(extra, localOffset);
    }
    extra += entry.centralExtra;

    appendLe32(out, 0x02014b50);
    appendLe16(out, 0x031E); // made by Unix, version 3.0
    appendLe16(out, entry.zip64 ? 45 : 20);
    appendLe16(out, prepared.flags);
    appendLe16(out, entry.method);
    appendLe16(out, entry.dosTime);
    appendLe16(out, entry.dosDate);
    appendLe32(out, prepared.crc);
    appendLe32(out, entry.zip64 ? Saturated32 : clamp32(prepared.payload.size()));
    appendLe32(out, entry.zip64 ? Saturated32 : clamp32(prepared.uncompressedSize));
    appendLe16(out, entry.name.size());
    appendLe16(out, extra.size());
    appendLe16(out, entry.comment.size());
    appendLe16(out, 0); // disk number start
    appendLe16(out, 0); // internal attributes
    appendLe32(out, entry.externalAttributes);
    appendLe32(out, entry.zip64 ? Saturated32 : clamp32(localOffset));
    out += entry.name;
    out += extra;
    out += entry.comment;
}

} // namespace

namespace {

void appendLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int shift = 0; shift < 8 * bytes; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

} // namespace

void appendLe16(std::string& out, std::uint64_t value) {
    appendLittleEndian(out, value, 2);
}

void appendLe32(std::string& out, std::uint64_t value) {
    appendLittleEndian(out, value, 4);
}

void appendLe64(std::string& out, std::uint64_t value) {
    appendLittleEndian(out, value, 8);
}

BuiltZip buildZip(const std::vector<ZipBuilderEntry>& entries, const ZipBuilderOptions& options) {
    BuiltZip built;
    std::string& out = built.bytes;
    out = options.prefix;
    // Offsets written into the archive count from the archive's own start unless the archiver was
    // told about the stub in front of it.
    const std::uint64_t base = options.adjustOffsetsForPrefix ? 0 : options.prefix.size();

    std::vector<PreparedEntry> prepared;
    prepared.reserve(entries.size());
    for (const ZipBuilderEntry& entry : entries) {
        prepared.push_back(prepare(entry));
        const PreparedEntry& current = prepared.back();
        ZipEntryLayout layout;
        layout.localHeaderOffset = out.size();
        writeLocalHeader(out, entry, current);
        layout.dataOffset = out.size();
        layout.compressedSize = current.payload.size();
        layout.crc = current.crc;
        out += current.payload;
        if (entry.dataDescriptor) {
            layout.descriptorOffset = out.size();
            writeDescriptor(out, entry, current);
        }
        built.entries.push_back(layout);
    }

    built.centralDirectoryOffset = out.size();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        built.entries[index].centralHeaderOffset = out.size();
        writeCentralHeader(out, entries[index], prepared[index],
                           built.entries[index].localHeaderOffset - base);
    }
    const std::uint64_t directorySize = out.size() - built.centralDirectoryOffset;
    const std::uint64_t directoryOffset = built.centralDirectoryOffset - base;

    // Counts and offsets too large for the end record need the zip64 records, as any archiver
    // would write them.
    const bool zip64EndRecord = options.zip64EndRecord || entries.size() >= Saturated16 ||
                                directorySize >= Saturated32 || directoryOffset >= Saturated32;
    if (zip64EndRecord) {
        built.zip64EndRecordOffset = out.size();
        appendLe32(out, 0x06064b50);
        appendLe64(out, 44);
        appendLe16(out, 0x031E);
        appendLe16(out, 45);
        appendLe32(out, 0);
        appendLe32(out, 0);
        appendLe64(out, entries.size());
        appendLe64(out, entries.size());
        appendLe64(out, directorySize);
        appendLe64(out, directoryOffset);
        built.zip64LocatorOffset = out.size();
        appendLe32(out, 0x07064b50);
        appendLe32(out, 0);
        appendLe64(out, built.zip64EndRecordOffset - base);
        appendLe32(out, 1);
    }

    built.endRecordOffset = out.size();
    appendLe32(out, 0x06054b50);
    appendLe16(out, 0);
    appendLe16(out, 0);
    const std::uint64_t count =
        zip64EndRecord ? Saturated16 : std::min<std::uint64_t>(entries.size(), Saturated16);
    appendLe16(out, count);
    appendLe16(out, count);
    appendLe32(out, zip64EndRecord ? Saturated32 : clamp32(directorySize));
    appendLe32(out, zip64EndRecord ? Saturated32 : clamp32(directoryOffset));
    appendLe16(out, options.comment.size());
    out += options.comment;
    return built;
}

void writeFile(const std::string& path, std::string_view bytes) {
    const std::filesystem::path target(path);
    std::error_code error;
    if (target.has_parent_path())
        std::filesystem::create_directories(target.parent_path(), error);
    std::ofstream stream(target, std::ios::binary | std::ios::trunc);
    if (!stream)
        fail("cannot create file");
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream)
        fail("cannot write file");
}

std::string deflateRaw(std::string_view data, int level) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        fail("deflate did not finish");
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string inflateRaw(std::string_view compressed) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK)
        fail("inflateInit2 failed");
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::string out;
    char buffer[65536];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : std::string();
}

std::string gzipCompress(std::string_view data) {
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        fail("gzip deflate did not finish");
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::uint32_t crc32Of(std::string_view data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes the length as uInt, so feed large inputs in pieces.
    while (!data.empty()) {
        const std::size_t piece = std::min<std::size_t>(data.size(), std::numeric_limits<uInt>::max());
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(piece));
        data.remove_prefix(piece);
    }
    return static_cast<std::uint32_t>(crc);
}

namespace {

std::uint64_t readLe(std::string_view bytes, std::uint64_t offset, int width) {
    if (offset + static_cast<std::uint64_t>(width) > bytes.size())
        fail("read past the end of the archive");
    std::uint64_t value = 0;
    for (int index = width - 1; index >= 0; --index)
        value = (value << 8) | static_cast<unsigned char>(bytes[offset + static_cast<std::uint64_t>(index)]);
    return value;
}

void patchLe(std::string& bytes, std::uint64_t offset, std::uint64_t value, int width) {
    if (offset + static_cast<std::uint64_t>(width) > bytes.size())
        fail("patch past the end of the archive");
    for (int index = 0; index < width; ++index)
        bytes[offset + static_cast<std::uint64_t>(index)] = static_cast<char>((value >> (8 * index)) & 0xFF);
}

} // namespace

std::uint16_t readLe16(std::string_view bytes, std::uint64_t offset) {
    return static_cast<std::uint16_t>(readLe(bytes, offset, 2));
}

std::uint32_t readLe32(std::string_view bytes, std::uint64_t offset) {
    return static_cast<std::uint32_t>(readLe(bytes, offset, 4));
}

std::uint64_t readLe64(std::string_view bytes, std::uint64_t offset) {
    return readLe(bytes, offset, 8);
}

void patchLe16(std::string& bytes, std::uint64_t offset, std::uint16_t value) {
    patchLe(bytes, offset, value, 2);
}

void patchLe32(std::string& bytes, std::uint64_t offset, std::uint32_t value) {
    patchLe(bytes, offset, value, 4);
}

void patchLe64(std::string& bytes, std::uint64_t offset, std::uint64_t value) {
    patchLe(bytes, offset, value, 8);
}

void flipBit(std::string& bytes, std::uint64_t offset, int bit) {
    if (offset >= bytes.size())
        fail("bit flip past the end of the archive");
    bytes[offset] = static_cast<char>(bytes[offset] ^ (1 << bit));
}

namespace {

// CRC-32 of a run of zero bytes as long as a power of two, put together from the CRC of a shorter
// run rather than computed over all of it.
std::uint32_t crcOfZeros(std::uint64_t length) {
    const std::string block(1u << 20, '\0');
    std::uint64_t done = block.size();
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(block.size()));
    for (; done < length; done *= 2)
        crc = crc32_combine(crc, crc, static_cast<z_off_t>(done));
    return static_cast<std::uint32_t>(crc);
}

} // namespace

std::string writeZerosArchive(const std::string& path, std::uint64_t size) {
    constexpr std::uint32_t inZip64Field = 0xFFFFFFFF;
    const std::string name = "zeros.bin";
    const std::uint32_t crc = crcOfZeros(size);
    const auto zip64Sizes = [&](std::string& out) {
        appendLe16(out, 0x0001);
        appendLe16(out, 16);
        appendLe64(out, size);
        appendLe64(out, size);
    };
    // Local header: version 4.5, no flags, stored, sizes in the zip64 field.
    std::string head;
    appendLe32(head, 0x04034b50);
    appendLe16(head, 45);
    appendLe16(head, 0);
    appendLe16(head, 0);
    appendLe16(head, 0x6000);
    appendLe16(head, 0x5821);
    appendLe32(head, crc);
    appendLe32(head, inZip64Field);
    appendLe32(head, inZip64Field);
    appendLe16(head, name.size());
    appendLe16(head, 20);
    head += name;
    zip64Sizes(head);

    // After the data: the central header, the zip64 end record and its locator, and the end
    // record, which leaves the directory's offset to the zip64 record.
    const std::uint64_t directoryOffset = head.size() + size;
    std::string tail;
    appendLe32(tail, 0x02014b50);
    appendLe16(tail, 45);
    appendLe16(tail, 45);
    appendLe16(tail, 0);
    appendLe16(tail, 0);
    appendLe16(tail, 0x6000);
    appendLe16(tail, 0x5821);
    appendLe32(tail, crc);
    appendLe32(tail, inZip64Field);
    appendLe32(tail, inZip64Field);
    appendLe16(tail, name.size());
    appendLe16(tail, 20);
    appendLe16(tail, 0);
    appendLe16(tail, 0);
    appendLe16(tail, 0);
    appendLe32(tail, 0);
    appendLe32(tail, 0);
    tail += name;
    zip64Sizes(tail);
    const std::uint64_t directorySize = tail.size();
    appendLe32(tail, 0x06064b50);
    appendLe64(tail, 44);
    appendLe16(tail, 45);
    appendLe16(tail, 45);
    appendLe32(tail, 0);
    appendLe32(tail, 0);
    appendLe64(tail, 1);
    appendLe64(tail, 1);
    appendLe64(tail, directorySize);
    appendLe64(tail, directoryOffset);
    appendLe32(tail, 0x07064b50);
    appendLe32(tail, 0);
    appendLe64(tail, directoryOffset + directorySize);
    appendLe32(tail, 1);
    appendLe32(tail, 0x06054b50);
    appendLe16(tail, 0);
    appendLe16(tail, 0);
    appendLe16(tail, 1);
    appendLe16(tail, 1);
    appendLe32(tail, directorySize);
    appendLe32(tail, inZip64Field);
    appendLe16(tail, 0);

    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return std::strerror(errno);
    const bool written =
        ::pwrite(descriptor, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
        ::pwrite(descriptor, tail.data(), tail.size(), static_cast<off_t>(directoryOffset)) ==
            static_cast<ssize_t>(tail.size());
    const std::string error = written ? std::string() : std::strerror(errno);
    ::close(descriptor);
    return error;
}

} // namespace vellum::testing

namespace vellum::testing {

namespace {

// The whole records of a built archive, which a cut between parts must not split: local headers,
// data descriptors, central headers, and the end records together.
std::vector<std::pair<std::uint64_t, std::uint64_t>> wholeRecords(const BuiltZip& built) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> records;
    const std::string& bytes = built.bytes;
    for (std::size_t index = 0; index < built.entries.size(); ++index) {
        const ZipEntryLayout& entry = built.entries[index];
        records.emplace_back(entry.localHeaderOffset, entry.dataOffset);
        if (entry.descriptorOffset != 0) {
            const std::uint64_t next = index + 1 < built.entries.size()
                                           ? built.entries[index + 1].localHeaderOffset
                                           : built.centralDirectoryOffset;
            records.emplace_back(entry.descriptorOffset, next);
        }
        const std::uint64_t header = entry.centralHeaderOffset;
        const std::uint64_t length = 46 +
                                     std::uint64_t{readLe16(bytes, header + CentralHeaderField::NameLength)} +
                                     readLe16(bytes, header + CentralHeaderField::ExtraLength) +
                                     readLe16(bytes, header + CentralHeaderField::CommentLength);
        records.emplace_back(header, header + length);
    }
    records.emplace_back(built.zip64EndRecordOffset != 0 ? built.zip64EndRecordOffset : built.endRecordOffset,
                         bytes.size());
    std::sort(records.begin(), records.end());
    return records;
}

// Where the zip64 extra field of a central header holds the local header's offset; 0 when the
// header keeps it in its own field.
std::uint64_t zip64OffsetField(std::string_view bytes, std::uint64_t header) {
    if (readLe32(bytes, header + CentralHeaderField::LocalHeaderOffset) != Saturated32)
        return 0;
    std::uint64_t position = header + 46 + readLe16(bytes, header + CentralHeaderField::NameLength);
    const std::uint64_t end = position + readLe16(bytes, header + CentralHeaderField::ExtraLength);
    while (position + 4 <= end) {
        const std::uint16_t id = readLe16(bytes, position);
        const std::uint16_t length = readLe16(bytes, position + 2);
        if (id == 0x0001) {
            std::uint64_t field = position + 4;
            if (readLe32(bytes, header + CentralHeaderField::UncompressedSize) == Saturated32)
                field += 8;
            if (readLe32(bytes, header + CentralHeaderField::CompressedSize) == Saturated32)
                field += 8;
            return field;
        }
        position += 4 + length;
    }
    fail("zip64 field missing");
}

} // namespace

SplitZip buildSplitZip(const std::vector<ZipBuilderEntry>& entries, std::uint64_t partSize,
                       const ZipBuilderOptions& options) {
    ZipBuilderOptions withSignature = options;
    withSignature.prefix = "PK\x07\x08";
    withSignature.adjustOffsetsForPrefix = true;
    SplitZip split;
    split.whole = buildZip(entries, withSignature);
    std::string& bytes = split.whole.bytes;

    const auto records = wholeRecords(split.whole);
    std::vector<std::uint64_t>& starts = split.partStarts;
    starts.push_back(0);
    for (;;) {
        std::uint64_t cut = starts.back() + partSize;
        if (cut >= bytes.size())
            break;
        for (const auto& [start, end] : records) {
            if (start < cut && cut < end)
                cut = start > starts.back() ? start : end;
        }
        if (cut >= bytes.size())
            break;
        starts.push_back(cut);
    }
    const auto diskOf = [&](std::uint64_t offset) {
        return static_cast<std::uint32_t>(std::upper_bound(starts.begin(), starts.end(), offset) -
                                          starts.begin() - 1);
    };
    const auto relative = [&](std::uint64_t offset) { return offset - starts[diskOf(offset)]; };
    const std::uint32_t lastDisk = static_cast<std::uint32_t>(starts.size() - 1);

    std::uint64_t onLastDisk = 0;
    for (const ZipEntryLayout& entry : split.whole.entries) {
        const std::uint64_t header = entry.centralHeaderOffset;
        patchLe16(bytes, header + CentralHeaderField::DiskStart,
                  static_cast<std::uint16_t>(diskOf(entry.localHeaderOffset)));
        if (const std::uint64_t field = zip64OffsetField(bytes, header))
            patchLe64(bytes, field, relative(entry.localHeaderOffset));
        else
            patchLe32(bytes, header + CentralHeaderField::LocalHeaderOffset,
                      static_cast<std::uint32_t>(relative(entry.localHeaderOffset)));
        onLastDisk += diskOf(header) == lastDisk ? 1 : 0;
    }
    const std::uint64_t directory = split.whole.centralDirectoryOffset;
    const std::uint64_t end = split.whole.endRecordOffset;
    patchLe16(bytes, end + EndRecordField::Disk, static_cast<std::uint16_t>(lastDisk));
    patchLe16(bytes, end + EndRecordField::DirectoryDisk, static_cast<std::uint16_t>(diskOf(directory)));
    if (const std::uint64_t zip64 = split.whole.zip64EndRecordOffset) {
        patchLe32(bytes, zip64 + Zip64EndRecordField::Disk, lastDisk);
        patchLe32(bytes, zip64 + Zip64EndRecordField::DirectoryDisk, diskOf(directory));
        patchLe64(bytes, zip64 + Zip64EndRecordField::EntriesOnDisk, onLastDisk);
        patchLe64(bytes, zip64 + Zip64EndRecordField::DirectoryOffset, relative(directory));
        const std::uint64_t locator = split.whole.zip64LocatorOffset;
        patchLe32(bytes, locator + Zip64LocatorField::RecordDisk, diskOf(zip64));
        patchLe64(bytes, locator + Zip64LocatorField::RecordOffset, relative(zip64));
        patchLe32(bytes, locator + Zip64LocatorField::DiskCount, lastDisk + 1);
    } else {
        patchLe16(bytes, end + EndRecordField::EntriesOnDisk, static_cast<std::uint16_t>(onLastDisk));
        patchLe32(bytes, end + EndRecordField::DirectoryOffset,
                  static_cast<std::uint32_t>(relative(directory)));
    }
    for (std::size_t part = 0; part < starts.size(); ++part) {
        const std::uint64_t partEnd = part + 1 < starts.size() ? starts[part + 1] : bytes.size();
        split.parts.push_back(bytes.substr(starts[part], partEnd - starts[part]));
    }
    return split;
}

void writeSplitZip(const std::string& base, const SplitZip& split) {
    for (std::size_t part = 0; part + 1 < split.parts.size(); ++part) {
        const std::string number = (part + 1 < 10 ? "0" : "") + std::to_string(part + 1);
        writeFile(base + ".z" + number, split.parts[part]);
    }
    writeFile(base + ".zip", split.parts.back());
}

} // namespace vellum::testing
