#include "exit_deadline.h"

#include "stop_signals.h"

#include <semaphore.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

namespace vellum::platform {

// A semaphore rather than a condition variable or a pipe: a signal handler may post it, and it
// takes no file descriptor from a process that may have none to spare.
struct ExitDeadline::Watch {
    explicit Watch(std::chrono::milliseconds graceTime) : grace(graceTime) { ::sem_init(&wake, 0, 0); }
    ~Watch() { ::sem_destroy(&wake); }

    void watch(const StopSignals& stopSignals) {
        while (::sem_wait(&wake) != 0) {
        }
        // The steady clock is the monotonic one the semaphore waits by.
        const auto endAt = std::chrono::steady_clock::now().time_since_epoch() + grace;
        const auto endSecond = std::chrono::duration_cast<std::chrono::seconds>(endAt);
        const timespec deadline{
            endSecond.count(),
            std::chrono::duration_cast<std::chrono::nanoseconds>(endAt - endSecond).count()};
        for (;;) {
            std::unique_lock lock(mutex);
            if (dismissed)
                return;
            lock.unlock();
            if (::sem_clockwait(&wake, CLOCK_MONOTONIC, &deadline) != 0 && errno == ETIMEDOUT)
                break;
        }
        // The last words are said under the lock, so that what they speak of cannot go meanwhile.
        const std::lock_guard lock(mutex);
        if (dismissed)
            return;
        if (lastWords)
            lastWords();
        const int status = endingStatus >= 0 ? endingStatus : 128 + stopSignals.received();
        static const char note[] = "vellum: ended without waiting for a read that had not returned\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, note, sizeof note - 1);
        ::_exit(status);
    }

    const std::chrono::milliseconds grace;
    sem_t wake{};
    std::mutex mutex;
    // Guarded by the mutex.
    std::function<void()> lastWords;
    int endingStatus = -1; // until the program says it is ending
    bool dismissed = false;
    std::thread thread;
};

ExitDeadline::ExitDeadline(const StopSignals& stopSignals, std::chrono::milliseconds grace)
    : m_signals(stopSignals), m_watch(std::make_unique<Watch>(grace)) {
    try {
        m_watch->thread = std::thread([watch = m_watch.get(), &stopSignals] { watch->watch(stopSignals); });
    } catch (const std::system_error&) {
        return;
    }
    stopSignals.postOnStop(&m_watch->wake);
    // Every other thread started from here on is one that may be stuck.
    StopSignals::setDeliverableHere(false);
}

ExitDeadline::~ExitDeadline() {
    if (!m_watch->thread.joinable())
        return;
    m_signals.postOnStop(nullptr);
    {
        const std::lock_guard lock(m_watch->mutex);
        m_watch->dismissed = true;
    }
    ::sem_post(&m_watch->wake);
    m_watch->thread.join();
    StopSignals::setDeliverableHere(true);
}

void ExitDeadline::setLastWords(std::function<void()> lastWords) {
    const std::lock_guard lock(m_watch->mutex);
    m_watch->lastWords = std::move(lastWords);
}

int ExitDeadline::ending(int status) {
    {
        const std::lock_guard lock(m_watch->mutex);
        m_watch->endingStatus = status;
    }
    ::sem_post(&m_watch->wake);
    return status;
}

} // namespace vellum::platform
