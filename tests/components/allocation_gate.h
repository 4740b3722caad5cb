#pragma once

// Holds back every allocation made by threads other than the one that closed the gate, until the
// gate opens again, at the latest after the tests' wait timeout. It replaces the program's global
// operator new (allocation_gate.cpp), so only a test program built with that file can use it.
//
// Work that must allocate before it can hand over a result (a worker that makes the verdict it
// passes on) is thereby stopped at a known point without its code taking part, and the test can
// act while that work is certainly unfinished, whatever the scheduler does. A held thread keeps
// the locks it holds at that moment: while the gate is closed, the thread that closed it must not
// wait for a lock or a result of another thread.

namespace vellum::testing {

class AllocationGate {
public:
    // Closes the gate; the calling thread goes on allocating freely.
    AllocationGate();
    // Opens the gate if it is still closed.
    ~AllocationGate();
    AllocationGate(const AllocationGate&) = delete;
    AllocationGate& operator=(const AllocationGate&) = delete;

    // Lets every held thread go on; the gate stays open.
    void open();
    // How many threads are held at the gate now.
    int heldThreads() const;
};

} // namespace vellum::testing
