#include "allocation_gate.h"

#include "condition_wait.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

namespace vellum::testing {

namespace {

// Read on every allocation, also before main and after the gate's state below is gone, so it is
// constant-initialised and the rest is only touched while it is set.
constinit std::atomic<bool> gateClosed{false};

struct GateState {
    std::mutex mutex;
    std::condition_variable opened;
    std::thread::id owner;
    // A test that goes wrong while the gate is closed may wait for a held thread; the gate then
    // opens by itself once the wait timeout has passed, and the test fails instead of hanging.
    std::chrono::steady_clock::time_point givenUp;
    int held = 0;
};

GateState& gateState() {
    static GateState state;
    return state;
}

void passGate() {
    if (!gateClosed.load(std::memory_order_acquire))
        return;
    GateState& state = gateState();
    std::unique_lock lock(state.mutex);
    if (!gateClosed.load() || std::this_thread::get_id() == state.owner)
        return;
    ++state.held;
    if (!state.opened.wait_until(lock, state.givenUp, [] { return !gateClosed.load(); })) {
        gateClosed.store(false);
        state.opened.notify_all();
    }
    --state.held;
}

void* allocate(std::size_t size, std::size_t alignment, bool throwing) {
    passGate();
    if (size == 0)
        size = 1;
    for (;;) {
        void* memory = alignment <= alignof(std::max_align_t)
                           ? std::malloc(size)
                           : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
        if (memory != nullptr)
            return memory;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            if (throwing)
                throw std::bad_alloc();
            return nullptr;
        }
        handler();
    }
}

} // namespace

AllocationGate::AllocationGate() {
    GateState& state = gateState();
    const std::lock_guard lock(state.mutex);
    state.owner = std::this_thread::get_id();
    state.givenUp = std::chrono::steady_clock::now() + WaitTimeout;
    gateClosed.store(true, std::memory_order_release);
}

AllocationGate::~AllocationGate() {
    open();
}

void AllocationGate::open() {
    GateState& state = gateState();
    {
        const std::lock_guard lock(state.mutex);
        gateClosed.store(false, std::memory_order_release);
    }
    state.opened.notify_all();
}

int AllocationGate::heldThreads() const {
    GateState& state = gateState();
    const std::lock_guard lock(state.mutex);
    return state.held;
}

} // namespace vellum::testing

// Every form of the global allocation functions, so that each allocation passes the gate and each
// release matches the allocation it undoes (the sanitizers' runtime would otherwise pair its own
// forms with these).
using vellum::testing::allocate;

void* operator new(std::size_t size) {
    return allocate(size, 0, true);
}
void* operator new[](std::size_t size) {
    return allocate(size, 0, true);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, 0, false);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, 0, false);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment), true);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, static_cast<std::size_t>(alignment), true);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(alignment), false);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(alignment), false);
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(memory);
}
