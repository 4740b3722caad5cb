// Verdicts found ahead and entries checked in parallel must be indistinguishable from the plain,
// one-archive-and-one-entry-at-a-time path: the same codes and the same faults in the same order,
// whatever happens to the files in between, and a cancelled or abandoned look-ahead must stop
// promptly and hold nothing.

#include "caller_protocol.h"
#include "lookahead_verdicts.h"
#include "sample_data.h"
#include "zip_builder.h"
#include "zip_engine.h"
#include "zip_tester.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

using namespace vellum;
using namespace vellum::testing;

namespace {

using Clock = std::chrono::steady_clock;

BuiltZip goodArchive(unsigned seed) {
    return buildZip({{"readme.txt", sampleText(3000, seed), 0},
                     {"docs/notes.txt", sampleText(20000, seed + 1), 8},
                     {"data.bin", sampleBinary(8000, seed + 2), 8}});
}

// What one archive's two steps gave, as the caller sees them.
struct Observed {
    std::int16_t probe = 0;
    std::int16_t verify = -1;
    std::vector<ZipFault> probeFaults;
    std::vector<ZipFault> verifyFaults;
    int statusEvents = 0;
    int lastCompletion = -1;

    bool operator==(const Observed& other) const {
        const auto same = [](const std::vector<ZipFault>& left, const std::vector<ZipFault>& right) {
            return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                              [](const ZipFault& a, const ZipFault& b) {
                                  return a.kind == b.kind && a.entryIndex == b.entryIndex &&
                                         a.offset == b.offset;
                              });
        };
        return probe == other.probe && verify == other.verify && same(probeFaults, other.probeFaults) &&
               same(verifyFaults, other.verifyFaults) && lastCompletion == other.lastCompletion;
    }
};

char* describe(const Observed& observed) {
    std::string text = "probe " + std::to_string(observed.probe) + " (" +
                       std::to_string(observed.probeFaults.size()) + " faults), verify " +
                       std::to_string(observed.verify) + " (" + std::to_string(observed.verifyFaults.size()) +
                       " faults), last completion " + std::to_string(observed.lastCompletion);
    return qstrdup(text.c_str());
}

Observed observe(ZipTester& tester, const std::string& path) {
    Observed observed;
    tester.onStatus = [&](const ZipStatus& status) {
        ++observed.statusEvents;
        observed.lastCompletion = status.completion;
    };
    tester.optionSwitch = false;
    tester.fileFilter = "*.diz";
    tester.archivePath = path;
    tester.archiveName = path;
    observed.probe = tester.probeArchive(0);
    observed.probeFaults = tester.lastFaults();
    if (probeGoesOn(observed.probe)) {
        tester.fileFilter = "";
        observed.verify = tester.verifyArchive();
        observed.verifyFaults = tester.lastFaults();
    }
    tester.onStatus = nullptr;
    return observed;
}

void replaceFile(const std::string& path, const std::string& bytes) {
    QFile::remove(QString::fromStdString(path));
    writeFile(path, bytes);
}

} // namespace

namespace QTest {
template <> char* toString(const Observed& observed) {
    return describe(observed);
}
} // namespace QTest

class LookaheadTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sameVerdictsAsPlainPath_data();
    void sameVerdictsAsPlainPath();
    void fileChangedAfterAnnouncementIsTestedAfresh_data();
    void fileChangedAfterAnnouncementIsTestedAfresh();
    void archiveNotAnnouncedOrOtherSettingsIsTestedInPlace();
    void abortWhileWaitingStopsPromptly();
    void abandonedAnnouncementDoesNotBlockShutdown();
    void takeAbortedDropsEverything();
    void parallelEntriesMatchSerial_data();
    void parallelEntriesMatchSerial();

private:
    QTemporaryDir m_largeFolder;
    std::string m_large;         // an archive that takes a while to check
    BuiltZip m_manyLargeEntries; // enough data to be checked on two threads
};

void LookaheadTest::sameVerdictsAsPlainPath_data() {
    QTest::addColumn<QByteArray>("archive");
    const auto row = [](const char* name, const std::string& bytes) {
        QTest::newRow(name) << QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    };
    row("good", goodArchive(1).bytes);
    BuiltZip crc = goodArchive(2);
    flipBit(crc.bytes, crc.entries[0].dataOffset + 10);
    row("crc mismatch in a stored entry", crc.bytes);
    BuiltZip stream = goodArchive(3);
    flipBit(stream.bytes, stream.entries[1].dataOffset + 40, 3);
    row("damaged deflate stream", stream.bytes);
    BuiltZip directory = goodArchive(4);
    patchLe32(directory.bytes, directory.centralDirectoryOffset, 0x12345678);
    row("damaged central directory", directory.bytes);
    row("data before the archive",
        buildZip({{"a.txt", sampleText(5000, 9), 8}},
                 ZipBuilderOptions{.prefix = "MZ stub", .adjustOffsetsForPrefix = true})
            .bytes);
    ZipBuilderEntry locked{"secret.txt", "hidden", 0};
    locked.encrypted = true;
    row("encrypted entry", buildZip({{"open.txt", "visible", 0}, locked}).bytes);
    BuiltZip diz = buildZip({{"file_id.diz", sampleText(4000, 11), 8}, {"b.txt", sampleText(4000, 12), 8}});
    flipBit(diz.bytes, diz.entries[0].dataOffset + 20, 5);
    row("damaged description entry", diz.bytes);
    row("not an archive", std::string(4000, 'x'));
    row("empty file", std::string());
}

// The archive of each row sits among good ones in one folder; every archive is announced, then
// tested as the run does, and each must come out exactly as a tester without look-ahead has it.
void LookaheadTest::sameVerdictsAsPlainPath() {
    QFETCH(QByteArray, archive);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string root = folder.path().toStdString() + "/";
    std::vector<std::string> paths;
    for (int index = 0; index < 6; ++index) {
        paths.push_back(root + "archive" + std::to_string(index) + ".zip");
        if (index == 3)
            writeFile(paths.back(),
                      std::string_view(archive.constData(), static_cast<std::size_t>(archive.size())));
        else
            writeFile(paths.back(), goodArchive(static_cast<unsigned>(20 + index)).bytes);
    }
    // A folder named like an archive cannot be opened, ahead or not.
    QVERIFY(QDir().mkpath(QString::fromStdString(root + "folder.zip")));
    paths.push_back(root + "folder.zip");

    ZipTester plain;
    std::vector<Observed> expected;
    for (const std::string& path : paths)
        expected.push_back(observe(plain, path));

    ZipTester ahead;
    ahead.expectArchives(paths);
    for (std::size_t index = 0; index < paths.size(); ++index) {
        const Observed observed = observe(ahead, paths[index]);
        QCOMPARE(observed, expected[index]);
        // Every operation on a file that opens ends with its 100 % event, found ahead or not.
        if (observed.probe == ZipResult::CannotOpen)
            continue;
        QCOMPARE(observed.lastCompletion, 100);
        // Answered from the look-ahead: one event per step instead of one per percent.
        QCOMPARE(observed.statusEvents, observed.verify >= 0 ? 2 : 1);
    }
}

void LookaheadTest::fileChangedAfterAnnouncementIsTestedAfresh_data() {
    QTest::addColumn<bool>("keepSizeAndTime");
    QTest::newRow("replaced by another file") << false;
    QTest::newRow("rewritten in place, same size and time") << true;
}

void LookaheadTest::fileChangedAfterAnnouncementIsTestedAfresh() {
    QFETCH(bool, keepSizeAndTime);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string first = folder.path().toStdString() + "/first.zip";
    const std::string second = folder.path().toStdString() + "/second.zip";
    writeFile(first, goodArchive(1).bytes);
    BuiltZip original = goodArchive(2);
    writeFile(second, original.bytes);

    ZipTester tester;
    tester.expectArchives({first, second});
    // Let the workers finish both, so that the verdict for the second describes the old content.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    BuiltZip damaged = original;
    flipBit(damaged.bytes, damaged.entries[0].dataOffset + 5);
    if (keepSizeAndTime) {
        struct stat before {};
        QCOMPARE(::stat(second.c_str(), &before), 0);
        QFile file(QString::fromStdString(second));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write(damaged.bytes.data(), static_cast<qint64>(damaged.bytes.size())),
                 static_cast<qint64>(damaged.bytes.size()));
        file.close();
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, second.c_str(), times, 0), 0);
    } else {
        replaceFile(second, damaged.bytes + "trailing");
    }

    QCOMPARE(observe(tester, first).verify, ZipResult::Verified);
    ZipTester plain;
    const Observed expected = observe(plain, second);
    QCOMPARE(expected.verify, ZipResult::DataMismatch);
    QCOMPARE(observe(tester, second), expected);
}

void LookaheadTest::archiveNotAnnouncedOrOtherSettingsIsTestedInPlace() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string path = folder.path().toStdString() + "/only.zip";
    BuiltZip archive = goodArchive(5);
    flipBit(archive.bytes, archive.entries[0].dataOffset + 1);
    writeFile(path, archive.bytes);
    ZipTester tester;
    tester.expectArchives({path});
    // Stopping at the first fault is not what was tested ahead: the answer comes from the file.
    tester.optionSwitch = true;
    tester.fileFilter = "*.diz";
    tester.archivePath = path;
    QCOMPARE(tester.probeArchive(0), ZipResult::Sound);
    tester.fileFilter = "";
    QCOMPARE(tester.verifyArchive(), ZipResult::DataMismatch);
    QCOMPARE(tester.lastFaults().size(), std::size_t{1});
    // Not announced at all.
    const std::string other = folder.path().toStdString() + "/other.zip";
    writeFile(other, goodArchive(6).bytes);
    QCOMPARE(runAsCaller(tester, other).verify, ZipResult::Verified);
}

void LookaheadTest::initTestCase() {
    QVERIFY(m_largeFolder.isValid());
    std::vector<ZipBuilderEntry> entries;
    for (int index = 0; index < 16; ++index) {
        const bool stored = index % 2 == 0;
        const auto seed = static_cast<unsigned>(index);
        entries.push_back({"part" + std::to_string(index) + ".bin",
                           stored ? sampleBinary(2u << 20, seed) : sampleText(2u << 20, seed),
                           static_cast<std::uint16_t>(stored ? 0 : 8)});
    }
    m_manyLargeEntries = buildZip(entries);
    // 64 MiB of log lines in two entries: long enough to decompress that the caller has to wait.
    std::string data;
    data.reserve(64u << 20);
    char line[96];
    for (unsigned counter = 0; data.size() < (64u << 20); ++counter) {
        const int length = std::snprintf(line, sizeof line, "%08u entry checked at offset %010u status %u\n",
                                         counter, counter * 977u, counter % 7u);
        data.append(line, static_cast<std::size_t>(length));
    }
    m_large = m_largeFolder.path().toStdString() + "/large.zip";
    writeFile(m_large, buildZip({{"large-1.log", data.substr(0, data.size() / 2), 8},
                                 {"large-2.log", data.substr(data.size() / 2), 8}})
                           .bytes);
}

void LookaheadTest::abortWhileWaitingStopsPromptly() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string& large = m_large;
    const std::string after = folder.path().toStdString() + "/after.zip";
    writeFile(after, goodArchive(7).bytes);

    ZipTester tester;
    int yields = 0;
    Clock::time_point abortedAt;
    tester.onYield = [&] {
        if (yields++ == 0) {
            tester.abort = true;
            abortedAt = Clock::now();
        }
    };
    tester.expectArchives({large, after, large});
    tester.fileFilter = "*.diz";
    tester.archivePath = large;
    // The probe's own answer is ready at once; the wait is for the verify that the workers run with it.
    const std::int16_t result = tester.probeArchive(0);
    const Clock::time_point returned = Clock::now();
    if (yields == 0)
        QSKIP("the archive was tested before the caller had to wait");
    QCOMPARE(result, ZipResult::Aborted);
    QVERIFY(returned - abortedAt < std::chrono::seconds(1));
    // The announcement is gone: the next archive is tested in place, and correctly.
    tester.onYield = nullptr;
    QCOMPARE(runAsCaller(tester, after).verify, ZipResult::Verified);
}

void LookaheadTest::abandonedAnnouncementDoesNotBlockShutdown() {
    const std::string& large = m_large;
    const Clock::time_point start = Clock::now();
    {
        ZipTester tester;
        tester.expectArchives({large, large, large});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    QVERIFY(Clock::now() - start < std::chrono::seconds(1));
}

void LookaheadTest::takeAbortedDropsEverything() {
    const std::string& large = m_large;
    LookaheadVerdicts lookahead(2);
    lookahead.announce({large, large + "-missing", large});
    std::shared_ptr<const PrecomputedVerdict> verdict;
    const LookaheadVerdicts::Outcome outcome = lookahead.take(
        large, [] { return false; }, verdict);
    if (outcome == LookaheadVerdicts::Outcome::Ready)
        QSKIP("the archive was tested before the caller had to wait");
    QCOMPARE(outcome, LookaheadVerdicts::Outcome::Aborted);
    QVERIFY(!verdict);
    QCOMPARE(lookahead.pendingCount(), std::size_t{0});
}

void LookaheadTest::parallelEntriesMatchSerial_data() {
    QTest::addColumn<QList<int>>("damagedEntries");
    QTest::addColumn<bool>("abortEarly");
    QTest::newRow("sound") << QList<int>{} << false;
    QTest::newRow("first and last entries") << QList<int>{0, 15} << false;
    QTest::newRow("every third entry") << QList<int>{1, 4, 7, 10, 13} << false;
    QTest::newRow("adjacent entries") << QList<int>{5, 6} << false;
    QTest::newRow("aborted") << QList<int>{2, 9} << true;
}

// Sixteen entries of 2 MiB, alternately stored and deflated, with data damaged in the chosen ones:
// checked by one thread and by two, the codes and faults are the same.
void LookaheadTest::parallelEntriesMatchSerial() {
    QFETCH(QList<int>, damagedEntries);
    QFETCH(bool, abortEarly);
    BuiltZip archive = m_manyLargeEntries;
    for (const int index : damagedEntries) {
        const ZipEntryLayout& layout = archive.entries[static_cast<std::size_t>(index)];
        flipBit(archive.bytes, layout.dataOffset + layout.compressedSize / 2, 2);
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(archive.bytes.data()),
                                              archive.bytes.size());
    const auto check = [&](unsigned threads, std::vector<ZipFault>& faults) {
        ZipEngine engine;
        MemoryByteSource source(bytes);
        bool abort = false;
        int polls = 0;
        const std::function<void()> onYield = [&] { abort = abortEarly && ++polls > 0; };
        ZipEngineSettings settings;
        settings.entryThreads = threads;
        settings.onYield = &onYield;
        settings.abortFlag = &abort;
        return engine.run(ZipOperation::Verify, source, settings, faults);
    };
    std::vector<ZipFault> serialFaults;
    std::vector<ZipFault> parallelFaults;
    const std::int16_t serial = check(1, serialFaults);
    const std::int16_t parallel = check(2, parallelFaults);
    QCOMPARE(parallel, serial);
    if (abortEarly)
        return;
    QCOMPARE(serial, damagedEntries.isEmpty() ? ZipResult::Verified : ZipResult::DataMismatch);
    QCOMPARE(parallelFaults.size(), serialFaults.size());
    QCOMPARE(serialFaults.size(), static_cast<std::size_t>(damagedEntries.size()));
    for (std::size_t index = 0; index < serialFaults.size(); ++index) {
        QCOMPARE(parallelFaults[index].kind, serialFaults[index].kind);
        QCOMPARE(parallelFaults[index].entryIndex, serialFaults[index].entryIndex);
        QCOMPARE(parallelFaults[index].offset, serialFaults[index].offset);
    }
}

QTEST_GUILESS_MAIN(LookaheadTest)
#include "lookahead_test.moc"
