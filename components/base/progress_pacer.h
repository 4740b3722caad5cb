#pragma once

// Keeps a long operation polite: hands control to the caller's yield callback whenever enough time
// has passed, watches the abort flag the callback may set, and raises the status callback when
// the completion percentage changes. Work loops call poll() once per chunk; it costs one clock read
// and never yields on a short operation. Without a yield callback it reads no clock, and watches
// only the cancel flag, which another thread may set.

#include "zip/zip_status.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>

namespace vellum {

class ProgressPacer {
public:
    using Clock = std::chrono::steady_clock;

    // Yields when this much time has passed since the operation started or last yielded: half the
    // 50 ms the caller is promised, so that one slow chunk does not break the promise.
    static constexpr Clock::duration YieldInterval = std::chrono::milliseconds(25);

    ProgressPacer(const std::function<void()>& onYield, const std::function<void(const ZipStatus&)>& onStatus,
                  const bool& abortFlag, const std::atomic<bool>* cancelFlag = nullptr);

    // Yields if it is time to. False when the operation must stop because abort was set.
    bool poll();
    bool aborted() const { return m_aborted; }

    // Sets the operation's progress. describe() fills in the current entry and is called only when
    // a status event is actually raised.
    template <typename Describe> void progress(std::uint64_t done, std::uint64_t total, Describe&& describe) {
        const int percent = percentOf(done, total);
        if (percent == m_lastPercent || !m_onStatus)
            return;
        m_lastPercent = percent;
        ZipStatus status;
        describe(status);
        status.completion = static_cast<std::int16_t>(percent);
        m_onStatus(status);
    }

    // Raises the final 100 % event unless it has been raised already.
    template <typename Describe> void finish(Describe&& describe) { progress(1, 1, describe); }

private:
    static int percentOf(std::uint64_t done, std::uint64_t total);

    const std::function<void()>& m_onYield;
    const std::function<void(const ZipStatus&)>& m_onStatus;
    const bool& m_abortFlag;
    const std::atomic<bool>* m_cancelFlag;
    Clock::time_point m_lastYield;
    int m_lastPercent = 0;
    bool m_aborted = false;
};

// Where work loops report how far they have got. The operation decides what the amount means
// (entries for the structure check, compressed bytes for decompression) and turns it into status
// events. False means the loop must stop (abort).
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual bool advance(std::size_t entryIndex, std::uint64_t amount) = 0;
};

} // namespace vellum
