#include "base/multi_part_source.h"

#include "base/path_open.h"
#include "base/split_part_name.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vellum {

namespace {

// A part file, opened anew for each read. A set may have hundreds of parts and several archives
// are tested at once: holding a descriptor for every part would run into the process's limit,
// while one more open per read of a quarter megabyte costs nothing worth measuring.
class PartFileSource final : public ByteSource {
public:
    PartFileSource(std::string path, std::uint64_t size) : m_path(std::move(path)), m_size(size) {}

    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        FileByteSource file;
        // A part that shrank since it was first opened would read short: that is a read failure.
        return file.open(m_path) && file.size() >= m_size && file.read(offset, buffer);
    }

private:
    std::string m_path;
    std::uint64_t m_size;
};

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

void SplitPartFiles::listFolder() {
    m_listed = true;
    const std::string folder = folderOf(m_archivePath);
    const int descriptor = openPathOfAnyLength(folder, O_RDONLY | O_DIRECTORY);
    if (descriptor < 0)
        return;
    DIR* listing = ::fdopendir(descriptor);
    if (!listing) {
        ::close(descriptor);
        return;
    }
    while (const dirent* item = ::readdir(listing)) {
        const std::string_view name(item->d_name);
        const std::optional<std::uint32_t> part = splitPartNumber(m_archivePath, name);
        // Two names that differ only in case: the one the archiver wrote cannot be told, so the
        // first one listed is taken, as a case-insensitive file system would hold only one.
        if (part)
            m_partNames.emplace(*part, std::string(name));
    }
    ::closedir(listing);
}

std::unique_ptr<ByteSource> SplitPartFiles::openPart(std::uint32_t part) {
    if (!m_listed)
        listFolder();
    const auto found = m_partNames.find(part);
    if (found == m_partNames.end())
        return nullptr;
    const std::string folder = folderOf(m_archivePath);
    std::string path = folder == "/" ? "/" + found->second : folder + "/" + found->second;
    FileByteSource file;
    if (!file.open(path))
        return nullptr;
    return std::make_unique<PartFileSource>(std::move(path), file.size());
}

MultiPartByteSource::MultiPartByteSource(std::vector<std::unique_ptr<ByteSource>> firstParts,
                                         ByteSource& lastPart)
    : m_firstParts(std::move(firstParts)) {
    m_starts.push_back(0);
    for (const std::unique_ptr<ByteSource>& part : m_firstParts) {
        m_parts.push_back(part.get());
        m_starts.push_back(m_starts.back() + part->size());
    }
    m_parts.push_back(&lastPart);
    m_starts.push_back(m_starts.back() + lastPart.size());
}

bool MultiPartByteSource::read(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (offset > size() || buffer.size() > size() - offset)
        return false;
    // The part holding offset: the last whose start is not after it (empty parts are passed over).
    auto part = static_cast<std::size_t>(std::upper_bound(m_starts.begin(), m_starts.end(), offset) -
                                         m_starts.begin() - 1);
    while (!buffer.empty()) {
        if (part >= m_parts.size())
            return false;
        const std::uint64_t within = offset - m_starts[part];
        const std::uint64_t available = m_starts[part + 1] - offset;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(available, buffer.size()));
        if (length > 0 && !m_parts[part]->read(within, buffer.first(length)))
            return false;
        buffer = buffer.subspan(length);
        offset += length;
        ++part;
    }
    return true;
}

} // namespace vellum
