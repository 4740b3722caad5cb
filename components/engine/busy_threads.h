#pragma once

// The threads of the process that are checking archives now, counted against the processors. Every
// operation counts its own thread, and entry helpers count theirs; the helpers that decode the
// blocks of one large entry start only while the count leaves a processor idle, so that one big
// entry takes the processors the other archives leave, and never one another archive is using.

#include <atomic>

namespace vellum {

class BusyThreads {
public:
    explicit BusyThreads(unsigned processors);

    // The count of the whole process, against std::thread::hardware_concurrency().
    static BusyThreads& shared();

    // Counts one thread for as long as it lives.
    class Token {
    public:
        Token() = default;
        Token(Token&& other) noexcept : m_threads(other.m_threads) { other.m_threads = nullptr; }
        Token& operator=(Token&& other) noexcept;
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;
        ~Token() { release(); }

        explicit operator bool() const { return m_threads != nullptr; }
        void release();

    private:
        friend class BusyThreads;
        explicit Token(BusyThreads* threads) : m_threads(threads) {}
        BusyThreads* m_threads = nullptr;
    };

    // A thread that checks whatever the count.
    Token enter();
    // A thread that checks only when a processor is idle: an empty token when none is.
    Token enterIfIdle();

    unsigned busy() const { return m_busy.load(); }

private:
    unsigned m_processors;
    std::atomic<unsigned> m_busy{0};
};

} // namespace vellum
