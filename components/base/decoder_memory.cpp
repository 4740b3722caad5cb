#include "base/decoder_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace vellum {

namespace {

constexpr std::uint64_t DefaultBudget = std::uint64_t{1} << 30;
constexpr auto WaitSlice = std::chrono::milliseconds(25);

// Every block starts with its size, so that release() needs no more than the address the libraries
// give back; the header keeps the block aligned for anything they store.
constexpr std::size_t HeaderSize = 16;
constexpr std::size_t MappedBlock = 64 * 1024;

std::uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

} // namespace

DecoderMemoryBudget::DecoderMemoryBudget(std::uint64_t capacity) : m_capacity(capacity) {}

DecoderMemoryBudget& DecoderMemoryBudget::shared() {
    static DecoderMemoryBudget budget([] {
        const std::uint64_t physical = physicalMemory();
        // An unknown size gets the default; no machine gets less than the free allowance of a
        // few decoders.
        return physical == 0
                   ? DefaultBudget
                   : std::clamp(physical / 4, DecoderMemoryBudget::UnleasedAllowance * 8, DefaultBudget);
    }());
    return budget;
}

void DecoderMemoryBudget::grantLocked(std::uint64_t bytes) {
    m_leased += bytes;
    m_peak = std::max(m_peak, m_leased);
    // The next in line may fit beside this one.
    m_released.notify_all();
}

bool DecoderMemoryBudget::waitUntilGranted(std::unique_lock<std::mutex>& lock,
                                           const std::function<bool()>& granted,
                                           const std::function<bool()>& keepWaiting) {
    while (!granted()) {
        if (m_released.wait_for(lock, WaitSlice, granted))
            return true;
        lock.unlock();
        const bool goOn = keepWaiting();
        lock.lock();
        if (!goOn)
            return false;
    }
    return true;
}

bool DecoderMemoryBudget::waitPlain(std::unique_lock<std::mutex>& lock, std::uint64_t bytes,
                                    const std::function<bool()>& keepWaiting) {
    const std::uint64_t ticket = m_nextTicket++;
    m_queue.push_back(ticket);
    // First come, first served: a large request is not overtaken for ever by small ones. A request
    // beyond the whole budget needs the budget empty. The directory holder's growth goes first.
    const auto granted = [&] {
        return m_queue.front() == ticket && !m_growthWaiting &&
               (m_leased == 0 || bytes <= m_capacity - std::min(m_leased, m_capacity));
    };
    if (!waitUntilGranted(lock, granted, keepWaiting)) {
        m_queue.erase(std::find(m_queue.begin(), m_queue.end(), ticket));
        m_released.notify_all();
        return false;
    }
    m_queue.pop_front();
    grantLocked(bytes);
    return true;
}

bool DecoderMemoryBudget::waitGrowth(std::unique_lock<std::mutex>& lock, std::uint64_t bytes,
                                     const std::function<bool()>& keepWaiting) {
    // Only the others' leases stand in the way, and they wait for nothing: once they are given back
    // the growth fits, or it runs alone.
    const auto granted = [&] {
        return bytes <= m_capacity - std::min(m_leased, m_capacity) || m_leased == m_holderBytes;
    };
    m_growthWaiting = true;
    const bool grown = waitUntilGranted(lock, granted, keepWaiting);
    m_growthWaiting = false;
    if (!grown) {
        m_released.notify_all();
        return false;
    }
    m_holderBytes += bytes;
    grantLocked(bytes);
    return true;
}

DecoderMemoryBudget::Lease DecoderMemoryBudget::acquire(std::uint64_t bytes,
                                                        const std::function<bool()>& keepWaiting) {
    std::unique_lock lock(m_mutex);
    if (m_directoryHolder == std::this_thread::get_id()) {
        if (!waitGrowth(lock, bytes, keepWaiting))
            return Lease();
        return Lease(this, bytes, Lease::Kind::Growth);
    }
    if (!waitPlain(lock, bytes, keepWaiting))
        return Lease();
    return Lease(this, bytes, Lease::Kind::Plain);
}

DecoderMemoryBudget::Lease DecoderMemoryBudget::acquireDirectory(std::uint64_t bytes,
                                                                 const std::function<bool()>& keepWaiting) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = m_nextTicket++;
    m_directoryQueue.push_back(ticket);
    const auto slotFree = [&] {
        return m_directoryQueue.front() == ticket && m_directoryHolder == std::thread::id();
    };
    if (!waitUntilGranted(lock, slotFree, keepWaiting)) {
        m_directoryQueue.erase(std::find(m_directoryQueue.begin(), m_directoryQueue.end(), ticket));
        m_released.notify_all();
        return Lease();
    }
    m_directoryQueue.pop_front();
    // The slot is this thread's from now on; the bytes are asked for as any request's are.
    m_directoryHolder = std::this_thread::get_id();
    m_holderBytes = 0;
    if (!waitPlain(lock, bytes, keepWaiting)) {
        m_directoryHolder = std::thread::id();
        m_released.notify_all();
        return Lease();
    }
    m_holderBytes = bytes;
    return Lease(this, bytes, Lease::Kind::Directory);
}

bool DecoderMemoryBudget::growDirectory(Lease& lease, std::uint64_t bytes,
                                        const std::function<bool()>& keepWaiting) {
    std::unique_lock lock(m_mutex);
    if (lease.m_budget != this || lease.m_kind != Lease::Kind::Directory ||
        m_directoryHolder != std::this_thread::get_id())
        return false;
    if (!waitGrowth(lock, bytes, keepWaiting))
        return false;
    lease.m_bytes += bytes;
    return true;
}

bool DecoderMemoryBudget::holdsDirectory() const {
    const std::lock_guard lock(m_mutex);
    return m_directoryHolder == std::this_thread::get_id();
}

void DecoderMemoryBudget::giveBack(std::uint64_t bytes, Lease::Kind kind) {
    {
        const std::lock_guard lock(m_mutex);
        m_leased -= bytes;
        if (kind != Lease::Kind::Plain)
            m_holderBytes -= std::min(m_holderBytes, bytes);
        if (kind == Lease::Kind::Directory)
            m_directoryHolder = std::thread::id();
    }
    m_released.notify_all();
}

std::uint64_t DecoderMemoryBudget::leased() const {
    const std::lock_guard lock(m_mutex);
    return m_leased;
}

std::uint64_t DecoderMemoryBudget::peakLeased() const {
    const std::lock_guard lock(m_mutex);
    return m_peak;
}

DecoderMemoryBudget::Lease::Lease(Lease&& other) noexcept
    : m_budget(other.m_budget), m_bytes(other.m_bytes), m_kind(other.m_kind) {
    other.m_budget = nullptr;
    other.m_bytes = 0;
}

DecoderMemoryBudget::Lease& DecoderMemoryBudget::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        release();
        m_budget = other.m_budget;
        m_bytes = other.m_bytes;
        m_kind = other.m_kind;
        other.m_budget = nullptr;
        other.m_bytes = 0;
    }
    return *this;
}

DecoderMemoryBudget::Lease::~Lease() {
    release();
}

void DecoderMemoryBudget::Lease::release() {
    if (m_budget)
        m_budget->giveBack(m_bytes, m_kind);
    m_budget = nullptr;
    m_bytes = 0;
}

void* DecoderHeap::allocate(std::size_t bytes) noexcept {
    if (bytes > SIZE_MAX - HeaderSize)
        return nullptr;
    const std::size_t total = bytes + HeaderSize;
    if (m_inUse + total > m_allowance) {
        m_needed = std::max(m_needed, m_inUse + total);
        return nullptr;
    }
    void* block = nullptr;
    if (total >= MappedBlock) {
        block =
            mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (block == MAP_FAILED)
            block = nullptr;
    } else {
        block = std::malloc(total);
    }
    if (!block) {
        m_systemRefused = true;
        return nullptr;
    }
    *static_cast<std::size_t*>(block) = total;
    m_inUse += total;
    m_peak = std::max(m_peak, m_inUse);
    return static_cast<std::byte*>(block) + HeaderSize;
}

void DecoderHeap::release(void* address) noexcept {
    if (!address)
        return;
    void* block = static_cast<std::byte*>(address) - HeaderSize;
    const std::size_t total = *static_cast<std::size_t*>(block);
    m_inUse -= total;
    if (total >= MappedBlock)
        munmap(block, total);
    else
        std::free(block);
}

} // namespace vellum
