#include "result_stream.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace vellum {

namespace {

constexpr int WaitSliceMilliseconds = 100;

} // namespace

ResultStream::ResultStream(int descriptor, std::function<bool()> stopRequested)
    : m_descriptor(descriptor), m_stopRequested(std::move(stopRequested)) {}

bool ResultStream::writeLine(std::string_view line) {
    while (m_state == State::Open && !line.empty()) {
        pollfd ready{m_descriptor, POLLOUT, 0};
        const int answer = ::poll(&ready, 1, WaitSliceMilliseconds);
        if (answer == 0 || (answer < 0 && errno == EINTR)) {
            if (m_stopRequested && m_stopRequested())
                end(State::Abandoned, 0);
            continue;
        }
        // A pipe that polls writable takes PIPE_BUF bytes without blocking, so a stop is heard
        // between two pieces however slowly the reader reads.
        const ssize_t written =
            ::write(m_descriptor, line.data(), std::min<std::size_t>(line.size(), PIPE_BUF));
        if (written > 0)
            line.remove_prefix(static_cast<std::size_t>(written));
        else if (written < 0 && errno != EINTR && errno != EAGAIN)
            end(errno == EPIPE ? State::Closed : State::Failed, errno);
    }
    return m_state == State::Open;
}

void ResultStream::end(State state, int error) {
    m_state = state;
    m_error = error;
    if (onEnd)
        onEnd(*this);
}

} // namespace vellum
