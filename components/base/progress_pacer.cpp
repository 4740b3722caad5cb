#include "base/progress_pacer.h"

namespace vellum {

ProgressPacer::ProgressPacer(const std::function<void()>& onYield,
                             const std::function<void(const ZipStatus&)>& onStatus, const bool& abortFlag,
                             const std::atomic<bool>* cancelFlag)
    : m_onYield(onYield), m_onStatus(onStatus), m_abortFlag(abortFlag), m_cancelFlag(cancelFlag),
      m_lastYield(m_onYield ? Clock::now() : Clock::time_point{}) {}

bool ProgressPacer::poll() {
    if (m_aborted)
        return false;
    if (m_onYield && Clock::now() - m_lastYield >= YieldInterval) {
        m_onYield();
        // Measured after the callback, which may have spent a while painting the window.
        m_lastYield = Clock::now();
    }
    if (m_abortFlag || (m_cancelFlag && m_cancelFlag->load(std::memory_order_relaxed)))
        m_aborted = true;
    return !m_aborted;
}

int ProgressPacer::percentOf(std::uint64_t done, std::uint64_t total) {
    if (total == 0 || done >= total)
        return 100;
    // Split the division so that huge totals cannot overflow the multiplication.
    const std::uint64_t percent = total > (UINT64_MAX / 100) ? done / (total / 100) : done * 100 / total;
    return static_cast<int>(percent > 99 ? 99 : percent);
}

} // namespace vellum
