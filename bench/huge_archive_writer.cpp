#include "huge_archive_writer.h"

#include "zip_builder.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vellum::bench {

namespace {

using testing::appendLe16;
using testing::appendLe32;
using testing::appendLe64;

constexpr std::uint32_t Saturated32 = 0xFFFFFFFFu;
constexpr char EntryName[] = "huge.log";

// A local header whose sizes live in its zip64 field; they are written as zero first and patched
// once the data has been streamed.
std::string localHeader(std::uint32_t crc, std::uint64_t compressed, std::uint64_t size) {
    std::string out;
    appendLe32(out, 0x04034b50);
    appendLe16(out, 45);
    appendLe16(out, 0);
    appendLe16(out, 8);
    appendLe16(out, 0x6000);
    appendLe16(out, 0x5821);
    appendLe32(out, crc);
    appendLe32(out, Saturated32);
    appendLe32(out, Saturated32);
    appendLe16(out, sizeof EntryName - 1);
    appendLe16(out, 20);
    out += EntryName;
    appendLe16(out, 0x0001);
    appendLe16(out, 16);
    appendLe64(out, size);
    appendLe64(out, compressed);
    return out;
}

std::string directoryAndEnd(std::uint32_t crc, std::uint64_t compressed, std::uint64_t size,
                            std::uint64_t directoryOffset) {
    std::string out;
    appendLe32(out, 0x02014b50);
    appendLe16(out, 45);
    appendLe16(out, 45);
    appendLe16(out, 0);
    appendLe16(out, 8);
    appendLe16(out, 0x6000);
    appendLe16(out, 0x5821);
    appendLe32(out, crc);
    appendLe32(out, Saturated32);
    appendLe32(out, Saturated32);
    appendLe16(out, sizeof EntryName - 1);
    appendLe16(out, 20);
    appendLe16(out, 0);
    appendLe16(out, 0);
    appendLe16(out, 0);
    appendLe32(out, 0);
    appendLe32(out, 0);
    out += EntryName;
    appendLe16(out, 0x0001);
    appendLe16(out, 16);
    appendLe64(out, size);
    appendLe64(out, compressed);
    const std::uint64_t directorySize = out.size();

    const std::uint64_t zip64EndOffset = directoryOffset + directorySize;
    appendLe32(out, 0x06064b50);
    appendLe64(out, 44);
    appendLe16(out, 45);
    appendLe16(out, 45);
    appendLe32(out, 0);
    appendLe32(out, 0);
    appendLe64(out, 1);
    appendLe64(out, 1);
    appendLe64(out, directorySize);
    appendLe64(out, directoryOffset);
    appendLe32(out, 0x07064b50);
    appendLe32(out, 0);
    appendLe64(out, zip64EndOffset);
    appendLe32(out, 1);
    appendLe32(out, 0x06054b50);
    appendLe16(out, 0);
    appendLe16(out, 0);
    appendLe16(out, 0xFFFF);
    appendLe16(out, 0xFFFF);
    appendLe32(out, Saturated32);
    appendLe32(out, Saturated32);
    appendLe16(out, 0);
    return out;
}

// One period of the repeated text: numbered log lines, so that the data is not a single run.
std::string period() {
    std::string text;
    char line[96];
    for (unsigned counter = 0; text.size() < 6000; ++counter) {
        const int length = std::snprintf(line, sizeof line, "%06u archive checked, status %u, offset %08u\n",
                                         counter, counter % 7u, counter * 977u);
        text.append(line, static_cast<std::size_t>(length));
    }
    return text;
}

// The name and content of entry `index` of the many-entry archive.
std::string manyEntryName(std::uint64_t index) {
    char name[24];
    const int length = std::snprintf(name, sizeof name, "%06llx", static_cast<unsigned long long>(index));
    return std::string(name, static_cast<std::size_t>(length));
}

std::string manyEntryData(std::uint64_t index) {
    return std::string(1 + index % 4, static_cast<char>('a' + index % 26));
}

// What the local and the central header of a many-entry archive's entry share, from the version
// needed to extract to the extra field's length: stored, one fixed time, no extra field.
void appendManyEntryFields(std::string& record, const std::string& name, const std::string& data) {
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    appendLe16(record, 10);
    appendLe16(record, 0);
    appendLe16(record, 0);
    appendLe16(record, 0x6000);
    appendLe16(record, 0x5821);
    appendLe32(record, crc);
    appendLe32(record, data.size());
    appendLe32(record, data.size());
    appendLe16(record, name.size());
    appendLe16(record, 0);
}

} // namespace

bool writeManyEntryArchive(const std::string& path, std::uint64_t count) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return false;
    std::vector<char> buffer(8u << 20);
    std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    const auto put = [&](const std::string& bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    };
    std::string record;
    std::uint64_t offset = 0;
    for (std::uint64_t index = 0; index < count; ++index) {
        const std::string name = manyEntryName(index);
        const std::string data = manyEntryData(index);
        record.clear();
        appendLe32(record, 0x04034b50);
        appendManyEntryFields(record, name, data);
        record += name;
        record += data;
        if (!put(record))
            return false;
        offset += record.size();
    }
    if (offset > Saturated32)
        return false; // the central headers below keep 32-bit offsets
    const std::uint64_t directoryOffset = offset;
    std::uint64_t local = 0;
    for (std::uint64_t index = 0; index < count; ++index) {
        const std::string name = manyEntryName(index);
        const std::string data = manyEntryData(index);
        record.clear();
        appendLe32(record, 0x02014b50);
        appendLe16(record, 0x031e);
        appendManyEntryFields(record, name, data);
        appendLe16(record, 0);
        appendLe16(record, 0);
        appendLe16(record, 0);
        appendLe32(record, 0100644u << 16);
        appendLe32(record, local);
        record += name;
        if (!put(record))
            return false;
        local += 30 + name.size() + data.size();
        offset += record.size();
    }
    const std::uint64_t directorySize = offset - directoryOffset;
    const bool zip64 = count >= 0xFFFF || directorySize >= Saturated32 || directoryOffset >= Saturated32;
    record.clear();
    if (zip64) {
        appendLe32(record, 0x06064b50);
        appendLe64(record, 44);
        appendLe16(record, 45);
        appendLe16(record, 45);
        appendLe32(record, 0);
        appendLe32(record, 0);
        appendLe64(record, count);
        appendLe64(record, count);
        appendLe64(record, directorySize);
        appendLe64(record, directoryOffset);
        appendLe32(record, 0x07064b50);
        appendLe32(record, 0);
        appendLe64(record, offset);
        appendLe32(record, 1);
    }
    appendLe32(record, 0x06054b50);
    appendLe16(record, 0);
    appendLe16(record, 0);
    appendLe16(record, zip64 ? 0xFFFF : count);
    appendLe16(record, zip64 ? 0xFFFF : count);
    appendLe32(record, zip64 ? Saturated32 : directorySize);
    appendLe32(record, zip64 ? Saturated32 : directoryOffset);
    appendLe16(record, 0);
    return put(record) && std::fflush(file.get()) == 0;
}

bool writeHugeArchive(const std::string& path, std::uint64_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return false;
    const std::string placeholder = localHeader(0, 0, 0);
    if (std::fwrite(placeholder.data(), 1, placeholder.size(), file.get()) != placeholder.size())
        return false;

    const std::string text = period();
    // A block of whole periods, fed again and again: the stream sees one long repetition.
    std::string block;
    while (block.size() < (1u << 20))
        block += text;
    z_stream stream{};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    std::vector<unsigned char> output(1u << 20);
    std::uint32_t crc = 0;
    std::uint64_t written = 0;
    std::uint64_t compressed = 0;
    std::uint64_t phase = 0;
    bool ok = true;
    while (ok) {
        const std::uint64_t remaining = size - written;
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, block.size() - phase));
        const auto* input = reinterpret_cast<const Bytef*>(block.data() + phase);
        crc = static_cast<std::uint32_t>(crc32(crc, input, static_cast<uInt>(take)));
        stream.next_in = const_cast<Bytef*>(input);
        stream.avail_in = static_cast<uInt>(take);
        written += take;
        phase = (phase + take) % text.size();
        const int flush = written == size ? Z_FINISH : Z_NO_FLUSH;
        int result = Z_OK;
        do {
            stream.next_out = output.data();
            stream.avail_out = static_cast<uInt>(output.size());
            result = deflate(&stream, flush);
            const std::size_t produced = output.size() - stream.avail_out;
            compressed += produced;
            ok = std::fwrite(output.data(), 1, produced, file.get()) == produced;
        } while (ok && (stream.avail_in > 0 || (flush == Z_FINISH && result != Z_STREAM_END)));
        if (flush == Z_FINISH)
            break;
    }
    deflateEnd(&stream);
    if (!ok)
        return false;
    const std::string tail = directoryAndEnd(crc, compressed, size, placeholder.size() + compressed);
    if (std::fwrite(tail.data(), 1, tail.size(), file.get()) != tail.size())
        return false;
    const std::string header = localHeader(crc, compressed, size);
    return std::fseek(file.get(), 0, SEEK_SET) == 0 &&
           std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
}

} // namespace vellum::bench
