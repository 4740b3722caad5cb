#include "stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace vellum::platform {

namespace {

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler may only do what is safe inside a signal handler: it writes the number into a pipe
// that the event loop watches.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalsSeen = 0;

void onSignal(int signalNumber) {
    if (signalsSeen != 0) {
        // The stop did not come soon enough for whoever sent the second signal.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    signalsSeen = 1;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &number, 1);
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readSignal(); });
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
    m_notifier.reset();
    for (int& end : signalPipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
    signalsSeen = 0;
}

void StopSignals::readSignal() {
    unsigned char number = 0;
    while (::read(signalPipe[0], &number, 1) == 1) {
        if (m_received == 0) {
            m_received = number;
            emit stopRequested(number);
        }
    }
}

} // namespace vellum::platform
