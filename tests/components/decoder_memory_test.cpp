// The decoders' memory: the budget that entries needing much of it share, and archives whose
// streams declare a dictionary or window far beyond their content, good and damaged, which must be
// verified like any other rather than passed as unverifiable.

#include "base/decoder_memory.h"
#include "codec_driver.h"
#include "codecs/codec_table.h"
#include "codecs/library/xz_codec.h"
#include "codecs/library/zstd_codec.h"
#include "condition_wait.h"
#include "method_samples.h"
#include "sample_data.h"
#include "zip/zip_result.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QTest>

#define ZSTD_STATIC_LINKING_ONLY
#include <lzma.h>
#include <zstd.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vellum;
using namespace vellum::testing;

namespace {

std::span<const std::uint8_t> asBytes(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// The first entry's data offset and compressed size, from its local header.
std::pair<std::size_t, std::size_t> firstData(const std::string& zip) {
    return {30u + readLe16(zip, 26) + readLe16(zip, 28), readLe32(zip, 18)};
}

// Keeps waiting for at most this long: a test that waits longer has met a deadlock.
std::function<bool()> patience(std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    return [until] { return std::chrono::steady_clock::now() < until; };
}

// The same patience, which also raises waited once the request has waited a whole slice without
// being granted: the sign that it stands in the queue.
std::function<bool()> patienceTelling(std::atomic<bool>& waited) {
    return [&waited, keepWaiting = patience()] {
        waited = true;
        return keepWaiting();
    };
}

// A Zstandard frame of data with a window of 2^windowLog bytes and, when withSize is false, no
// content size, as zstd writes one from a pipe.
std::string zstdFrame(const std::string& data, int windowLog, bool withSize) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 3);
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, withSize ? 1 : 0);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    std::string out(ZSTD_compressBound(data.size()), '\0');
    ZSTD_outBuffer output{out.data(), out.size(), 0};
    ZSTD_inBuffer input{data.data(), data.size(), 0};
    // Streamed, so that the frame is written as a pipe's would be, whatever the size flag says.
    while (ZSTD_compressStream2(context, &output, &input, ZSTD_e_end) != 0) {
    }
    ZSTD_freeCCtx(context);
    out.resize(output.pos);
    return out;
}

// An xz stream of data whose block header declares a dictionary of dictionarySize bytes.
std::string xzStream(const std::string& data, std::uint32_t dictionarySize) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 1);
    options.dict_size = dictionarySize;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string out(lzma_stream_buffer_bound(data.size()), '\0');
    std::size_t written = 0;
    const lzma_ret result =
        lzma_stream_buffer_encode(const_cast<lzma_filter*>(filters), LZMA_CHECK_CRC64, nullptr,
                                  reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                                  reinterpret_cast<std::uint8_t*>(out.data()), &written, out.size());
    if (result != LZMA_OK)
        qFatal("xz encoding failed");
    out.resize(written);
    return out;
}

// Text that does not repeat within a few megabytes, so that a window is really used.
std::string varied(std::size_t length) {
    std::string text;
    for (unsigned seed = 1; text.size() < length; ++seed)
        text += sampleText(64 * 1024, seed);
    text.resize(length);
    return text;
}

// Drives codec over stream with allowance bytes to start with; what it asked for and held.
struct MemoryRun {
    testing::Decoded decoded;
    std::uint64_t needed = 0; // the last request beyond the allowance, 0 when there was none
};

MemoryRun decodeWith(ZipCodec& codec, const CodecEntry& entry, const std::string& stream,
                     std::uint64_t allowance, std::size_t inputPiece = 1 << 16,
                     std::size_t outputPiece = 1 << 16) {
    MemoryRun run;
    CodecEntry allowed = entry;
    allowed.memoryAllowance = allowance;
    for (;;) {
        std::uint64_t needed = 0;
        run.decoded = testing::decodeOnce(codec, allowed, stream, inputPiece, outputPiece, needed);
        if (needed == 0 || needed <= allowed.memoryAllowance)
            return run;
        run.needed = needed;
        codec.releaseMemory();
        allowed.memoryAllowance = needed;
    }
}

struct CodecItem {
    CodecEntry entry;
    std::uint32_t crc = 0;
};

} // namespace

class DecoderMemoryTest : public QObject {
    Q_OBJECT

private slots:
    void leasesWaitForRoom();
    void requestBeyondTheBudgetRunsAlone();
    void givingUpLeavesTheQueue();
    void heapRefusesBeyondItsAllowance();
    void largeDeclarationsAreVerified_data();
    void largeDeclarationsAreVerified();
    void directoryLeasesAreHeldOneAtATime();
    void holderGrowsItsLeaseFirst();
    void holdersNeverWaitForEachOther();
    void declaredWindowsAreNeverAllocated_data();
    void declaredWindowsAreNeverAllocated();
    void zstdWindowIsBoundedByTheEntry_data();
    void zstdWindowIsBoundedByTheEntry();
    void xzDictionaryIsBoundedByTheEntry();
    void largeDirectoryWithLargeDecoder();
    void limitsComeFromTheSurroundings();
    void systemFilesAreParsed();
};

// A lease that does not fit waits; it is granted once the one before it is given back.
void DecoderMemoryTest::leasesWaitForRoom() {
    DecoderMemoryBudget budget(100);
    auto first = budget.acquire(60, [] { return true; });
    QVERIFY(first);
    int polls = 0;
    auto second = budget.acquire(60, [&] {
        ++polls;
        first.release();
        return true;
    });
    QVERIFY(second);
    QCOMPARE(polls, 1);
    QCOMPARE(budget.leased(), std::uint64_t{60});
    QCOMPARE(budget.peakLeased(), std::uint64_t{60});
    second.release();
    QCOMPARE(budget.leased(), std::uint64_t{0});
}

// More than the whole budget is never refused: it waits until nothing else is leased.
void DecoderMemoryTest::requestBeyondTheBudgetRunsAlone() {
    DecoderMemoryBudget budget(100);
    auto small = budget.acquire(10, [] { return true; });
    auto huge = budget.acquire(500, [&] {
        small.release();
        return true;
    });
    QVERIFY(huge);
    QCOMPARE(budget.leased(), std::uint64_t{500});
    // While it runs, nothing else gets in.
    int polls = 0;
    auto after = budget.acquire(1, [&] { return ++polls < 3; });
    QVERIFY(!after);
    huge.release();
    QVERIFY(budget.acquire(100, [] { return false; }));
}

// A waiter that gives up is no longer in line, so the ones after it are not held up.
void DecoderMemoryTest::givingUpLeavesTheQueue() {
    DecoderMemoryBudget budget(100);
    auto held = budget.acquire(100, [] { return true; });
    QVERIFY(!budget.acquire(50, [] { return false; }));
    held.release();
    QVERIFY(budget.acquire(50, [] { return false; }));
    QCOMPARE(budget.leased(), std::uint64_t{0});
}

void DecoderMemoryTest::heapRefusesBeyondItsAllowance() {
    DecoderHeap heap;
    heap.setAllowance(1 << 20);
    void* small = heap.allocate(1000);
    QVERIFY(small);
    QVERIFY(!heap.allocate(std::size_t{1} << 20));
    QVERIFY(heap.needed() > heap.allowance());
    QVERIFY(!heap.systemRefused());
    void* mapped = heap.allocate(512 * 1024);
    QVERIFY(mapped);
    static_cast<std::uint8_t*>(mapped)[512 * 1024 - 1] = 1;
    heap.release(small);
    heap.release(mapped);
    QCOMPARE(heap.inUse(), std::uint64_t{0});
    QVERIFY(heap.peakInUse() > 512 * 1024);
}

void DecoderMemoryTest::largeDeclarationsAreVerified_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("flips");
    QTest::addColumn<int>("result");
    // A Zstandard frame that declares a 1 GiB window and an xz block with a 4 GiB dictionary, over a
    // few bytes of content; and a PPMd stream made at 64 MiB, patched to declare 256 MiB.
    for (const char* file : {"zstd-window-1gib.zip", "xz-dict-4gib.zip", "ppmd-o16-64m.zip-256m"}) {
        QTest::addRow("%s good", file) << QString::fromLatin1(file) << 0 << int{ZipResult::Verified};
        QTest::addRow("%s damaged", file) << QString::fromLatin1(file) << 8 << int{ZipResult::DataMismatch};
    }
}

// Good, each verifies; with bytes flipped in the second half of its stream, each is bad.
void DecoderMemoryTest::largeDeclarationsAreVerified() {
    QFETCH(QString, file);
    QFETCH(int, flips);
    QFETCH(int, result);
    const bool patchedPpmd = file.endsWith(QStringLiteral("-256m"));
    std::string zip = readMethodSample(patchedPpmd ? file.chopped(5) : file);
    const auto [data, length] = firstData(zip);
    if (patchedPpmd)
        zip[data + 1] = static_cast<char>((zip[data + 1] & 0xF0) | 0x0F); // memory field: 255 + 1 MiB
    for (int flip = 0; flip < flips; ++flip)
        zip[data + length / 2 + static_cast<std::size_t>(flip) * (length / 2) / 8] ^= 0x55;
    ZipTester tester;
    const std::int16_t verify = tester.verifyBytes(asBytes(zip));
    if (result == ZipResult::Verified)
        QCOMPARE(int{verify}, result);
    else
        QVERIFY2(verify == ZipResult::DataMismatch || verify == ZipResult::StreamDamaged,
                 qPrintable(QString::number(verify)));
}

// A directory lease is one thread's at a time: another thread asking for one waits, holding
// nothing, until it is given back.
void DecoderMemoryTest::directoryLeasesAreHeldOneAtATime() {
    DecoderMemoryBudget budget(100);
    auto first = budget.acquireDirectory(30, patience());
    QVERIFY(first);
    QVERIFY(budget.holdsDirectory());
    std::atomic<bool> secondWaited{false};
    std::atomic<bool> secondGranted{false};
    std::atomic<bool> secondHolds{false};
    std::thread other([&] {
        auto second = budget.acquireDirectory(30, patienceTelling(secondWaited));
        secondGranted = static_cast<bool>(second);
        secondHolds = budget.holdsDirectory();
    });
    // Room for it, but not its turn: the first is still held.
    const bool waited = waitUntil([&] { return secondWaited.load(); });
    QVERIFY(!secondGranted);
    QVERIFY(waited);
    // Growing the lease counts it, and it still goes back whole.
    QVERIFY(budget.growDirectory(first, 20, patience()));
    QCOMPARE(first.bytes(), std::uint64_t{50});
    QCOMPARE(budget.leased(), std::uint64_t{50});
    first.release();
    other.join();
    QVERIFY(secondGranted);
    QVERIFY(secondHolds);
    QCOMPARE(budget.leased(), std::uint64_t{0});
    QVERIFY(!budget.holdsDirectory());
}

// On the holder's thread a decoder's lease grows the directory's: it waits only for the others'
// leases, goes before every request that waits, and runs alone when both are more than the budget.
void DecoderMemoryTest::holderGrowsItsLeaseFirst() {
    DecoderMemoryBudget budget(100);
    auto directory = budget.acquireDirectory(80, patience());
    std::atomic<bool> plainGranted{false};
    std::atomic<bool> growthWaited{false};
    std::atomic<bool> laterWaited{false};
    std::atomic<bool> laterGrantedEarly{false};
    std::atomic<bool> laterGranted{false};
    std::thread others([&] {
        auto plain = budget.acquire(15, patience());
        plainGranted = true;
        // Once the holder's growth waits, a request that would fit beside the others waits
        // behind it.
        if (waitUntil([&] { return growthWaited.load(); })) {
            std::thread later(
                [&] { laterGranted = static_cast<bool>(budget.acquire(5, patienceTelling(laterWaited))); });
            laterGrantedEarly = !waitUntil([&] { return laterWaited.load(); }) || laterGranted.load();
            plain.release();
            later.join();
        }
    });
    const bool plainFirst = waitUntil([&] { return plainGranted.load(); });
    auto decoder = budget.acquire(30, patienceTelling(growthWaited));
    QVERIFY(decoder);
    // 110 in all: more than the budget, so it came once the others had given theirs back.
    QCOMPARE(budget.leased(), std::uint64_t{110});
    QCOMPARE(budget.peakLeased(), std::uint64_t{110});
    decoder.release();
    directory.release();
    others.join();
    QVERIFY(plainFirst);
    QVERIFY(!laterGrantedEarly);
    QVERIFY(laterGranted);
    QCOMPARE(budget.leased(), std::uint64_t{0});
}

// Many threads, each taking a directory lease and then a decoder lease (grown onto it) or plain
// leases only, over a budget too small for two of them at once: every one gets through.
void DecoderMemoryTest::holdersNeverWaitForEachOther() {
    DecoderMemoryBudget budget(100);
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 6; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 20; ++round) {
                if (thread % 2 == 0) {
                    auto directory = budget.acquireDirectory(60 + thread, patience());
                    if (!directory)
                        return;
                    if (!budget.growDirectory(directory, 10, patience()))
                        return;
                    auto decoder = budget.acquire(70, patience());
                    if (!decoder)
                        return;
                } else {
                    auto decoder = budget.acquire(30 + 10 * thread, patience());
                    if (!decoder)
                        return;
                    decoder.release();
                    // More than the whole budget: it runs alone.
                    if (!budget.acquire(150, patience()))
                        return;
                }
            }
            ++done;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(done.load(), 6);
    QCOMPARE(budget.leased(), std::uint64_t{0});
}

void DecoderMemoryTest::declaredWindowsAreNeverAllocated_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("zstd, 1 GiB window") << QStringLiteral("zstd-window-1gib.zip");
    QTest::newRow("xz, 4 GiB dictionary") << QStringLiteral("xz-dict-4gib.zip");
}

// A stream declaring a window or dictionary far beyond its entry decodes within the free allowance,
// holding no more than the entry's size and a block besides the decoder's own state.
void DecoderMemoryTest::declaredWindowsAreNeverAllocated() {
    QFETCH(QString, file);
    const std::string zip = readMethodSample(file);
    const auto [data, length] = firstData(zip);
    CodecEntry entry;
    entry.method = static_cast<std::uint16_t>(readLe16(zip, 8));
    entry.compressedSize = length;
    entry.uncompressedSize = readLe32(zip, 22);
    std::vector<std::uint8_t> buffer(1 << 16);
    CodecTable table(buffer);
    ZipCodec* codec = table.find(entry.method);
    QVERIFY(codec);
    const MemoryRun run =
        decodeWith(*codec, entry, zip.substr(data, length), DecoderMemoryBudget::UnleasedAllowance);
    QCOMPARE(run.needed, std::uint64_t{0});
    QCOMPARE(run.decoded.output.size(), entry.uncompressedSize);
    QCOMPARE(crc32Of(run.decoded.output), readLe32(zip, 14));
    const DecoderHeap& heap =
        entry.method == 95 ? static_cast<XzCodec*>(codec)->heap() : static_cast<ZstdCodec*>(codec)->heap();
    QVERIFY2(heap.peakInUse() < entry.uncompressedSize + (512u << 10),
             qPrintable(QString::number(heap.peakInUse())));
    codec->releaseMemory();
}

void DecoderMemoryTest::zstdWindowIsBoundedByTheEntry_data() {
    QTest::addColumn<int>("windowLog");
    QTest::addColumn<bool>("withSize");
    QTest::addColumn<int>("declaredChange"); // added to the entry's declared size
    QTest::addColumn<int>("result");
    QTest::newRow("128 MiB window, no content size") << 27 << false << 0 << int{ZipResult::Verified};
    QTest::newRow("128 MiB window, content size") << 27 << true << 0 << int{ZipResult::Verified};
    QTest::newRow("1 MiB window over 6 MiB: a round window") << 20 << false << 0 << int{ZipResult::Verified};
    QTest::newRow("128 MiB window, entry declares 1 MiB less")
        << 27 << false << -(1 << 20) << int{ZipResult::DataMismatch};
    QTest::newRow("content size above the entry's")
        << 27 << true << -(1 << 20) << int{ZipResult::DataMismatch};
    QTest::newRow("128 MiB window, entry declares more")
        << 27 << false << 4096 << int{ZipResult::DataMismatch};
}

// Frames written with windows far larger than their content verify (or are found bad exactly as
// before), and the decoder asks for no more than the entry can produce, not for the window.
void DecoderMemoryTest::zstdWindowIsBoundedByTheEntry() {
    QFETCH(int, windowLog);
    QFETCH(bool, withSize);
    QFETCH(int, declaredChange);
    QFETCH(int, result);
    const std::string data = varied(6u << 20);
    const std::string frame = zstdFrame(data, windowLog, withSize);
    ZipBuilderEntry entry{"big.txt", data, 93};
    entry.compressedData = frame;
    BuiltZip zip = buildZip({entry});
    const std::uint64_t declared = data.size() + static_cast<std::int64_t>(declaredChange);
    patchLe32(zip.bytes, zip.entries[0].localHeaderOffset + 22, static_cast<std::uint32_t>(declared));
    patchLe32(zip.bytes, zip.entries[0].centralHeaderOffset + 24, static_cast<std::uint32_t>(declared));
    ZipTester tester;
    const std::int16_t verify = tester.verifyBytes(asBytes(zip.bytes));
    QCOMPARE(int{verify}, result);

    // What the decoder asks for: the entry's size and a block or two, not the declared window.
    std::vector<std::uint8_t> buffer(1 << 16);
    ZstdCodec codec(buffer);
    CodecEntry codecEntry;
    codecEntry.method = 93;
    codecEntry.compressedSize = frame.size();
    codecEntry.uncompressedSize = declared;
    for (const auto& [inputPiece, outputPiece] :
         {std::pair<std::size_t, std::size_t>{1 << 16, 1 << 16}, {777, 333}}) {
        const MemoryRun run = decodeWith(codec, codecEntry, frame, 4096, inputPiece, outputPiece);
        QVERIFY(run.needed > 4096);
        QVERIFY2(run.needed < std::min<std::uint64_t>(declared, std::uint64_t{1} << windowLog) + (1u << 20),
                 qPrintable(QString::number(run.needed)));
        if (result == ZipResult::Verified)
            QVERIFY(run.decoded.output == data);
        codec.releaseMemory();
    }
}

// An xz block declaring a 64 MiB dictionary over 3 MiB: the decoder asks for about 3 MiB.
void DecoderMemoryTest::xzDictionaryIsBoundedByTheEntry() {
    const std::string data = varied(3u << 20);
    const std::string stream = xzStream(data, 64u << 20);
    ZipBuilderEntry entry{"big.txt", data, 95};
    entry.compressedData = stream;
    const BuiltZip zip = buildZip({entry});
    ZipTester tester;
    QCOMPARE(int{tester.verifyBytes(asBytes(zip.bytes))}, int{ZipResult::Verified});
    std::vector<std::uint8_t> buffer(1 << 16);
    XzCodec codec(buffer);
    CodecEntry codecEntry;
    codecEntry.method = 95;
    codecEntry.compressedSize = stream.size();
    codecEntry.uncompressedSize = data.size();
    const MemoryRun run = decodeWith(codec, codecEntry, stream, 4096, 1000, 4096);
    QVERIFY(run.needed > data.size());
    QVERIFY2(run.needed < data.size() + (1u << 20), qPrintable(QString::number(run.needed)));
    QVERIFY(run.decoded.output == data);
    QVERIFY(codec.heap().peakInUse() < data.size() + (1u << 20));
    codec.releaseMemory();
}

// An archive of 250,000 entries holds a directory lease; its PPMd entry, needing a 64 MiB model,
// grows that lease on the same thread. Two such archives tested at once on two threads both verify:
// the second waits for the first's directory, and nothing waits for ever.
void DecoderMemoryTest::largeDirectoryWithLargeDecoder() {
    const std::string sample = readMethodSample(QStringLiteral("ppmd-o16-64m.zip"));
    const auto [data, length] = firstData(sample);
    std::vector<ZipBuilderEntry> entries;
    entries.reserve(250001);
    for (int index = 0; index < 250000; ++index)
        entries.push_back({std::to_string(index), std::string(1 + index % 3, 'x'), 0});
    // The sample's entry as it is: its stream, and the content it decodes to.
    std::vector<std::uint8_t> buffer(1 << 16);
    CodecTable table(buffer);
    CodecEntry ppmd;
    ppmd.method = 98;
    ppmd.flags = static_cast<std::uint16_t>(readLe16(sample, 6));
    ppmd.compressedSize = length;
    ppmd.uncompressedSize = readLe32(sample, 22);
    ppmd.memoryAllowance = std::uint64_t{256} << 20;
    const testing::Decoded content = testing::decodeInPieces(
        *table.find(98), ppmd, std::string_view(sample).substr(data, length), 1 << 16, 1 << 16);
    QCOMPARE(content.output.size(), ppmd.uncompressedSize);
    table.find(98)->releaseMemory();
    ZipBuilderEntry model{"model.txt", content.output, 98};
    model.compressedData = sample.substr(data, length);
    model.extraFlags = ppmd.flags;
    entries.push_back(model);
    const BuiltZip zip = buildZip(entries);

    std::array<std::int16_t, 2> results{-1, -1};
    std::array<std::thread, 2> testers;
    for (std::size_t index = 0; index < testers.size(); ++index) {
        testers[index] = std::thread([&, index] {
            ZipTester tester;
            results[index] = tester.verifyBytes(asBytes(zip.bytes));
        });
    }
    for (std::thread& tester : testers)
        tester.join();
    QCOMPARE(int{results[0]}, int{ZipResult::Verified});
    QCOMPARE(int{results[1]}, int{ZipResult::Verified});
    QCOMPARE(DecoderMemoryBudget::shared().leased(), std::uint64_t{0});
}

// The capacity is shared at once; the ceiling is all one decoder can have, less the program's own
// margin of 128 MiB under a limit that counts the whole process.
void DecoderMemoryTest::limitsComeFromTheSurroundings() {
    constexpr std::uint64_t MiB = 1 << 20;
    constexpr std::uint64_t None = UINT64_MAX;
    struct Row {
        MemorySurroundings surroundings;
        std::uint64_t capacity, ceiling;
    };
    const Row rows[] = {
        {{16384 * MiB, {}, {}, 0, {}}, 1024 * MiB, None},
        {{2048 * MiB, {}, {}, 0, {}}, 512 * MiB, None},
        {{0, {}, {}, 0, {}}, 1024 * MiB, None},
        {{16384 * MiB, 512 * MiB, {}, 0, {}}, 384 * MiB, 384 * MiB},
        {{16384 * MiB, {}, 1024 * MiB, 200 * MiB, {}}, 696 * MiB, 696 * MiB},
        {{16384 * MiB, {}, 100 * MiB, 200 * MiB, {}}, 0, 0},
        {{16384 * MiB, 8192 * MiB, {}, 0, 64 * MiB}, 64 * MiB, 64 * MiB},
        {{16384 * MiB, {}, {}, 0, 4096 * MiB}, 1024 * MiB, 4096 * MiB},
    };
    for (const Row& row : rows) {
        const DecoderMemoryLimits limits = decoderMemoryLimits(row.surroundings);
        QCOMPARE(limits.capacity, row.capacity);
        QCOMPARE(limits.ceiling, row.ceiling);
    }
}

void DecoderMemoryTest::systemFilesAreParsed() {
    const std::string_view mixed = "12:memory:/docker/abc\n11:cpu,cpuacct:/docker/abc\n0::/\n";
    QVERIFY(cgroupPathIn(mixed, false) == std::optional<std::string>("/docker/abc"));
    QVERIFY(cgroupPathIn(mixed, true) == std::optional<std::string>("/"));
    QVERIFY(cgroupPathIn("0::/user.slice/run.scope\n", true) ==
            std::optional<std::string>("/user.slice/run.scope"));
    QVERIFY(cgroupPathIn("0::/user.slice/run.scope\n", false) == std::nullopt);
    QVERIFY(cgroupPathIn("4:cpuacct,memory:/x", false) == std::optional<std::string>("/x"));
    QVERIFY(cgroupPathIn("4:memoryless:/y\n", false) == std::nullopt);
    QVERIFY(cgroupV2Limit("max\n") == std::nullopt);
    QVERIFY(cgroupV2Limit("536870912\n") == std::optional<std::uint64_t>(536870912));
    QVERIFY(cgroupV2Limit("") == std::nullopt);
    QVERIFY(cgroupV1Limit("9223372036854771712\n") == std::nullopt);
    QVERIFY(cgroupV1Limit("1073741824\n") == std::optional<std::uint64_t>(1073741824));
    QVERIFY(mappedSizeIn("Name:\tvellum\nVmPeak:\t    2000 kB\nVmSize:\t    1234 kB\n") ==
            std::optional<std::uint64_t>(1234 * 1024));
    QVERIFY(mappedSizeIn("VmSize: 10 kB") == std::optional<std::uint64_t>(10240));
    QVERIFY(mappedSizeIn("Name:\tvellum\nVmPeak:\t2000 kB\n") == std::nullopt);
}

QTEST_GUILESS_MAIN(DecoderMemoryTest)
#include "decoder_memory_test.moc"
