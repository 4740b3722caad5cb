#include "engine/parallel_blocks.h"

#include "codecs/crc32.h"
#include "codecs/library/xz_blocks.h"
#include "engine/busy_threads.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

namespace vellum {

namespace {

// Below this an entry decodes in a fraction of a second on one thread; threads would save little.
constexpr std::uint64_t ParallelThreshold = 4 << 20;
// Each thread's window over the archive.
constexpr std::size_t ReadSize = 256 * 1024;
// The output pieces a block decoder checks, besides its window.
constexpr std::size_t OutputSize = 128 * 1024;
// How long the calling thread waits for a helper between two polls of its progress sink.
constexpr auto HelperPollInterval = std::chrono::milliseconds(10);
// The largest block header the format allows.
constexpr std::size_t LargestBlockHeader = 1024;

// Blocks found and not yet taken into the entry's CRC-32: enough that no thread waits for the
// reader. Only their headers are held; each thread reads a block's data as it decodes it.
std::size_t blocksInFlight(unsigned threads) {
    return std::size_t{threads} * 2;
}

struct BlockJob {
    enum class State { Waiting, Decoding, Done };
    std::uint64_t start = 0; // of the block's header, within the entry's data
    std::vector<std::uint8_t> header;
    XzBlockSpan span;
    State state = State::Waiting;
    bool decoded = false;
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
};

// What every thread needs to decode any block of the entry.
struct BlockSetting {
    std::uint64_t dataOffset;
    std::uint64_t entrySize;
    unsigned check;
};

// Decodes one block, reading its data through window: false when it is not a sound block, could
// not be read, or keepGoing said to stop.
bool decodeBlock(BlockJob& job, const BlockSetting& setting, XzBlockDecoder& decoder, ByteWindow& window,
                 const std::function<bool()>& keepGoing) {
    if (!decoder.start(job.header, setting.check, setting.entrySize))
        return false;
    std::uint64_t position = setting.dataOffset + job.start + job.header.size();
    std::uint64_t left = job.span.totalSize - job.header.size();
    XzBlockDecoder::Step step = XzBlockDecoder::Step::NeedsInput;
    while (left > 0 && step == XzBlockDecoder::Step::NeedsInput) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(left, window.capacity()));
        const auto data = window.view(position, length);
        if (!data)
            return false;
        position += length;
        left -= length;
        // A piece of highly compressed data can take long to expand: stop between output chunks.
        for (std::span<const std::uint8_t> input = *data;;) {
            std::size_t consumed = 0;
            step = decoder.decode(input, consumed);
            input = input.subspan(consumed);
            if (!keepGoing())
                return false;
            if (step != XzBlockDecoder::Step::OutputFull)
                break;
        }
    }
    job.crc = decoder.crc();
    job.length = decoder.length();
    return step == XzBlockDecoder::Step::Ended && left == 0;
}

// The blocks between the reader and the threads that decode them.
class BlockQueue {
public:
    void push(std::unique_ptr<BlockJob> job) {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
        m_changed.notify_all();
    }
    std::size_t size() {
        const std::lock_guard lock(m_mutex);
        return m_jobs.size();
    }
    // The oldest block no thread has taken, now taken; null when there is none. With wait, a helper
    // waits for one until the check ends.
    BlockJob* take(bool wait) {
        std::unique_lock lock(m_mutex);
        for (;;) {
            for (const std::unique_ptr<BlockJob>& job : m_jobs) {
                if (job->state == BlockJob::State::Waiting) {
                    job->state = BlockJob::State::Decoding;
                    return job.get();
                }
            }
            if (!wait || m_ended)
                return nullptr;
            m_changed.wait(lock);
        }
    }
    void finish(BlockJob& job, bool decoded) {
        const std::lock_guard lock(m_mutex);
        job.decoded = decoded;
        job.state = BlockJob::State::Done;
        m_changed.notify_all();
    }
    // The oldest block once it is decoded, removed; null while it is not.
    std::unique_ptr<BlockJob> popDone() {
        const std::lock_guard lock(m_mutex);
        if (m_jobs.empty() || m_jobs.front()->state != BlockJob::State::Done)
            return nullptr;
        std::unique_ptr<BlockJob> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        return job;
    }
    // Waits a while for a block to be decoded.
    void waitBriefly() {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, HelperPollInterval);
    }
    void end() {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }
    bool ended() {
        const std::lock_guard lock(m_mutex);
        return m_ended;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<BlockJob>> m_jobs;
    bool m_ended = false;
};

// The helpers, started while processors are idle and ended and waited for however the check leaves.
class Helpers {
public:
    Helpers(BlockQueue& queue, unsigned wanted, ByteSource& source, const BlockSetting& setting,
            std::uint64_t decoderMemory)
        : m_queue(queue), m_wanted(wanted), m_source(source), m_setting(setting),
          m_decoderMemory(decoderMemory) {}
    ~Helpers() {
        m_queue.end();
        for (std::future<void>& helper : m_running)
            helper.wait();
    }
    Helpers(const Helpers&) = delete;
    Helpers& operator=(const Helpers&) = delete;

    // Starts the helpers still wanted for which a processor is idle now.
    void startWhileIdle(BusyThreads& threads) {
        while (m_running.size() < m_wanted) {
            BusyThreads::Token token = threads.enterIfIdle();
            if (!token)
                return;
            try {
                m_running.push_back(
                    std::async(std::launch::async, [this, token = std::move(token)] { work(); }));
            } catch (...) {
                // No thread to be had: the calling thread decodes the blocks the helper would have.
                m_wanted = 0;
            }
        }
    }

private:
    void work() {
        const std::function<bool()> keepGoing = [this] { return !m_queue.ended(); };
        std::unique_ptr<XzBlockDecoder> decoder;
        std::unique_ptr<ByteWindow> window;
        try {
            decoder = std::make_unique<XzBlockDecoder>(m_decoderMemory);
            window = std::make_unique<ByteWindow>(ReadSize);
        } catch (...) {
            // Out of memory: the blocks this helper would have taken are left to the calling thread.
            return;
        }
        window->attach(&m_source);
        while (BlockJob* job = m_queue.take(true)) {
            bool decoded = false;
            try {
                decoded = decodeBlock(*job, m_setting, *decoder, *window, keepGoing);
            } catch (...) {
                // Out of memory: the block is undecided, and so is the entry.
            }
            m_queue.finish(*job, decoded);
        }
        window->attach(nullptr);
    }

    BlockQueue& m_queue;
    std::size_t m_wanted;
    ByteSource& m_source;
    const BlockSetting m_setting;
    const std::uint64_t m_decoderMemory;
    std::vector<std::future<void>> m_running;
};

// The entry's framing as it is read, and the blocks cut so far taken into the entry's CRC-32 in order.
class BlockReader {
public:
    explicit BlockReader(const ParallelBlockEntry& check)
        : m_check(check), m_frame(check.entry.uncompressedSize), m_setting{check.entry.dataOffset(),
                                                                           check.entry.uncompressedSize, 0} {}

    BlockCheck run() {
        const ZipEntryRecord& entry = m_check.entry;
        std::array<std::uint8_t, XzStreamFrame::StreamHeaderSize> header{};
        if (entry.compressedSize < header.size() || !m_check.window.copy(m_setting.dataOffset, header) ||
            !m_frame.readStreamHeader(header))
            return BlockCheck::Undecided;
        m_position = header.size();
        m_setting.check = m_frame.check();
        BlockQueue queue;
        if (!cutBlock(queue) || m_framingRead)
            return BlockCheck::Undecided;
        // The first block tells what each decoder holds. A stream of one or two blocks gains nothing.
        BlockJob* taken = queue.take(false);
        const XzBlockSpan& first = taken->span;
        if (first.uncompressedSize >= entry.uncompressedSize / 2)
            return BlockCheck::Undecided;
        const std::uint64_t decoderMemory = first.decoderMemory + DecoderMemoryBudget::UnleasedAllowance;
        const std::uint64_t memory =
            m_check.threads * (decoderMemory + OutputSize) + (m_check.threads - 1) * ReadSize;
        // When the budget has no room for the threads now, waiting would cost more than decoding on one.
        if (memory > m_check.budget.ceiling())
            return BlockCheck::Undecided;
        const DecoderMemoryBudget::Lease lease = m_check.budget.acquire(memory, [] { return false; });
        if (!lease)
            return BlockCheck::Undecided;
        XzBlockDecoder decoder(decoderMemory);
        const std::function<bool()> keepGoing = [this] { return poll(); };
        Helpers helpers(queue, m_check.threads - 1, m_check.source, m_setting, decoderMemory);
        for (;;) {
            helpers.startWhileIdle(BusyThreads::shared());
            // Blocks are found ahead of the threads, so that none waits while this one decodes.
            while (!m_framingRead && queue.size() < blocksInFlight(m_check.threads)) {
                if (!cutBlock(queue))
                    return m_verdict;
            }
            if (taken) {
                queue.finish(*taken, decodeBlock(*taken, m_setting, decoder, m_check.window, keepGoing));
                taken = nullptr;
                if (m_verdict == BlockCheck::Stopped)
                    return m_verdict;
            }
            while (std::unique_ptr<BlockJob> job = queue.popDone()) {
                if (!takeBlock(*job))
                    return m_verdict;
            }
            if (m_framingRead && queue.size() == 0)
                return finish();
            taken = queue.take(false);
            if (!taken) {
                queue.waitBriefly();
                if (!poll())
                    return BlockCheck::Stopped;
            }
        }
    }

private:
    bool poll() {
        if (m_check.progress.advance(static_cast<std::size_t>(m_check.index), 0))
            return true;
        m_verdict = BlockCheck::Stopped;
        return false;
    }

    // Counts the entry's data up to end as read.
    bool report(std::uint64_t end) {
        const std::uint64_t fresh = end > m_check.reported ? end - m_check.reported : 0;
        m_check.reported += fresh;
        if (m_check.progress.advance(static_cast<std::size_t>(m_check.index), fresh))
            return true;
        m_verdict = BlockCheck::Stopped;
        return false;
    }

    // Reads the block header at the reading position and hands its block to the queue, or notes
    // that the index begins there.
    bool cutBlock(BlockQueue& queue) {
        const std::uint64_t left = m_check.entry.compressedSize - m_position;
        std::array<std::uint8_t, LargestBlockHeader> header{};
        if (left == 0 || !m_check.window.copy(m_setting.dataOffset + m_position, std::span(header).first(1)))
            return false;
        const std::size_t headerSize = XzStreamFrame::blockHeaderSize(header[0]);
        if (headerSize == 0) {
            m_framingRead = true;
            return true;
        }
        if (headerSize > left ||
            !m_check.window.copy(m_setting.dataOffset + m_position, std::span(header).first(headerSize)))
            return false;
        const std::optional<XzBlockSpan> span = m_frame.readBlockHeader(std::span(header).first(headerSize));
        if (!span || span->totalSize > left)
            return false;
        auto job = std::make_unique<BlockJob>();
        job->start = m_position;
        job->header.assign(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(headerSize));
        job->span = *span;
        queue.push(std::move(job));
        m_position += span->totalSize;
        return true;
    }

    // Takes a decoded block into the entry's CRC-32, in stream order.
    bool takeBlock(const BlockJob& job) {
        if (!job.decoded)
            return false;
        m_crc = crc32Combine(m_crc, job.crc, job.length);
        m_produced += job.length;
        // Larger than declared: the serial decoder stops at the first byte too many, and says so.
        if (m_produced > m_check.entry.uncompressedSize)
            return false;
        return report(job.start + job.span.totalSize);
    }

    // Every block is in: the index and the footer must follow and end the entry's data.
    BlockCheck finish() {
        const ZipEntryRecord& entry = m_check.entry;
        for (XzStreamFrame::IndexState state = XzStreamFrame::IndexState::NeedsMore;
             state != XzStreamFrame::IndexState::Ended;) {
            const auto length = static_cast<std::size_t>(
                std::min<std::uint64_t>(entry.compressedSize - m_position, ReadSize));
            const auto input = m_check.window.view(m_setting.dataOffset + m_position, length);
            if (length == 0 || !input)
                return BlockCheck::Undecided;
            std::size_t consumed = 0;
            state = m_frame.readIndex(*input, consumed);
            m_position += consumed;
            if (state == XzStreamFrame::IndexState::Damaged)
                return BlockCheck::Undecided;
        }
        std::array<std::uint8_t, XzStreamFrame::StreamFooterSize> footer{};
        if (entry.compressedSize - m_position != footer.size() ||
            !m_check.window.copy(m_setting.dataOffset + m_position, footer) ||
            !m_frame.readStreamFooter(footer))
            return BlockCheck::Undecided;
        if (m_produced != entry.uncompressedSize || m_crc != entry.crc)
            return BlockCheck::Undecided;
        if (!report(entry.compressedSize))
            return m_verdict;
        return BlockCheck::Sound;
    }

    const ParallelBlockEntry& m_check;
    XzStreamFrame m_frame;
    BlockSetting m_setting;
    BlockCheck m_verdict = BlockCheck::Undecided;
    std::uint64_t m_position = 0; // the reading position in the entry's data
    bool m_framingRead = false;   // every block has been cut; the index begins at m_position
    std::uint32_t m_crc = 0;
    std::uint64_t m_produced = 0;
};

} // namespace

bool worthDecodingBlocksInParallel(const ZipEntryRecord& entry, unsigned threads) {
    return threads >= 2 && entry.method == zipformat::MethodXz && entry.compressedSize >= ParallelThreshold;
}

BlockCheck checkBlocksInParallel(const ParallelBlockEntry& check) {
    BlockReader reader(check);
    return reader.run();
}

} // namespace vellum
