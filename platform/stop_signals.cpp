#include "stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace vellum::platform {

namespace {

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler may only do what is safe inside a signal handler: it keeps the number, and writes it
// into a pipe that an event loop may watch.
int signalPipe[2] = {-1, -1};
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set inside the signal handler");
std::atomic<sem_t*> stopSemaphore{nullptr};
static_assert(std::atomic<sem_t*>::is_always_lock_free, "read inside the signal handler");

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
    if (sem_t* semaphore = stopSemaphore.load())
        ::sem_post(semaphore);
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

void StopSignals::setDeliverableHere(bool deliverable) {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signalNumber : handledSignals)
        sigaddset(&stopSignals, signalNumber);
    ::pthread_sigmask(deliverable ? SIG_UNBLOCK : SIG_BLOCK, &stopSignals, nullptr);
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

void StopSignals::postOnStop(sem_t* semaphore) const {
    stopSemaphore.store(semaphore);
    if (semaphore != nullptr && firstSignal != 0)
        ::sem_post(semaphore);
}

} // namespace vellum::platform
