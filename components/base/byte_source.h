#pragma once

// Where the archive component reads an archive from: a random-access run of bytes of known size.
// The file-backed source reads with pread, so that the component's own buffers decide how much is
// read at once; the memory source serves tests and fuzzing without touching the disk.

#include "zip/file_identity.h"

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
