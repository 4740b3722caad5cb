#include "base/byte_window.h"

#include <algorithm>

namespace vellum {

ByteWindow::ByteWindow(std::size_t capacity) : m_buffer(capacity) {}

void ByteWindow::attach(ByteSource* source) {
    reattach(source);
    if (source) {
        m_cachedOffset = 0;
        m_cachedLength = 0;
    }
}

void ByteWindow::reattach(ByteSource* source) {
    m_source = source;
    m_mapped = source ? source->mappedBytes() : std::span<const std::uint8_t>();
}

std::optional<std::span<const std::uint8_t>> ByteWindow::view(std::uint64_t offset, std::size_t length,
                                                              std::size_t readAhead) {
    if (!m_source || length > m_buffer.size() || offset > m_source->size() ||
        length > m_source->size() - offset)
        return std::nullopt;
    if (!m_mapped.empty() || m_source->size() == 0)
        return m_mapped.subspan(static_cast<std::size_t>(offset), length);
    if (offset >= m_cachedOffset && offset - m_cachedOffset <= m_cachedLength &&
        length <= m_cachedLength - (offset - m_cachedOffset))
        return std::span<const std::uint8_t>(m_buffer).subspan(
            static_cast<std::size_t>(offset - m_cachedOffset), length);
    // Read a whole buffer from the requested offset on: the next request is most often just after
    // this one.
    const std::size_t wanted = std::min(std::max(length, readAhead), m_buffer.size());
    const std::size_t fill =
        static_cast<std::size_t>(std::min<std::uint64_t>(wanted, m_source->size() - offset));
    m_cachedLength = 0;
    if (!m_source->read(offset, std::span<std::uint8_t>(m_buffer).first(fill)))
        return std::nullopt;
    m_cachedOffset = offset;
    m_cachedLength = fill;
    return std::span<const std::uint8_t>(m_buffer).first(length);
}

bool ByteWindow::copy(std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (!m_source || offset > m_source->size() || buffer.size() > m_source->size() - offset)
        return false;
    std::span<const std::uint8_t> cached;
    if (!m_mapped.empty())
        cached = m_mapped.subspan(static_cast<std::size_t>(offset), buffer.size());
    else if (offset >= m_cachedOffset && offset - m_cachedOffset <= m_cachedLength &&
             buffer.size() <= m_cachedLength - (offset - m_cachedOffset))
        cached = std::span<const std::uint8_t>(m_buffer).subspan(
            static_cast<std::size_t>(offset - m_cachedOffset), buffer.size());
    else
        return m_source->read(offset, buffer);
    std::copy(cached.begin(), cached.end(), buffer.begin());
    return true;
}

} // namespace vellum
