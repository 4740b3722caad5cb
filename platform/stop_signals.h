#pragma once

// SIGINT, SIGTERM and SIGHUP as requests to stop. The first of them is kept, for the program to
// stop its work and still write what it has: a terminal run asks received() as it goes, an event
// loop watches wakeDescriptor(). A second one ends the program at once with the signal's own default
// action.

#include <semaphore.h>

namespace vellum::platform {

class StopSignals final {
public:
    // Installs the handlers; only one object may exist at a time.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that asked to stop, or 0 while none has.
    int received() const;
    // Becomes readable when the first signal arrives; -1 when it could not be made.
    int wakeDescriptor() const;
    // Posted when the first signal arrives, and at once when it already has; null for none. For a
    // thread that waits for a stop whatever the program's other threads are stuck in.
    void postOnStop(sem_t* semaphore) const;

    // Whether the stop signals may be handled on the calling thread; the threads it starts from then
    // on inherit the choice, and so do the processes it starts unless they are given the signals
    // back. A thread stuck in a read the kernel does not interrupt (a hung FUSE file system) keeps
    // a signal that comes to it from its handler, so a program whose threads may be stuck leaves
    // the signals to one that cannot be.
    static void setDeliverableHere(bool deliverable);
};

} // namespace vellum::platform
