#pragma once

// Where the archive component reads an archive from: a random-access run of bytes of known size.
// The file-backed source reads with pread, so that the component's own buffers decide how much is
// read at once; the memory source serves tests and fuzzing without touching the disk.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vellum {

class ByteSource {
public:
    virtual ~ByteSource() = default;

    virtual std::uint64_t size() const = 0;

    // Fills buffer with the bytes starting at offset. The caller never asks for bytes past size().
    // False means an input/output error (or a file that shrank while it was read).
    // Must be safe to call from several threads at once: the entries of one large archive are
    // checked in parallel, each thread reading its own entries from the same source. So a source
    // keeps no position between reads (the file source reads with pread).
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;

    // The whole content when it already lies in memory, so that readers can skip copying; empty for
    // sources that must be read.
    virtual std::span<const std::uint8_t> mappedBytes() const { return {}; }
};

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint64_t size() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> buffer) override;
    std::span<const std::uint8_t> mappedBytes() const override { return m_bytes; }

private:
    std::span<const std::uint8_t> m_bytes;
};

// What tells one state of a file from another: the file itself (device and inode) and the size and
// modification time of its content. Two equal identities mean the same bytes, as far as the file
// system can tell without reading them.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at path now; std::nullopt when it cannot be examined.
std::optional<FileIdentity> fileIdentityOf(const std::string& path);

class FileByteSource final : public ByteSource {
public:
    FileByteSource() = default;
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // Opens a regular file for reading. False when it is missing, not a regular file (a folder, a
    // device, a pipe) or not permitted: everything that makes the archive unopenable.
    bool open(const std::string& path);

    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> buffer) override;

    // The identity of the open file, taken when it was opened.
    const FileIdentity& identity() const { return m_identity; }
    // Why the last open failed: the file type (S_IFDIR, S_IFIFO, ...) of something that is not a
    // regular file, else 0 with the errno value of the failure.
    unsigned refusedFileType() const { return m_refusedFileType; }
    int openError() const { return m_openError; }

private:
    int m_descriptor = -1;
    std::uint64_t m_size = 0;
    FileIdentity m_identity;
    unsigned m_refusedFileType = 0;
    int m_openError = 0;
};

} // namespace vellum
