#pragma once

// The memory of the decoders whose state grows with the stream's own parameters: an LZMA or xz
// dictionary, a Zstandard window, a PPMd model. Such a stream may rightly ask for hundreds of
// megabytes, and every thread of the component may meet one at the same moment, so their state is
// handed out in two tiers.
//
// Each decoder keeps a small state of its own (UnleasedAllowance) for free: most entries are small
// and need no more. An entry that needs more first takes a lease of what it needs from the one
// DecoderMemoryBudget of the process; leases wait until the budget has room, in the order they
// were asked for, so that entries needing much memory run one after another while the small ones
// go on beside them. A request larger than the whole budget is granted once nothing else is leased:
// it runs alone, and is never refused. The decoder gives the memory back when the entry is done.
//
// The entry records of a large central directory (millions of entries) are leased from the same
// budget, but they stay held while the archive's entries are decoded, and one of those may need a
// decoder lease of its own. So a directory lease is taken by one thread at a time in the process
// (a thread asking for one while another holds one waits, holding nothing), and while a thread
// holds it, that thread's decoder leases are grown onto it instead of being asked for apart: such
// a growth goes before every request that waits, and is granted as soon as the others' leases,
// which wait for nothing, leave room for it (or have all been given back, when the directory and
// the decoder together are more than the whole budget). The holder's threads must not ask for
// leases from other threads meanwhile (the engine checks such an archive's entries on one thread).
//
// Apart from that one holder, a thread holds at most one lease, and never waits for anything while
// it holds one but for its own decoding, so a waiting lease always gets its turn, and the holder's
// growth does too.
//
// Besides its capacity, the budget knows the most a decoder can have at all (its ceiling): what the
// cgroup's memory limit, the address-space limit and the user's --memory leave. Running alone does
// not help a request beyond that: the memory cannot be had, and the entry cannot be checked.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vellum {

// What bounds the decoders' memory in this process, as read from the system.
struct MemorySurroundings {
    std::uint64_t physical = 0;                  // zero when unknown
    std::optional<std::uint64_t> cgroupLimit;    // the memory limit of the process's cgroup
    std::optional<std::uint64_t> addressSpace;   // RLIMIT_AS
    std::uint64_t mapped = 0;                    // the process's address space in use (VmSize)
    std::optional<std::uint64_t> requestedLimit; // --memory
};

struct DecoderMemoryLimits {
    std::uint64_t capacity = 0; // what leases share at once
    std::uint64_t ceiling = 0;  // the most one decoder can have at all
};

// The limits the surroundings give: the ceiling is the smallest of the cgroup's limit and the room
// the address-space limit leaves (each less what the program itself needs) and the requested
// limit; the capacity is a quarter of the physical memory, at most 1 GiB, and never above the
// ceiling.
DecoderMemoryLimits decoderMemoryLimits(const MemorySurroundings& surroundings);

// The surroundings of this process now: sysconf, /proc/self/cgroup with the cgroup's limit file
// (version 2 or 1), getrlimit and /proc/self/status.
MemorySurroundings readMemorySurroundings();

// The parsers of those files, over their text.
// /proc/self/cgroup: the path of the version 2 cgroup ("0::/path"), or of the version 1 memory
// controller's ("4:memory:/path") when version2 is false.
std::optional<std::string> cgroupPathIn(std::string_view procSelfCgroup, bool version2);
// memory.max (version 2): nullopt for "max". memory.limit_in_bytes (version 1): nullopt for the
// huge value that stands for none.
std::optional<std::uint64_t> cgroupV2Limit(std::string_view memoryMax);
std::optional<std::uint64_t> cgroupV1Limit(std::string_view limitInBytes);
// The VmSize line of /proc/self/status, in bytes.
std::optional<std::uint64_t> mappedSizeIn(std::string_view procSelfStatus);
// The room under the address-space limit now (getrlimit and /proc/self/status), less what the
// program itself needs; nullopt without a limit.
std::optional<std::uint64_t> addressSpaceRoom();

class DecoderMemoryBudget {
public:
    // What a decoder may hold without a lease.
    static constexpr std::uint64_t UnleasedAllowance = std::uint64_t{2} << 20;

    explicit DecoderMemoryBudget(std::uint64_t capacity, std::uint64_t ceiling = UINT64_MAX);
    DecoderMemoryBudget(const DecoderMemoryBudget&) = delete;
    DecoderMemoryBudget& operator=(const DecoderMemoryBudget&) = delete;

    // The budget every thread of the process shares, made from readMemorySurroundings() when it is
    // first used.
    static DecoderMemoryBudget& shared();
    // Lowers the shared budget's capacity and ceiling to bytes (--memory); call it before any test.
    static void limitShared(std::uint64_t bytes);

    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        ~Lease();

        std::uint64_t bytes() const { return m_bytes; }
        explicit operator bool() const { return m_budget != nullptr; }
        void release();

    private:
        friend class DecoderMemoryBudget;
        enum class Kind : std::uint8_t { Plain, Directory, Growth };
        Lease(DecoderMemoryBudget* budget, std::uint64_t bytes, Kind kind)
            : m_budget(budget), m_bytes(bytes), m_kind(kind) {}
        DecoderMemoryBudget* m_budget = nullptr;
        std::uint64_t m_bytes = 0;
        Kind m_kind = Kind::Plain;
    };

    // Waits until bytes can be leased, calling keepWaiting from the waiting thread at least every
    // 25 ms; an empty lease when keepWaiting returned false. On the thread that holds the directory
    // lease, the lease returned is a growth of it (see above).
    Lease acquire(std::uint64_t bytes, const std::function<bool()>& keepWaiting);

    // A directory's lease: waits until no other thread holds one, then as acquire() does. The
    // calling thread must hold no lease. An empty lease when keepWaiting returned false.
    Lease acquireDirectory(std::uint64_t bytes, const std::function<bool()>& keepWaiting);
    // Adds bytes to a directory lease held by the calling thread, waiting as a growth does. False
    // (the lease unchanged) when keepWaiting returned false.
    bool growDirectory(Lease& lease, std::uint64_t bytes, const std::function<bool()>& keepWaiting);
    // True when the calling thread holds the directory lease.
    bool holdsDirectory() const;

    std::uint64_t capacity() const;
    std::uint64_t ceiling() const;
    // What a decoder could have now: the ceiling, or less when the address space has less room,
    // and never more than the physical memory. Meant for a request that runs alone, when the
    // others' leases are given back.
    std::uint64_t obtainable() const;
    std::uint64_t leased() const;
    // The most that was ever leased at once.
    std::uint64_t peakLeased() const;

private:
    void giveBack(std::uint64_t bytes, Lease::Kind kind);
    // Waits until granted() holds, in slices between which keepWaiting is asked whether to go on;
    // false when it said to stop.
    bool waitUntilGranted(std::unique_lock<std::mutex>& lock, const std::function<bool()>& granted,
                          const std::function<bool()>& keepWaiting);
    // Waits as a request that holds nothing; true once granted (the bytes are then counted).
    bool waitPlain(std::unique_lock<std::mutex>& lock, std::uint64_t bytes,
                   const std::function<bool()>& keepWaiting);
    // Waits as the directory holder's growth; true once granted.
    bool waitGrowth(std::unique_lock<std::mutex>& lock, std::uint64_t bytes,
                    const std::function<bool()>& keepWaiting);
    void grantLocked(std::uint64_t bytes);
    void limitTo(std::uint64_t bytes);

    std::uint64_t m_capacity;
    std::uint64_t m_ceiling;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::deque<std::uint64_t> m_queue; // tickets of the waiting requests, oldest first
    std::uint64_t m_nextTicket = 0;
    std::uint64_t m_leased = 0;
    std::uint64_t m_peak = 0;
    // The directory lease: its thread, the bytes that thread holds (the directory and its growths),
    // the requests waiting for it in order, and whether its growth is waiting (it goes first).
    std::thread::id m_directoryHolder;
    std::uint64_t m_holderBytes = 0;
    std::deque<std::uint64_t> m_directoryQueue;
    bool m_growthWaiting = false;
};

// Where a decoder's large state comes from: counts what the decoder holds and refuses what would
// take it beyond its allowance, remembering how much it would have needed. Blocks of a page or more
// are mapped straight from the system, so that their untouched pages take no memory and a freed
// block is given back at once instead of staying in the process's heap.
class DecoderHeap {
public:
    DecoderHeap() = default;
    DecoderHeap(const DecoderHeap&) = delete;
    DecoderHeap& operator=(const DecoderHeap&) = delete;
    ~DecoderHeap() = default; // every block must have been released by its owner

    void setAllowance(std::uint64_t bytes) { m_allowance = bytes; }
    std::uint64_t allowance() const { return m_allowance; }

    // nullptr when the allowance or the system refuses; never throws (libraries call it from C).
    void* allocate(std::size_t bytes) noexcept;
    void release(void* block) noexcept;

    std::uint64_t inUse() const { return m_inUse; }
    // After a refusal for the allowance: what the decoder would have held in all. Zero otherwise.
    std::uint64_t needed() const { return m_needed; }
    void clearNeeded() { m_needed = 0; }
    // True when the system had no memory for a request within the allowance; refusedNeed() is then
    // what the decoder would have held in all.
    bool systemRefused() const { return m_systemRefused; }
    std::uint64_t refusedNeed() const { return m_refusedNeed; }
    void clearSystemRefused() {
        m_systemRefused = false;
        m_refusedNeed = 0;
    }

    // The most this heap has held at once since it was made.
    std::uint64_t peakInUse() const { return m_peak; }

private:
    std::uint64_t m_allowance = DecoderMemoryBudget::UnleasedAllowance;
    std::uint64_t m_inUse = 0;
    std::uint64_t m_peak = 0;
    std::uint64_t m_needed = 0;
    std::uint64_t m_refusedNeed = 0;
    bool m_systemRefused = false;
};

} // namespace vellum
