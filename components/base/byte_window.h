#pragma once

// A read cache over a ByteSource: one fixed buffer, allocated once, that holds the most recently
// read stretch of the file. Records that lie close together (headers of small entries, the
// central directory) are served from one large read instead of one system call each. Sources that
// already lie in memory are viewed directly.

#include "base/byte_source.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vellum {

class ByteWindow {
public:
    explicit ByteWindow(std::size_t capacity);

    // Forgets any cached bytes and reads from source from now on (nullptr detaches).
    void attach(ByteSource* source);
    // Reads from source from now on and keeps the cached bytes: for the source they were read from,
    // whose bytes have not changed since. A window detached with attach(nullptr) keeps them for this.
    void reattach(ByteSource* source);

    std::size_t capacity() const { return m_buffer.size(); }
    // What the window reads from; null while detached.
    ByteSource* source() const { return m_source; }

    // The bytes [offset, offset + length). The caller keeps length within capacity() and the range
    // within the source's size. The view stays valid until the next call. std::nullopt means the
    // source could not be read. On a miss the window reads readAhead bytes from offset (at least
    // length, at most its capacity): callers that jump from header to header over large data ask
    // for less than a full buffer, so that they do not read the data twice.
    std::optional<std::span<const std::uint8_t>> view(std::uint64_t offset, std::size_t length,
                                                      std::size_t readAhead = SIZE_MAX);

    // Copies [offset, offset + buffer.size()) into buffer, from the cached bytes when they hold it
    // and from the source otherwise, leaving the cache as it is. False when reading failed.
    bool copy(std::uint64_t offset, std::span<std::uint8_t> buffer);

private:
    ByteSource* m_source = nullptr;
    std::span<const std::uint8_t> m_mapped;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_cachedOffset = 0;
    std::size_t m_cachedLength = 0;
};

} // namespace vellum
