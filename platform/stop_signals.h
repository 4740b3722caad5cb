#pragma once

// SIGINT, SIGTERM and SIGHUP as requests to stop. The first of them is kept, for the program to
// stop its work and still write what it has: a terminal run asks received() as it goes, an event
// loop watches wakeDescriptor(). A second one ends the program at once with the signal's own default
// action.

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
};

} // namespace vellum::platform
