#pragma once

// The parts of a split archive, and the one run of bytes they make together. The engine reads
// bytes, not paths, so whoever knows where an archive came from tells it where its other parts
// are: beside the archive's file, or nowhere for an archive that lies in memory.

#include "base/byte_source.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vellum {

class SplitPartSource {
public:
    virtual ~SplitPartSource() = default;

    // Part number part (1 for the first, NAME.z01); null when it is missing or cannot be opened.
    virtual std::unique_ptr<ByteSource> openPart(std::uint32_t part) = 0;
};

// The parts lying beside an archive file, in its folder: NAME.z01, NAME.z02, ..., their names
// matched ignoring case. The folder is listed once, at the first part asked for.
class SplitPartFiles final : public SplitPartSource {
public:
    explicit SplitPartFiles(std::string archivePath) : m_archivePath(std::move(archivePath)) {}

    std::unique_ptr<ByteSource> openPart(std::uint32_t part) override;

private:
    void listFolder();

    std::string m_archivePath;
    bool m_listed = false;
    std::map<std::uint32_t, std::string> m_partNames;
};

// The parts one after the other, the last being the archive's own source, read as one source:
// offsets count from the start of the first part. A read that crosses from one part into the next
// is served from both.
class MultiPartByteSource final : public ByteSource {
public:
    MultiPartByteSource(std::vector<std::unique_ptr<ByteSource>> firstParts, ByteSource& lastPart);

    std::uint64_t size() const override { return m_starts.back(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> buffer) override;

    // Where each part starts, in the order of the parts.
    std::vector<std::uint64_t> partStarts() const { return {m_starts.begin(), m_starts.end() - 1}; }

private:
    std::vector<std::unique_ptr<ByteSource>> m_firstParts;
    std::vector<ByteSource*> m_parts;
    std::vector<std::uint64_t> m_starts; // one more than parts: the last is the total size
};

} // namespace vellum
