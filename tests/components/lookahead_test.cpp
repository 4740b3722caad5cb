// Verdicts found ahead and entries checked in parallel must be indistinguishable from the plain,
// one-archive-and-one-entry-at-a-time path: the same codes and the same faults in the same order,
// whatever happens to the files in between, and a cancelled or abandoned look-ahead must stop
// promptly and hold nothing.

#include "allocation_gate.h"
#include "caller_protocol.h"
#include "concurrency/lookahead_verdicts.h"
#include "condition_wait.h"
#include "due_yield.h"
#include "engine/zip_engine.h"
#include "sample_data.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace vellum;
using namespace vellum::testing;

namespace {

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
    // Events after the last yield: a caller that waited for a worker saw its progress meanwhile,
    // each event followed by a yield; what came after the wait is the answer itself.
    int eventsAfterLastYield = 0;
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
        ++observed.eventsAfterLastYield;
        observed.lastCompletion = status.completion;
    };
    const std::function<void()> callerYield = tester.onYield;
    tester.onYield = [&] {
        observed.eventsAfterLastYield = 0;
        if (callerYield)
            callerYield();
    };
    tester.stopAtFirstFault = false;
    tester.fileFilter = "*.diz";
    tester.archivePath = path;
    tester.archiveName = path;
    observed.probe = tester.probeArchive();
    observed.probeFaults = tester.lastFaults();
    if (probeGoesOn(observed.probe)) {
        tester.fileFilter = "";
        observed.verify = tester.verifyArchive();
        observed.verifyFaults = tester.lastFaults();
    }
    tester.onStatus = nullptr;
    tester.onYield = callerYield;
    return observed;
}

void replaceFile(const std::string& path, const std::string& bytes) {
    QFile::remove(QString::fromStdString(path));
    writeFile(path, bytes);
}

// Tells when a file that was opened for reading has been closed again: for an archive tested
// ahead, that the worker has read everything it took its verdict from.
class ReadingFinishedWatch {
public:
    explicit ReadingFinishedWatch(const std::string& path)
        : m_descriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        m_watching =
            m_descriptor >= 0 && ::inotify_add_watch(m_descriptor, path.c_str(), IN_CLOSE_NOWRITE) >= 0;
    }
    ~ReadingFinishedWatch() {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    ReadingFinishedWatch(const ReadingFinishedWatch&) = delete;
    ReadingFinishedWatch& operator=(const ReadingFinishedWatch&) = delete;

    bool isWatching() const { return m_watching; }

    bool finished() {
        alignas(inotify_event) char events[4096];
        while (!m_finished && ::read(m_descriptor, events, sizeof events) > 0)
            m_finished = true;
        return m_finished;
    }

private:
    int m_descriptor;
    bool m_watching = false;
    bool m_finished = false;
};

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
    void archiveIsTestedAheadWithTheSettingsItWasAnnouncedWith();
    void archivesAnnouncedLaterKeepTheWorkOnEarlierOnes();
    void manyArchivesComeBackInOrderWhenSomeAreSkipped();
    void abortWhileWaitingStopsPromptly();
    void abandonedAnnouncementDoesNotBlockShutdown();
    void takeAbortedDropsEverything();
    void waitingCallerSeesTheWorkersProgress();
    void parallelEntriesMatchSerial_data();
    void parallelEntriesMatchSerial();

private:
    QTemporaryDir m_endlessFolder;
    std::string m_endless;       // an archive whose check cannot end in time unless abandoned
    BuiltZip m_manyLargeEntries; // enough data to be checked on two threads
};

void LookaheadTest::sameVerdictsAsPlainPath_data() {
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QList<QByteArray>>("parts"); // of a split set, before the archive
    const auto row = [](const char* name, const std::string& bytes,
                        const std::vector<std::string>& parts = {}) {
        QList<QByteArray> partBytes;
        for (const std::string& part : parts)
            partBytes << QByteArray(part.data(), static_cast<qsizetype>(part.size()));
        QTest::newRow(name) << QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())) << partBytes;
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
    SplitZip split = buildSplitZip(
        {{"a.txt", sampleText(50000, 13), 8}, {"b.bin", sampleBinary(30000, 14), 0}}, 16 * 1024);
    std::vector<std::string> parts(split.parts.begin(), split.parts.end() - 1);
    row("split set", split.parts.back(), parts);
    parts[1][100] = static_cast<char>(parts[1][100] ^ 0x08);
    row("split set, a part damaged", split.parts.back(), parts);
    parts.pop_back();
    row("split set, a part missing", split.parts.back(), parts);
}

// The archive of each row sits among good ones in one folder; every archive is announced, then
// tested as the run does, and each must come out exactly as a tester without look-ahead has it.
void LookaheadTest::sameVerdictsAsPlainPath() {
    QFETCH(QByteArray, archive);
    QFETCH(QList<QByteArray>, parts);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string root = folder.path().toStdString() + "/";
    std::vector<std::string> paths;
    for (int index = 0; index < 6; ++index) {
        paths.push_back(root + "archive" + std::to_string(index) + ".zip");
        if (index == 3) {
            writeFile(paths.back(),
                      std::string_view(archive.constData(), static_cast<std::size_t>(archive.size())));
            for (qsizetype part = 0; part < parts.size(); ++part)
                writeFile(
                    root + QString::asprintf("archive3.z%02lld", part + 1).toStdString(),
                    std::string_view(parts[part].constData(), static_cast<std::size_t>(parts[part].size())));
        } else {
            writeFile(paths.back(), goodArchive(static_cast<unsigned>(20 + index)).bytes);
        }
    }
    // A folder named like an archive cannot be opened, ahead or not.
    QVERIFY(QDir().mkpath(QString::fromStdString(root + "folder.zip")));
    paths.push_back(root + "folder.zip");

    ZipTester plain;
    std::vector<Observed> expected;
    for (const std::string& path : paths)
        expected.push_back(observe(plain, path));

    ZipTester ahead;
    ahead.expectArchives(paths, CallerPlan);
    for (std::size_t index = 0; index < paths.size(); ++index) {
        const Observed observed = observe(ahead, paths[index]);
        QCOMPARE(observed, expected[index]);
        // Every operation on a file that opens ends with its 100 % event, found ahead or not.
        if (observed.probe == ZipResult::CannotOpen)
            continue;
        QCOMPARE(observed.lastCompletion, 100);
        // Answered from the look-ahead: one event per step instead of one per percent.
        QCOMPARE(observed.eventsAfterLastYield, observed.verify >= 0 ? 2 : 1);
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
    ReadingFinishedWatch secondRead(second);
    QVERIFY(secondRead.isWatching());
    tester.expectArchives({first, second}, CallerPlan);
    // The verdict for the second must describe the old content: change it only once a worker has
    // read it.
    QVERIFY(waitUntil([&] { return secondRead.finished(); }));
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
    tester.expectArchives({path}, CallerPlan);
    // Stopping at the first fault is not what was tested ahead: the answer comes from the file.
    tester.stopAtFirstFault = true;
    tester.fileFilter = "*.diz";
    tester.archivePath = path;
    QCOMPARE(tester.probeArchive(), ZipResult::Sound);
    tester.fileFilter = "";
    QCOMPARE(tester.verifyArchive(), ZipResult::DataMismatch);
    QCOMPARE(tester.lastFaults().size(), std::size_t{1});
    // Not announced at all.
    const std::string other = folder.path().toStdString() + "/other.zip";
    writeFile(other, goodArchive(6).bytes);
    QCOMPARE(runAsCaller(tester, other).verify, ZipResult::Verified);
}

void LookaheadTest::archiveIsTestedAheadWithTheSettingsItWasAnnouncedWith() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string path = folder.path().toStdString() + "/planned.zip";
    BuiltZip archive = goodArchive(10);
    flipBit(archive.bytes, archive.entries[1].dataOffset + 3);
    writeFile(path, archive.bytes);
    ZipTester tester;
    tester.archivePath = path;
    const auto runPlanned = [&](const ArchiveTestPlan& plan) {
        tester.expectArchives({path}, plan);
        tester.fileFilter = plan.probeFilter;
        const std::int16_t probe = tester.probeArchive();
        tester.fileFilter = plan.verifyFilter;
        return std::pair(probe, probeGoesOn(probe) ? tester.verifyArchive() : std::int16_t{-1});
    };
    QCOMPARE(runPlanned({"*.txt", "", false}), std::pair(ZipResult::FilteredEntryDamaged, std::int16_t{-1}));
    QCOMPARE(runPlanned({"", "*.bin", false}), std::pair(ZipResult::Sound, ZipResult::Verified));
}

// A walk announces the next folder's archives while the caller is still on this folder's.
void LookaheadTest::archivesAnnouncedLaterKeepTheWorkOnEarlierOnes() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string first = folder.path().toStdString() + "/first.zip";
    const std::string second = folder.path().toStdString() + "/next/second.zip";
    BuiltZip damaged = goodArchive(7);
    flipBit(damaged.bytes, damaged.entries[0].dataOffset + 5);
    writeFile(first, damaged.bytes);
    QVERIFY(QDir().mkpath(folder.path() + "/next"));
    writeFile(second, goodArchive(8).bytes);

    ZipTester tester;
    ReadingFinishedWatch firstRead(first);
    ReadingFinishedWatch secondRead(second);
    QVERIFY(firstRead.isWatching() && secondRead.isWatching());
    tester.expectArchives({first}, CallerPlan);
    QVERIFY(waitUntil([&] { return firstRead.finished(); }));
    ReadingFinishedWatch firstReadAgain(first);
    QVERIFY(firstReadAgain.isWatching());
    tester.expectMoreArchives({second}, CallerPlan);
    QVERIFY(waitUntil([&] { return secondRead.finished(); }));

    const Observed firstSeen = observe(tester, first);
    const Observed secondSeen = observe(tester, second);
    // Both answers were found ahead: the first archive was not read again for its own turn.
    QVERIFY(!firstReadAgain.finished());
    ZipTester plain;
    QCOMPARE(firstSeen, observe(plain, first));
    QCOMPARE(firstSeen.verify, ZipResult::DataMismatch);
    QCOMPARE(secondSeen, observe(plain, second));
    QCOMPARE(secondSeen.verify, ZipResult::Verified);
}

// Far more archives than the workers may test ahead, handed over in batches: each verdict must
// still reach the caller for its own archive, in order, also when the caller passes some over.
void LookaheadTest::manyArchivesComeBackInOrderWhenSomeAreSkipped() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    std::vector<std::string> paths;
    for (unsigned index = 0; index < 300; ++index) {
        paths.push_back(folder.path().toStdString() + "/archive" + std::to_string(index) + ".zip");
        const bool damaged = index % 7 == 3;
        BuiltZip archive = buildZip(
            {{"a.txt", sampleText(200 + index * 7, index), static_cast<std::uint16_t>(damaged ? 0 : 8)}});
        if (damaged)
            flipBit(archive.bytes, archive.entries[0].dataOffset + 2);
        writeFile(paths.back(), archive.bytes);
    }
    ZipTester plain;
    ZipTester ahead;
    ahead.expectArchives(paths, CallerPlan);
    for (std::size_t index = 0; index < paths.size(); ++index) {
        // Passed over: a stretch shorter than a batch, and one longer than the reach ahead.
        if ((index >= 40 && index < 45) || (index >= 150 && index < 230))
            continue;
        const Observed expected = observe(plain, paths[index]);
        QCOMPARE(observe(ahead, paths[index]), expected);
        QCOMPARE(expected.verify, index % 7 == 3 ? ZipResult::DataMismatch : ZipResult::Verified);
    }
}

void LookaheadTest::initTestCase() {
    std::vector<ZipBuilderEntry> entries;
    for (int index = 0; index < 16; ++index) {
        const bool stored = index % 2 == 0;
        const auto seed = static_cast<unsigned>(index);
        entries.push_back({"part" + std::to_string(index) + ".bin",
                           stored ? sampleBinary(2u << 20, seed) : sampleText(2u << 20, seed),
                           static_cast<std::uint16_t>(stored ? 0 : 8)});
    }
    m_manyLargeEntries = buildZip(entries);
    QVERIFY(m_endlessFolder.isValid());
    m_endless = m_endlessFolder.path().toStdString() + "/endless.zip";
    const std::string error = writeZerosArchive(m_endless, std::uint64_t{1} << 40);
    QVERIFY2(error.empty(), error.c_str());
}

// While the gate holds the workers back no verdict can be made, so the caller certainly waits for
// one; abort, set at its first yield, must end the wait at once instead of after the work.
void LookaheadTest::abortWhileWaitingStopsPromptly() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string first = folder.path().toStdString() + "/first.zip";
    const std::string after = folder.path().toStdString() + "/after.zip";
    writeFile(first, goodArchive(7).bytes);
    writeFile(after, goodArchive(8).bytes);

    ZipTester tester;
    int yields = 0;
    tester.onYield = [&] {
        ++yields;
        tester.abort = true;
    };
    std::int16_t result = 0;
    {
        AllocationGate gate;
        tester.expectArchives({first, after, first}, CallerPlan);
        tester.fileFilter = "*.diz";
        tester.archivePath = first;
        result = tester.probeArchive();
    }
    QCOMPARE(result, ZipResult::Aborted);
    QCOMPARE(yields, 1);
    // The announcement is gone: the next archive is tested in place, and correctly.
    tester.onYield = nullptr;
    QCOMPARE(runAsCaller(tester, after).verify, ZipResult::Verified);
}

// The tester is destroyed while a worker is on an archive it could not finish in time.
void LookaheadTest::abandonedAnnouncementDoesNotBlockShutdown() {
    auto tester = std::make_unique<ZipTester>();
    {
        AllocationGate gate;
        tester->expectArchives({m_endless, m_endless, m_endless}, CallerPlan);
        // A worker held at the gate has taken an archive and tests it as soon as the gate opens.
        QVERIFY(waitUntil([&] { return gate.heldThreads() > 0; }));
    }
    // Destroyed on a thread of its own, so that a destructor that waited for the work fails the
    // test instead of hanging it.
    const auto destroyed = std::make_shared<std::atomic<bool>>(false);
    std::thread destroying([tester = std::move(tester), destroyed]() mutable {
        tester.reset();
        destroyed->store(true);
    });
    const bool stopped = waitUntil([&] { return destroyed->load(); });
    if (stopped)
        destroying.join();
    else
        destroying.detach();
    QVERIFY(stopped);
}

void LookaheadTest::takeAbortedDropsEverything() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string path = folder.path().toStdString() + "/archive.zip";
    writeFile(path, goodArchive(9).bytes);
    LookaheadVerdicts lookahead(2);
    std::shared_ptr<const PrecomputedVerdict> verdict;
    LookaheadVerdicts::Outcome outcome = LookaheadVerdicts::Outcome::Ready;
    {
        // No verdict can be made while the gate is closed: the caller has to wait, and gives up.
        AllocationGate gate;
        lookahead.announce({path, path + "-missing", path}, CallerPlan);
        outcome = lookahead.take(
            path, {CallerPlan.probeFilter, CallerPlan.stopAtFirstFault},
            [](const ZipStatus&) { return false; }, verdict);
    }
    QCOMPARE(outcome, LookaheadVerdicts::Outcome::Aborted);
    QVERIFY(!verdict);
    QCOMPARE(lookahead.pendingCount(), std::size_t{0});
}

// A caller waiting for an archive a worker is testing sees that worker's progress as it goes, a
// status event before each of its yields, rather than one event at the end.
void LookaheadTest::waitingCallerSeesTheWorkersProgress() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // 86 MB a percent: long enough to show progress, and abandoned as soon as it has.
    const std::string path = folder.path().toStdString() + "/large.zip";
    const std::string error = writeZerosArchive(path, std::uint64_t{1} << 33);
    QVERIFY2(error.empty(), error.c_str());

    ZipTester tester;
    std::vector<int> completionsBeforeYields;
    bool statusSinceYield = false;
    int yieldsWithoutStatus = 0;
    tester.onStatus = [&](const ZipStatus& status) {
        if (status.fileName == "zeros.bin" && status.completion > 0 && status.completion < 100)
            completionsBeforeYields.push_back(status.completion);
        statusSinceYield = true;
    };
    const auto givenUp = std::chrono::steady_clock::now() + WaitTimeout;
    tester.onYield = [&] {
        yieldsWithoutStatus += statusSinceYield ? 0 : 1;
        statusSinceYield = false;
        const bool risen = completionsBeforeYields.size() >= 2 &&
                           completionsBeforeYields.back() > completionsBeforeYields.front();
        tester.abort = risen || std::chrono::steady_clock::now() > givenUp;
    };
    tester.expectArchives({path}, CallerPlan);
    tester.fileFilter = "*.diz";
    tester.archivePath = path;
    QCOMPARE(tester.probeArchive(), ZipResult::Aborted);
    QCOMPARE(yieldsWithoutStatus, 0);
    QVERIFY2(completionsBeforeYields.size() >= 2, "the worker's progress never reached the caller");
    QVERIFY(std::is_sorted(completionsBeforeYields.begin(), completionsBeforeYields.end()));
    QVERIFY(completionsBeforeYields.back() > completionsBeforeYields.front());
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
        bool decompressing = false;
        // The first status event comes once the entries are being checked; lasting until a yield is
        // due, it makes abort, set at that yield, land in the middle of the check.
        const std::function<void(const ZipStatus&)> onStatus = [&](const ZipStatus&) {
            if (abortEarly && !decompressing)
                QVERIFY(lastUntilYieldIsDue());
            decompressing = true;
        };
        const std::function<void()> onYield = [&] { abort = abortEarly && decompressing; };
        ZipEngineSettings settings;
        settings.entryThreads = threads;
        settings.onStatus = &onStatus;
        settings.onYield = &onYield;
        settings.abortFlag = &abort;
        return engine.run(ZipOperation::Verify, source, settings, faults);
    };
    std::vector<ZipFault> serialFaults;
    std::vector<ZipFault> parallelFaults;
    const std::int16_t serial = check(1, serialFaults);
    const std::int16_t parallel = check(2, parallelFaults);
    QCOMPARE(parallel, serial);
    if (abortEarly) {
        QCOMPARE(serial, ZipResult::Aborted);
        return;
    }
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
