#pragma once

// The sliding history and the output of the LZ77-style decoders of Reduce and Implode. Bytes go
// both to the caller's output buffer, which is handed back and reused on every call, and to a ring
// of the last 8 KiB, which matches copy from. A match longer than the room left in the output is
// kept pending and finished on the next call. Both formats read positions before the start of the
// data as zero bytes, which the cleared ring gives for free.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vellum {

class OlderMethodHistory {
public:
    // The largest distance either format can express: Implode's 8 KiB window.
    static constexpr std::size_t Size = 8192;

    void reset(std::uint64_t totalSize) {
        m_ring.fill(0);
        m_position = 0;
        m_pendingLength = 0;
        m_pendingDistance = 0;
        m_produced = 0;
        m_total = totalSize;
    }

    // Starts a call that may write up to limit bytes into output.
    void begin(std::span<std::uint8_t> output, std::size_t limit) {
        m_output = output.data();
        m_limit = std::min(limit, output.size());
        m_written = 0;
    }

    bool complete() const { return m_produced == m_total; }
    bool outputFull() const { return m_written == m_limit; }
    std::size_t written() const { return m_written; }

    // Room for one more byte is checked by the caller through complete() and outputFull().
    void put(std::uint8_t value) {
        m_output[m_written++] = value;
        m_ring[m_position++ & (Size - 1)] = value;
        ++m_produced;
    }

    // Queues a copy of length bytes from distance back (1..Size); copyPending() performs it.
    void queueCopy(std::size_t distance, std::size_t length) {
        m_pendingDistance = distance;
        m_pendingLength = length;
    }

    bool hasPending() const { return m_pendingLength > 0; }

    // Copies as much of the queued match as the output and the declared size allow. The copy runs
    // byte by byte because a match may overlap the bytes it produces.
    void copyPending() {
        const std::uint64_t left = m_total - m_produced;
        std::size_t count = std::min(m_pendingLength, m_limit - m_written);
        if (left < count)
            count = static_cast<std::size_t>(left);
        for (std::size_t index = 0; index < count; ++index)
            put(m_ring[(m_position - m_pendingDistance) & (Size - 1)]);
        m_pendingLength -= count;
        // Whatever the stream still asks for past the declared size is dropped: the stream has no
        // end marker, so the declared size is where it ends.
        if (complete())
            m_pendingLength = 0;
    }

private:
    std::array<std::uint8_t, Size> m_ring{};
    std::size_t m_position = 0;
    std::size_t m_pendingLength = 0;
    std::size_t m_pendingDistance = 0;
    std::uint64_t m_produced = 0;
    std::uint64_t m_total = 0;
    std::uint8_t* m_output = nullptr;
    std::size_t m_limit = 0;
    std::size_t m_written = 0;
};

} // namespace vellum
