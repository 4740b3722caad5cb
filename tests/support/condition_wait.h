#pragma once

// Waiting for something another thread or process does. A test waits for the thing itself (a
// counter, a flag, a file, a signal received, a process ended), never for a length of time that
// usually suffices. The timeout is no claim about speed: it only keeps a test that has gone wrong
// from hanging until the test runner kills it, and it is generous so that a slow or busy machine
// never trips it.

#include <QTest>

#include <chrono>

namespace vellum::testing {

inline constexpr std::chrono::milliseconds WaitTimeout{30000};

// Polls condition until it holds, processing the calling thread's events in between so that
// signals and timers still arrive; false when it still does not hold after timeout.
template <typename Condition>
[[nodiscard]] bool waitUntil(Condition condition, std::chrono::milliseconds timeout = WaitTimeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

} // namespace vellum::testing
