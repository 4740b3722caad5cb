#include "stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace vellum::platform {

namespace {

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler may only do what is safe inside a signal handler: it keeps the number, and writes it
// into a pipe that an event loop may watch.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t firstSignal = 0;

void onSignal(int signalNumber) {
    if (firstSignal != 0) {
        // The stop did not come soon enough for whoever sent the second signal.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    firstSignal = signalNumber;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &number, 1);
}

} // namespace

StopSignals::StopSignals() {
    // Without the pipe the signals are still kept; only an event loop cannot be woken by them.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        signalPipe[0] = signalPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : handledSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

StopSignals::~StopSignals() {
    for (const int signalNumber : handledSignals)
        std::signal(signalNumber, SIG_DFL);
    for (int& end : signalPipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
    firstSignal = 0;
}

int StopSignals::received() const {
    return firstSignal;
}

int StopSignals::wakeDescriptor() const {
    return signalPipe[0];
}

} // namespace vellum::platform
