// The compact entry records: every value comes back as it went in, whether it fits the packed form
// or not; the file order is kept only when it differs from the directory's; and a table beyond its
// free allowance holds a directory lease of exactly what it maps, given back when it is cleared.

#include "condition_wait.h"
#include "structure/entry_table.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

using namespace vellum;
using namespace vellum::testing;

namespace {

std::function<bool()> patience() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    return [until] { return std::chrono::steady_clock::now() < until; };
}

bool sameRecord(const ZipEntryRecord& left, const ZipEntryRecord& right) {
    return left.centralHeaderOffset == right.centralHeaderOffset &&
           left.localHeaderOffset == right.localHeaderOffset && left.compressedSize == right.compressedSize &&
           left.uncompressedSize == right.uncompressedSize && left.nameHash == right.nameHash &&
           left.crc == right.crc && left.dataDelta == right.dataDelta && left.method == right.method &&
           left.flags == right.flags && left.nameLength == right.nameLength &&
           left.descriptorLength == right.descriptorLength && left.zip64 == right.zip64 &&
           left.matchesFilter == right.matchesFilter && left.unlocatable == right.unlocatable &&
           left.damaged == right.damaged && left.spanKnown == right.spanKnown &&
           left.dosDateTime == right.dosDateTime && left.versionNeeded == right.versionNeeded &&
           left.copiedFieldsDigest == right.copiedFieldsDigest;
}

// A record with every field set from random, in the ranges the parser gives them; `wide` picks
// values that do not fit the packed form.
ZipEntryRecord randomRecord(std::mt19937_64& random, std::uint64_t directoryStart, std::uint64_t index,
                            bool wide) {
    ZipEntryRecord record;
    record.centralHeaderOffset = directoryStart + index * 60 + (wide && index % 5 == 0 ? 5ull << 32 : 0);
    record.localHeaderOffset =
        wide && index % 5 == 1 ? (1ull << 48) + random() % 1000 : random() % (1ull << 47);
    record.compressedSize = wide && index % 5 == 2 ? (5ull << 32) + random() % 1000 : random() % (1ull << 32);
    record.uncompressedSize = wide && index % 5 == 3 ? UINT64_MAX - random() % 1000 : random() % (1ull << 32);
    record.nameHash = static_cast<std::uint32_t>(random());
    record.crc = static_cast<std::uint32_t>(random());
    record.method = static_cast<std::uint16_t>(random() % 4 == 0 ? random() : 8);
    record.flags = static_cast<std::uint16_t>(random() % 3 == 0 ? random() : 0x0800);
    record.versionNeeded = static_cast<std::uint16_t>(20 + random() % 3);
    record.nameLength = static_cast<std::uint16_t>(random());
    record.dosDateTime = static_cast<std::uint32_t>(random());
    record.copiedFieldsDigest = static_cast<std::uint16_t>(random());
    record.zip64 = random() % 2;
    record.matchesFilter = random() % 2;
    record.unlocatable = random() % 7 == 0;
    record.damaged = random() % 2;
    return record;
}

} // namespace

class EntryTableTest : public QObject {
    Q_OBJECT

private slots:
    void recordsComeBackWhole();
    void checkedFieldsAreStored();
    void orderFollowsTheFile();
    void largeTablesLeaseWhatTheyMap();
};

// Narrow and wide records, and more kinds of method, flags and version than the packed form has
// room for, all come back exactly.
void EntryTableTest::recordsComeBackWhole() {
    DecoderMemoryBudget budget(std::uint64_t{1} << 30);
    EntryTable table(budget);
    for (const bool wide : {false, true}) {
        std::mt19937_64 random(wide ? 7 : 3);
        const std::uint64_t directoryStart = 123456789;
        table.clear(directoryStart);
        std::vector<ZipEntryRecord> records;
        for (std::uint64_t index = 0; index < 30000; ++index) {
            records.push_back(randomRecord(random, directoryStart, index, wide));
            QVERIFY(table.push(records.back(), patience()));
        }
        QCOMPARE(table.size(), records.size());
        for (std::size_t index = 0; index < records.size(); ++index) {
            QVERIFY2(sameRecord(table[index], records[index]), qPrintable(QString::number(index)));
            QCOMPARE(table.localHeaderOffset(index), records[index].localHeaderOffset);
            QCOMPARE(table.unlocatable(index), records[index].unlocatable);
        }
    }
    // 30,000 entries of one kind take 40 bytes each, in whole blocks of 160 KiB.
    EntryTable fresh(budget);
    ZipEntryRecord record;
    for (std::uint64_t index = 0; index < 30000; ++index) {
        record.localHeaderOffset = index * 100;
        QVERIFY(fresh.push(record, patience()));
    }
    QCOMPARE(fresh.bytesHeld(), std::uint64_t{8 * 160 * 1024});
}

// What the local header check finds is stored back, and a span is where the record says.
void EntryTableTest::checkedFieldsAreStored() {
    DecoderMemoryBudget budget(std::uint64_t{1} << 30);
    EntryTable table(budget);
    std::mt19937_64 random(5);
    for (const bool wide : {false, true}) {
        table.clear();
        std::vector<ZipEntryRecord> records;
        for (std::uint64_t index = 0; index < 1000; ++index) {
            records.push_back(randomRecord(random, 0, index, wide));
            QVERIFY(table.push(records.back(), patience()));
        }
        for (std::size_t index = 0; index < records.size(); ++index) {
            ZipEntryRecord& record = records[index];
            record.localHeaderOffset -= record.localHeaderOffset / 3;
            record.dataDelta = static_cast<std::uint32_t>(30 + random() % (2 * 0xFFFF));
            record.descriptorLength = static_cast<std::uint8_t>(std::array{0, 12, 16, 20, 24}[random() % 5]);
            record.spanKnown = random() % 2;
            record.damaged = random() % 2;
            table.update(index, record);
        }
        for (std::size_t index = 0; index < records.size(); ++index) {
            const ZipEntryRecord& record = records[index];
            QVERIFY(sameRecord(table[index], record));
            std::uint64_t start = 0;
            std::uint64_t end = 0;
            QCOMPARE(table.span(index, start, end), record.spanKnown);
            if (record.spanKnown) {
                QCOMPARE(start, record.localHeaderOffset);
                QCOMPARE(end, record.spanEnd());
            }
            table.markDamaged(index);
            QVERIFY(table[index].damaged);
        }
    }
}

// The locatable entries in the order of their offsets, ties in directory order; unlocatable ones
// left out. A directory in file order keeps no order of its own.
void EntryTableTest::orderFollowsTheFile() {
    DecoderMemoryBudget budget(std::uint64_t{1} << 30);
    EntryTable table(budget);
    const auto orderOf = [&] {
        std::vector<std::uint32_t> order;
        for (const std::uint32_t index : table.order())
            order.push_back(index);
        return order;
    };
    // Fills the table and arranges it; the bytes the order took, or UINT64_MAX on a failure.
    const auto fill = [&](const std::vector<std::uint64_t>& offsets, const std::vector<bool>& unlocatable) {
        table.clear();
        for (std::size_t index = 0; index < offsets.size(); ++index) {
            ZipEntryRecord record;
            record.localHeaderOffset = offsets[index];
            record.unlocatable = unlocatable[index];
            if (!table.push(record, patience()))
                return UINT64_MAX;
        }
        const std::uint64_t before = table.bytesHeld();
        if (!table.arrangeByOffset(patience()))
            return UINT64_MAX;
        return table.bytesHeld() - before;
    };
    QCOMPARE(fill({10, 20, 0, 30, 40}, {false, false, true, false, false}), std::uint64_t{0});
    QCOMPARE(orderOf(), (std::vector<std::uint32_t>{0, 1, 3, 4}));
    const std::uint64_t orderBytes = fill({50, 20, 0, 20, 10, 70}, {false, false, true, false, false, false});
    QVERIFY(orderBytes > 0 && orderBytes != UINT64_MAX);
    QCOMPARE(orderOf(), (std::vector<std::uint32_t>{4, 1, 3, 0, 5}));
    QVERIFY(fill({5, 5, 5}, {true, true, true}) == 0);
    QVERIFY(orderOf().empty());
    table.clear();
    QVERIFY(orderOf().empty());
}

// Beyond its free allowance a table leases all it maps as a directory lease, one table at a time,
// and gives it back when cleared.
void EntryTableTest::largeTablesLeaseWhatTheyMap() {
    DecoderMemoryBudget budget(std::uint64_t{256} << 20);
    EntryTable table(budget);
    ZipEntryRecord record;
    std::size_t pushed = 0;
    while (!table.leased()) {
        record.localHeaderOffset = pushed * 40;
        QVERIFY(table.push(record, patience()));
        ++pushed;
    }
    QVERIFY(table.bytesHeld() > EntryTable::FreeAllowance);
    QCOMPARE(budget.leased(), table.bytesHeld());
    for (int more = 0; more < 100000; ++more, ++pushed) {
        record.localHeaderOffset = pushed * 40;
        QVERIFY(table.push(record, patience()));
    }
    QCOMPARE(budget.leased(), table.bytesHeld());

    // Another table beyond its allowance waits until this one is cleared. Its patience is asked
    // only once its request has waited a whole slice without being granted.
    std::atomic<bool> otherLeased{false};
    std::atomic<bool> otherWaited{false};
    std::atomic<std::uint64_t> otherHeld{0};
    std::thread other([&] {
        EntryTable second(budget);
        ZipEntryRecord entry;
        const std::function<bool()> waitedPatiently = [&, patient = patience()] {
            otherWaited = true;
            return patient();
        };
        while (!second.leased()) {
            if (!second.push(entry, waitedPatiently))
                return;
        }
        otherLeased = true;
        otherHeld = second.bytesHeld();
    });
    const bool waited = waitUntil([&] { return otherWaited.load() || otherLeased.load(); });
    const bool leasedBeforeClear = otherLeased;
    table.clear();
    other.join();
    QVERIFY(waited);
    QVERIFY(!leasedBeforeClear);
    QVERIFY(otherLeased);
    QVERIFY(otherHeld > EntryTable::FreeAllowance);
    // Cleared, the table keeps no more than its free allowance, and no lease.
    QVERIFY(table.bytesHeld() <= EntryTable::FreeAllowance);
    QVERIFY(!table.leased());
    QCOMPARE(budget.leased(), std::uint64_t{0});
}

QTEST_GUILESS_MAIN(EntryTableTest)
#include "entry_table_test.moc"
