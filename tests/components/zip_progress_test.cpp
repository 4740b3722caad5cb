// Progress, yielding and abort: the window stays responsive because the component yields often
// enough, reports completion sensibly, and stops promptly when the yield callback sets abort.

#include "base/progress_pacer.h"
#include "due_yield.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QTest>

#include <algorithm>
#include <set>

using namespace vellum;
using namespace vellum::testing;

namespace {

using Clock = ProgressPacer::Clock;

std::span<const std::uint8_t> asBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// 64 MiB of log-like lines: compresses well, and takes a while to decompress and check.
std::string largeArchive() {
    std::string data;
    data.reserve(64u << 20);
    unsigned counter = 0;
    char line[96];
    while (data.size() < (64u << 20)) {
        const int length =
            std::snprintf(line, sizeof line, "%08u entry checked at offset %010u with status %u\n", counter,
                          counter * 977u, counter % 7u);
        data.append(line, static_cast<std::size_t>(length));
        ++counter;
    }
    ZipBuilderEntry first{"large-1.log", data.substr(0, data.size() / 2), 8};
    ZipBuilderEntry second{"large-2.log", data.substr(data.size() / 2), 8};
    return buildZip({first, second}).bytes;
}

std::string manyEntries(int count) {
    std::vector<ZipBuilderEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index)
        entries.push_back(
            {"folder/file" + std::to_string(index) + ".txt", "entry " + std::to_string(index), 0});
    return buildZip(entries).bytes;
}

} // namespace

class ZipProgressTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void abortFromYieldStopsVerify();
    void abortFromYieldStopsProbe();
    void abortLeftOverDoesNotAbort();
    void dueYieldComesBeforeMoreProgress();
    void verifyCompletionRisesToHundred();
    void probeCompletionCountsEntries();
    void smallArchiveCostsNoYield();
    void operationsDoNotNest();

private:
    std::string m_large;
    std::string m_many;
};

void ZipProgressTest::initTestCase() {
    m_large = largeArchive();
    m_many = manyEntries(100000);
}

void ZipProgressTest::abortFromYieldStopsVerify() {
    ZipTester tester;
    int yields = 0;
    int statuses = 0;
    // A slow first status event makes sure the next chunk is due to yield.
    tester.onStatus = [&](const ZipStatus&) {
        if (statuses++ == 0)
            QVERIFY(lastUntilYieldIsDue());
    };
    tester.onYield = [&] {
        ++yields;
        tester.abort = true;
    };
    QCOMPARE(tester.verifyBytes(asBytes(m_large)), ZipResult::Aborted);
    QCOMPARE(yields, 1);
    // Stopped within a chunk: far from the end.
    QVERIFY(statuses < 50);
}

void ZipProgressTest::abortFromYieldStopsProbe() {
    ZipTester tester;
    int statuses = 0;
    tester.onStatus = [&](const ZipStatus&) {
        if (statuses++ == 0)
            QVERIFY(lastUntilYieldIsDue());
    };
    tester.onYield = [&] { tester.abort = true; };
    QCOMPARE(tester.probeBytes(asBytes(m_many)), ZipResult::Aborted);
    QVERIFY(statuses < 50);
}

void ZipProgressTest::abortLeftOverDoesNotAbort() {
    ZipTester tester;
    tester.abort = true;
    QCOMPARE(tester.verifyBytes(asBytes(m_large)), ZipResult::Verified);
    tester.abort = true;
    QCOMPARE(tester.probeBytes(asBytes(m_many)), ZipResult::Sound);
    QVERIFY(!tester.abort);
}

// Whenever a yield has come due, the operation yields before it reports any more progress: no
// stretch of work between two status events goes without a look at the clock. How long the
// stretches between yields are in practice is measured by bench/yield_gaps.
void ZipProgressTest::dueYieldComesBeforeMoreProgress() {
    for (const bool probe : {false, true}) {
        ZipTester tester;
        int yields = 0;
        std::vector<int> yieldsBeforeStatus;
        tester.onYield = [&] { ++yields; };
        tester.onStatus = [&](const ZipStatus& status) {
            yieldsBeforeStatus.push_back(yields);
            // A handful of slow events shows it; each costs a yield interval.
            if (status.completion < 100 && yieldsBeforeStatus.size() <= 5)
                QVERIFY(lastUntilYieldIsDue());
        };
        const std::int16_t result =
            probe ? tester.probeBytes(asBytes(m_many)) : tester.verifyBytes(asBytes(m_large));
        QCOMPARE(result, std::int16_t{0});
        QVERIFY(yieldsBeforeStatus.size() > 5);
        for (std::size_t index = 1; index <= 5; ++index)
            QVERIFY2(
                yieldsBeforeStatus[index] > yieldsBeforeStatus[index - 1],
                qPrintable(
                    QStringLiteral("no yield between status events %1 and %2").arg(index).arg(index + 1)));
    }
}

void ZipProgressTest::verifyCompletionRisesToHundred() {
    ZipTester tester;
    std::vector<int> completions;
    std::vector<std::string> names;
    tester.onStatus = [&](const ZipStatus& status) {
        // Yields during the structure check, before any data is counted, repeat the starting point.
        if (status.completion == 0)
            return;
        completions.push_back(status.completion);
        names.push_back(status.fileName);
    };
    QCOMPARE(tester.verifyBytes(asBytes(m_large)), ZipResult::Verified);
    // A yield that comes before the next percent is reached repeats the last event.
    QVERIFY(std::is_sorted(completions.begin(), completions.end()));
    const auto distinct = std::set<int>(completions.begin(), completions.end()).size();
    QVERIFY(distinct >= 10);
    QVERIFY(distinct <= 101);
    QCOMPARE(completions.back(), 100);
    QCOMPARE(names.front(), std::string("large-1.log"));
    QCOMPARE(names.back(), std::string("large-2.log"));
}

void ZipProgressTest::probeCompletionCountsEntries() {
    ZipTester tester;
    std::vector<int> completions;
    bool namesGiven = true;
    tester.onStatus = [&](const ZipStatus& status) {
        // A yield before the first entry is counted repeats the starting point, 0 and no name.
        if (status.completion == 0)
            return;
        completions.push_back(status.completion);
        namesGiven = namesGiven && status.fileName.rfind("folder/file", 0) == 0;
    };
    QCOMPARE(tester.probeBytes(asBytes(m_many)), ZipResult::Sound);
    completions.erase(std::unique(completions.begin(), completions.end()), completions.end());
    QCOMPARE(completions.size(), std::size_t{100});
    for (std::size_t index = 0; index < completions.size(); ++index)
        QCOMPARE(completions[index], static_cast<int>(index + 1));
    QVERIFY(namesGiven);
}

// A short operation costs no yield: one comes only once the yield interval has passed, which a
// machine busy elsewhere may let happen even in a tiny operation, so that alone is what is checked.
void ZipProgressTest::smallArchiveCostsNoYield() {
    const std::string small = buildZip({{"one.txt", "one entry", 8}}).bytes;
    ZipTester tester;
    Clock::time_point start;
    bool earlyYield = false;
    std::vector<ZipStatus> statuses;
    tester.onYield = [&] { earlyYield = earlyYield || Clock::now() - start < ProgressPacer::YieldInterval; };
    tester.onStatus = [&](const ZipStatus& status) { statuses.push_back(status); };
    start = Clock::now();
    QCOMPARE(tester.probeBytes(asBytes(small)), ZipResult::Sound);
    start = Clock::now();
    QCOMPARE(tester.verifyBytes(asBytes(small)), ZipResult::Verified);
    QVERIFY(!earlyYield);
    QCOMPARE(statuses.size(), std::size_t{2});
    for (const ZipStatus& status : statuses) {
        QCOMPARE(status.completion, std::int16_t{100});
        QCOMPARE(status.fileName, std::string("one.txt"));
    }
}

// A window handler that starts another operation from inside a yield must not pull the tables from
// under the one at work: the nested call is refused, the outer one finishes as if nothing happened.
void ZipProgressTest::operationsDoNotNest() {
    ZipTester tester;
    std::vector<std::int16_t> nested;
    tester.onYield = [&] {
        if (nested.empty())
            nested.push_back(tester.probeBytes(asBytes(m_many)));
    };
    QCOMPARE(tester.verifyBytes(asBytes(m_large)), ZipResult::Verified);
    QCOMPARE(nested, std::vector<std::int16_t>{ZipResult::Aborted});
    QVERIFY(tester.lastFaults().empty());
}

QTEST_GUILESS_MAIN(ZipProgressTest)
#include "zip_progress_test.moc"
