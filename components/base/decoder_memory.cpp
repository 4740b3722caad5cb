#include "base/decoder_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

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

// What the program needs beside its decoders under a limit that counts the whole process: its
// threads' stacks and heaps, the component's buffers, the run's tables.
constexpr std::uint64_t ProgramMargin = std::uint64_t{128} << 20;
// A version 1 cgroup without a limit shows the largest page-aligned 64-bit value; anything near it
// is no limit either.
constexpr std::uint64_t NoV1Limit = std::uint64_t{1} << 62;

std::uint64_t lessMargin(std::uint64_t bytes) {
    return bytes > ProgramMargin ? bytes - ProgramMargin : 0;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char letter) { return letter == ' ' || letter == '\t' || letter == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<std::uint64_t> numberIn(std::string_view text) {
    text = trimmed(text);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::optional<std::uint64_t> liveCgroupLimit() {
    const std::string membership = fileText("/proc/self/cgroup");
    if (const std::optional<std::string> path = cgroupPathIn(membership, true)) {
        if (const std::string text = fileText("/sys/fs/cgroup" + *path + "/memory.max"); !text.empty())
            return cgroupV2Limit(text);
    }
    if (const std::optional<std::string> path = cgroupPathIn(membership, false))
        return cgroupV1Limit(fileText("/sys/fs/cgroup/memory" + *path + "/memory.limit_in_bytes"));
    return std::nullopt;
}

std::optional<std::uint64_t> liveAddressSpaceLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

} // namespace

std::optional<std::string> cgroupPathIn(std::string_view procSelfCgroup, bool version2) {
    // Each line is "hierarchy-ID:controllers:path"; version 2 has ID 0 and no controllers.
    while (!procSelfCgroup.empty()) {
        const std::size_t lineEnd = std::min(procSelfCgroup.find('\n'), procSelfCgroup.size());
        const std::string_view line = procSelfCgroup.substr(0, lineEnd);
        procSelfCgroup.remove_prefix(std::min(lineEnd + 1, procSelfCgroup.size()));
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (path.empty() || path.front() != '/')
            continue;
        if (version2 ? line.substr(0, first) == "0" && controllers.empty()
                     : ("," + std::string(controllers) + ",").find(",memory,") != std::string::npos)
            return std::string(path);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> cgroupV2Limit(std::string_view memoryMax) {
    return numberIn(memoryMax);
}

std::optional<std::uint64_t> cgroupV1Limit(std::string_view limitInBytes) {
    const std::optional<std::uint64_t> limit = numberIn(limitInBytes);
    if (!limit || *limit >= NoV1Limit)
        return std::nullopt;
    return limit;
}

std::optional<std::uint64_t> mappedSizeIn(std::string_view procSelfStatus) {
    constexpr std::string_view Key = "\nVmSize:";
    const std::size_t at = ("\n" + std::string(procSelfStatus)).find(Key);
    if (at == std::string::npos)
        return std::nullopt;
    std::string_view value = procSelfStatus.substr(at + Key.size() - 1);
    value = value.substr(0, value.find('\n'));
    value = trimmed(value);
    if (!value.ends_with("kB"))
        return std::nullopt;
    const std::optional<std::uint64_t> kilobytes = numberIn(value.substr(0, value.size() - 2));
    if (!kilobytes || *kilobytes > UINT64_MAX / 1024)
        return std::nullopt;
    return *kilobytes * 1024;
}

MemorySurroundings readMemorySurroundings() {
    MemorySurroundings surroundings;
    surroundings.physical = physicalMemory();
    surroundings.cgroupLimit = liveCgroupLimit();
    surroundings.addressSpace = liveAddressSpaceLimit();
    surroundings.mapped = mappedSizeIn(fileText("/proc/self/status")).value_or(0);
    return surroundings;
}

std::optional<std::uint64_t> addressSpaceRoom() {
    const std::optional<std::uint64_t> limit = liveAddressSpaceLimit();
    if (!limit)
        return std::nullopt;
    const std::uint64_t mapped = mappedSizeIn(fileText("/proc/self/status")).value_or(0);
    return lessMargin(*limit > mapped ? *limit - mapped : 0);
}

DecoderMemoryLimits decoderMemoryLimits(const MemorySurroundings& surroundings) {
    std::uint64_t ceiling = UINT64_MAX;
    if (surroundings.cgroupLimit)
        ceiling = std::min(ceiling, lessMargin(*surroundings.cgroupLimit));
    if (surroundings.addressSpace) {
        const std::uint64_t room = *surroundings.addressSpace > surroundings.mapped
                                       ? *surroundings.addressSpace - surroundings.mapped
                                       : 0;
        ceiling = std::min(ceiling, lessMargin(room));
    }
    if (surroundings.requestedLimit)
        ceiling = std::min(ceiling, *surroundings.requestedLimit);
    // An unknown size gets the default; no machine gets less than the free allowance of a few
    // decoders, unless a limit leaves less.
    const std::uint64_t share = surroundings.physical == 0
                                    ? DefaultBudget
                                    : std::clamp(surroundings.physical / 4,
                                                 DecoderMemoryBudget::UnleasedAllowance * 8, DefaultBudget);
    return DecoderMemoryLimits{std::min(share, ceiling), ceiling};
}

DecoderMemoryBudget::DecoderMemoryBudget(std::uint64_t capacity, std::uint64_t ceiling)
    : m_capacity(std::min(capacity, ceiling)), m_ceiling(ceiling) {}

DecoderMemoryBudget& DecoderMemoryBudget::shared() {
    static DecoderMemoryBudget budget([] {
        const DecoderMemoryLimits limits = decoderMemoryLimits(readMemorySurroundings());
        return DecoderMemoryBudget(limits.capacity, limits.ceiling);
    }());
    return budget;
}

void DecoderMemoryBudget::limitShared(std::uint64_t bytes) {
    shared().limitTo(bytes);
}

void DecoderMemoryBudget::limitTo(std::uint64_t bytes) {
    const std::lock_guard lock(m_mutex);
    m_ceiling = std::min(m_ceiling, bytes);
    m_capacity = std::min(m_capacity, m_ceiling);
}

std::uint64_t DecoderMemoryBudget::capacity() const {
    const std::lock_guard lock(m_mutex);
    return m_capacity;
}

std::uint64_t DecoderMemoryBudget::ceiling() const {
    const std::lock_guard lock(m_mutex);
    return m_ceiling;
}

std::uint64_t DecoderMemoryBudget::obtainable() const {
    // Without any limit, the physical memory is still a bound the system may enforce.
    const std::uint64_t physical = physicalMemory();
    std::uint64_t bound = std::min(ceiling(), physical == 0 ? UINT64_MAX : physical);
    if (const std::optional<std::uint64_t> room = addressSpaceRoom())
        bound = std::min(bound, *room);
    return bound;
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
        m_refusedNeed = std::max(m_refusedNeed, m_inUse + total);
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
