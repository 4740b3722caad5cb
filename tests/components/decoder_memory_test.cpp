// The decoders' memory: the budget that entries needing much of it share, and archives whose
// streams declare a dictionary or window far beyond their content, good and damaged, which must be
// verified like any other rather than passed as unverifiable.

#include "decoder_memory.h"
#include "method_samples.h"
#include "zip_builder.h"
#include "zip_result.h"
#include "zip_tester.h"

#include <QTest>

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

QTEST_GUILESS_MAIN(DecoderMemoryTest)
#include "decoder_memory_test.moc"
