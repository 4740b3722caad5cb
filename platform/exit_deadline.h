#pragma once

// A bound on the time a stopping program takes to end. A thread of its own waits for a stop signal
// or for the program to say that it is ending; from then on the program has a grace period to end
// by itself. When it has not, the deadline says the program's last words (a run writes its record
// as it stands) and ends the process at once, without waiting for threads stuck in a read that
// may never return, as on a hung network or FUSE file system.

#include <chrono>
#include <functional>
#include <memory>

namespace vellum::platform {

class StopSignals;

class ExitDeadline final {
public:
    // Without a thread (a process limit) the program simply ends as it can.
    ExitDeadline(const StopSignals& stopSignals, std::chrono::milliseconds grace);
    ~ExitDeadline();
    ExitDeadline(const ExitDeadline&) = delete;
    ExitDeadline& operator=(const ExitDeadline&) = delete;

    // What to do before the process is ended early; empty for nothing. Called on the deadline's own
    // thread while the program's threads may still run, so it must be safe against them; replacing
    // them waits until they are said.
    void setLastWords(std::function<void()> lastWords);
    // The program ends with this status from here on, whatever it then waits for. Answers the status.
    int ending(int status);

private:
    struct Watch;
    const StopSignals& m_signals;
    std::unique_ptr<Watch> m_watch;
};

// Last words for as long as what they speak of lives: declared after it, gone before it.
class LastWords final {
public:
    LastWords(ExitDeadline& deadline, std::function<void()> lastWords) : m_deadline(deadline) {
        m_deadline.setLastWords(std::move(lastWords));
    }
    ~LastWords() { m_deadline.setLastWords({}); }
    LastWords(const LastWords&) = delete;
    LastWords& operator=(const LastWords&) = delete;

private:
    ExitDeadline& m_deadline;
};

} // namespace vellum::platform
