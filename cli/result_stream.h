#pragma once

// Where printed results go: standard output, written line by line, each line as soon as it is
// whole, so that a pipeline sees each archive at once. Every write is checked. A reader that has
// gone (a broken pipe) closes the stream; any other failure (a full disk) fails it; a stop asked
// for while the reader does not take the line abandons it, so that a stalled reader cannot hold a
// stop up. Whatever ends the stream is told once, and later lines are dropped.

#include <functional>
#include <string_view>

namespace vellum {

class ResultStream {
public:
    enum class State { Open, Closed, Failed, Abandoned };

    // Writes to `descriptor`, which stays the caller's. stopRequested is asked while a line waits
    // for the reader.
    explicit ResultStream(int descriptor, std::function<bool()> stopRequested = {});

    // Writes the line whole; false once the stream is no longer open.
    bool writeLine(std::string_view line);

    State state() const { return m_state; }
    // The errno value that failed the stream.
    int error() const { return m_error; }
    // Told once, when the stream stops being open.
    std::function<void(const ResultStream&)> onEnd;

private:
    void end(State state, int error);

    int m_descriptor;
    std::function<bool()> m_stopRequested;
    State m_state = State::Open;
    int m_error = 0;
};

} // namespace vellum
