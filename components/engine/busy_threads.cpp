#include "engine/busy_threads.h"

#include <algorithm>
#include <thread>

namespace vellum {

BusyThreads::BusyThreads(unsigned processors) : m_processors(std::max(processors, 1u)) {}

BusyThreads& BusyThreads::shared() {
    static BusyThreads threads(std::thread::hardware_concurrency());
    return threads;
}

BusyThreads::Token& BusyThreads::Token::operator=(Token&& other) noexcept {
    if (this != &other) {
        release();
        m_threads = other.m_threads;
        other.m_threads = nullptr;
    }
    return *this;
}

void BusyThreads::Token::release() {
    if (m_threads)
        m_threads->m_busy.fetch_sub(1);
    m_threads = nullptr;
}

BusyThreads::Token BusyThreads::enter() {
    m_busy.fetch_add(1);
    return Token(this);
}

BusyThreads::Token BusyThreads::enterIfIdle() {
    unsigned busy = m_busy.load();
    while (busy < m_processors) {
        if (m_busy.compare_exchange_weak(busy, busy + 1))
            return Token(this);
    }
    return Token();
}

} // namespace vellum
