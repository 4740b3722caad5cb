// Split sets: the parts NAME.z01, NAME.z02, ... beside NAME.zip are found and tested with it as one
// archive, data and headers across the parts; a missing part makes the archive bad and is named;
// damage in any part is found; an archive in memory has no parts beside it.

#include "base/split_part_name.h"
#include "caller_protocol.h"
#include "sample_data.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vellum;
using namespace vellum::testing;

namespace {

constexpr int NotRun = -1;

// Entries whose data runs over several parts of 16 KiB: stored, deflated, and a deflated one of
// data that does not compress, so that a cut falls inside each kind of data.
std::vector<ZipBuilderEntry> setEntries() {
    return {
        {"readme.txt", sampleText(3000, 2), 0},    {"docs/notes.txt", sampleText(60000, 3), 8},
        {"stored.bin", sampleBinary(40000, 4), 0}, {"packed.bin", sampleBinary(30000, 5), 8},
        {"FILE_ID.DIZ", "A set in parts", 0},
    };
}

constexpr std::uint64_t PartSize = 16 * 1024;

QList<QByteArray> toList(const std::vector<std::string>& parts) {
    QList<QByteArray> list;
    for (const std::string& part : parts)
        list << QByteArray(part.data(), static_cast<qsizetype>(part.size()));
    return list;
}

// The part of split that holds offset in the whole set, and where in it.
std::pair<std::size_t, std::uint64_t> partOf(const SplitZip& split, std::uint64_t offset) {
    std::size_t part = 0;
    while (part + 1 < split.partStarts.size() && split.partStarts[part + 1] <= offset)
        ++part;
    return {part, offset - split.partStarts[part]};
}

std::vector<std::uint64_t> missingParts(const std::vector<ZipFault>& faults) {
    std::vector<std::uint64_t> parts;
    for (const ZipFault& fault : faults) {
        if (fault.kind == ZipFaultKind::SplitPartMissing)
            parts.push_back(fault.splitPart);
    }
    return parts;
}

bool hasFault(const std::vector<ZipFault>& faults, ZipFaultKind kind) {
    return std::any_of(faults.begin(), faults.end(),
                       [&](const ZipFault& fault) { return fault.kind == kind; });
}

// Runs a program in folder; false when it is not installed or fails.
bool runTool(const QString& folder, const QString& program, const QStringList& arguments) {
    if (QStandardPaths::findExecutable(program).isEmpty())
        return false;
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void flipByteOf(const QString& path, qint64 offset) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
    QVERIFY(file.seek(0));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class SplitSetTest : public QObject {
    Q_OBJECT

private slots:
    void builtSet_data();
    void builtSet();
    void memoryHasNoParts();
    void realSet_data();
    void realSet();
    void partNames_data();
    void partNames();
};

void SplitSetTest::builtSet_data() {
    QTest::addColumn<QList<QByteArray>>("parts");
    QTest::addColumn<QStringList>("names"); // of the parts before the .zip, in order
    QTest::addColumn<int>("probe");
    QTest::addColumn<int>("verify");
    QTest::addColumn<bool>("good");
    QTest::addColumn<QList<quint64>>("missing");
    QTest::addColumn<int>("fault"); // a fault kind that must be among the faults; -1 for none

    const SplitZip set = buildSplitZip(setEntries(), PartSize);
    QVERIFY(set.parts.size() >= 5);
    const auto names = [](std::size_t count, const char* prefix = "archive.z") {
        QStringList list;
        for (std::size_t part = 1; part <= count; ++part)
            list << QString::asprintf("%s%02zu", prefix, part);
        return list;
    };
    const std::size_t before = set.parts.size() - 1;
    const auto row = [&](const char* name, const std::vector<std::string>& parts,
                         const QStringList& partNames, int probe, int verify, bool good,
                         QList<quint64> missing = {}, int fault = -1) {
        QTest::newRow(name) << toList(parts) << partNames << probe << verify << good << missing << fault;
    };
    const int note = static_cast<int>(ZipFaultKind::SplitArchive);

    row("complete set, data across the parts", set.parts, names(before), 0, 0, true, {}, note);
    {
        std::vector<ZipBuilderEntry> entries = setEntries();
        for (ZipBuilderEntry& entry : entries)
            entry.zip64 = true;
        const SplitZip wide = buildSplitZip(entries, PartSize, ZipBuilderOptions{.zip64EndRecord = true});
        row("complete set with zip64 records", wide.parts, names(wide.parts.size() - 1), 0, 0, true, {},
            note);
    }
    {
        std::vector<ZipBuilderEntry> entries = setEntries();
        for (ZipBuilderEntry& entry : entries)
            entry.dataDescriptor = true;
        const SplitZip streamed = buildSplitZip(entries, PartSize);
        row("complete set with data descriptors", streamed.parts, names(streamed.parts.size() - 1), 0, 0,
            true, {}, note);
    }
    {
        // Parts from the tenth on have two digits of their own: NAME.z10, NAME.z11, ...
        const SplitZip many = buildSplitZip(setEntries(), PartSize / 4);
        QVERIFY(many.parts.size() >= 12);
        row("more than ten parts", many.parts, names(many.parts.size() - 1), 0, 0, true, {}, note);
    }
    row("parts named in upper case", set.parts, names(before, "ARCHIVE.Z"), 0, 0, true, {}, note);

    std::vector<std::string> withoutFirst = set.parts;
    withoutFirst.erase(withoutFirst.begin());
    QStringList namesWithoutFirst = names(before);
    namesWithoutFirst.removeFirst();
    row("first part missing", withoutFirst, namesWithoutFirst, 101, NotRun, false, {1});
    std::vector<std::string> withoutSecond = set.parts;
    withoutSecond.erase(withoutSecond.begin() + 1);
    QStringList namesWithoutSecond = names(before);
    namesWithoutSecond.removeAt(1);
    row("second part missing", withoutSecond, namesWithoutSecond, 101, NotRun, false, {2});
    QList<quint64> all;
    for (quint64 part = 1; part <= before; ++part)
        all << part;
    row("only the last part", {set.parts.back()}, {}, 101, NotRun, false, all);
    QStringList oneDigit = names(before);
    oneDigit[0] = "archive.z1";
    row("a part under another name", set.parts, oneDigit, 101, NotRun, false, {1});

    {
        // The stored entry's data, in whichever part its middle fell.
        std::vector<std::string> parts = set.parts;
        const ZipEntryLayout& stored = set.whole.entries[2];
        const auto [part, offset] = partOf(set, stored.dataOffset + stored.compressedSize / 2);
        QVERIFY(part + 1 < parts.size());
        parts[part][offset] = static_cast<char>(parts[part][offset] ^ 0x01);
        row("byte flipped in a part's stored data", parts, names(before), 0, 110, false, {},
            static_cast<int>(ZipFaultKind::CrcMismatch));
    }
    {
        // The deflated binary entry's data (stored blocks of deflate, as it does not compress)
        // crosses from one part into the next: damage the earlier part's share of it, close to the
        // cut.
        std::vector<std::string> parts = set.parts;
        const ZipEntryLayout& deflated = set.whole.entries[3];
        const std::size_t first = partOf(set, deflated.dataOffset).first;
        QVERIFY(partOf(set, deflated.dataOffset + deflated.compressedSize).first > first);
        parts[first][parts[first].size() - 100] ^= 0x40;
        row("deflated data damaged before a cut", parts, names(before), 0, 110, false, {},
            static_cast<int>(ZipFaultKind::CrcMismatch));
    }
    {
        std::vector<std::string> parts = set.parts;
        parts[1].resize(parts[1].size() - 10);
        row("a part cut short", parts, names(before), 108, NotRun, false, {},
            static_cast<int>(ZipFaultKind::EntriesOverlap));
    }
    {
        // The last part's end record: disk numbers and the per-disk count, one at a time.
        const std::uint64_t end = set.whole.endRecordOffset - set.partStarts.back();
        std::vector<std::string> parts = set.parts;
        patchLe16(parts.back(), end + EndRecordField::Disk, static_cast<std::uint16_t>(before + 1));
        row("end record names a disk after the last", parts, names(before), 104, NotRun, false, {},
            static_cast<int>(ZipFaultKind::EndRecordDisksDisagree));
        parts = set.parts;
        patchLe16(parts.back(), end + EndRecordField::DirectoryDisk, static_cast<std::uint16_t>(before - 1));
        row("directory disk earlier than written", parts, names(before), 104, NotRun, false, {},
            static_cast<int>(ZipFaultKind::EndRecordDisksDisagree));
        parts = set.parts;
        patchLe16(parts.back(), end + EndRecordField::EntriesOnDisk,
                  static_cast<std::uint16_t>(readLe16(parts.back(), end + EndRecordField::Entries) - 1));
        row("entries on the last disk miscounted", parts, names(before), 104, NotRun, false, {},
            static_cast<int>(ZipFaultKind::EndRecordDisksDisagree));
    }
    {
        // An entry's starting disk: one the set does not have, and another one it has.
        const auto [part, offset] = partOf(set, set.whole.entries[3].centralHeaderOffset);
        std::vector<std::string> parts = set.parts;
        patchLe16(parts[part], offset + CentralHeaderField::DiskStart,
                  static_cast<std::uint16_t>(before + 3));
        row("entry starts on a disk the set lacks", parts, names(before), 106, NotRun, false, {},
            static_cast<int>(ZipFaultKind::EntryDiskWrong));
        parts = set.parts;
        const std::uint16_t disk = readLe16(parts[part], offset + CentralHeaderField::DiskStart);
        patchLe16(parts[part], offset + CentralHeaderField::DiskStart, static_cast<std::uint16_t>(disk ^ 1));
        row("entry starts on another disk", parts, names(before), 107, NotRun, false, {},
            static_cast<int>(ZipFaultKind::LocalHeaderMissing));
    }
    {
        // An archive in one file whose end record's disk fields both say 2: it looks like the last
        // part of three, whose first two are not there.
        BuiltZip single = buildZip(setEntries());
        patchLe16(single.bytes, single.endRecordOffset + EndRecordField::Disk, 2);
        patchLe16(single.bytes, single.endRecordOffset + EndRecordField::DirectoryDisk, 2);
        row("one file claiming to be the third part", {single.bytes}, {}, 101, NotRun, false, {1, 2});
    }
}

void SplitSetTest::builtSet() {
    QFETCH(QList<QByteArray>, parts);
    QFETCH(QStringList, names);
    QFETCH(int, probe);
    QFETCH(int, verify);
    QFETCH(bool, good);
    QFETCH(QList<quint64>, missing);
    QFETCH(int, fault);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QDir dir(folder.path());
    for (qsizetype index = 0; index + 1 < parts.size(); ++index) {
        const QByteArray& part = parts[index];
        writeFile(dir.filePath(names[index]).toStdString(),
                  std::string_view(part.constData(), static_cast<std::size_t>(part.size())));
    }
    const std::string path = dir.filePath("archive.zip").toStdString();
    writeFile(path,
              std::string_view(parts.back().constData(), static_cast<std::size_t>(parts.back().size())));

    ZipTester tester;
    const CallerVerdict verdict = runAsCaller(tester, path);
    QCOMPARE(verdict.probe, probe);
    QCOMPARE(verdict.verify, verify);
    QCOMPARE(verdict.good, good);
    const std::vector<std::uint64_t> told = missingParts(tester.lastFaults());
    QCOMPARE(QList<quint64>(told.begin(), told.end()), missing);
    if (fault >= 0)
        QVERIFY(hasFault(tester.lastFaults(), static_cast<ZipFaultKind>(fault)));
}

// Bytes in memory have no folder, hence no parts beside them: the last part alone is an
// incomplete set, every other part missing, as it is for a file whose parts are gone.
void SplitSetTest::memoryHasNoParts() {
    const SplitZip set = buildSplitZip(setEntries(), PartSize);
    ZipTester tester;
    const CallerVerdict verdict = runAsCallerInMemory(tester, set.parts.back());
    QCOMPARE(verdict.probe, ZipResult::CannotOpen);
    QVERIFY(!verdict.good);
    const std::vector<std::uint64_t> told = missingParts(tester.lastFaults());
    QCOMPARE(told.size(), set.parts.size() - 1);
    QCOMPARE(told.front(), std::uint64_t{1});
}

void SplitSetTest::realSet_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("damage"); // "", "missing", "flip"
    QTest::addColumn<bool>("good");
    QTest::newRow("zip -s 64k") << QStringList{"-s", "64k"} << "" << true;
    QTest::newRow("zip -s 64k -0") << QStringList{"-s", "64k", "-0"} << "" << true;
    QTest::newRow("zip -s 64k -fz") << QStringList{"-s", "64k", "-fz"} << "" << true;
    QTest::newRow("zip -s 64k, second part missing") << QStringList{"-s", "64k"} << "missing" << false;
    QTest::newRow("zip -s 64k, byte flipped in .z01") << QStringList{"-s", "64k"} << "flip" << false;
    QTest::newRow("zip -s 64k -0, byte flipped in .z01") << QStringList{"-s", "64k", "-0"} << "flip" << false;
}

// Sets written by Info-ZIP's zip at test time: good as written, bad with a part gone or a byte of
// the first part's data changed.
void SplitSetTest::realSet() {
    QFETCH(QStringList, options);
    QFETCH(QString, damage);
    QFETCH(bool, good);
    if (QStandardPaths::findExecutable("zip").isEmpty())
        QSKIP("Info-ZIP zip is not installed");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QDir dir(folder.path());
    writeFile(dir.filePath("text.txt").toStdString(), sampleText(200000, 6));
    writeFile(dir.filePath("binary.bin").toStdString(), sampleBinary(150000, 8));
    QVERIFY(runTool(folder.path(), "zip",
                    QStringList{"-q"} + options + QStringList{"set.zip", "text.txt", "binary.bin"}));
    QVERIFY(QFile::exists(dir.filePath("set.z02")));
    if (damage == "missing")
        QVERIFY(QFile::remove(dir.filePath("set.z02")));
    if (damage == "flip")
        flipByteOf(dir.filePath("set.z01"), 30000);

    ZipTester tester;
    const CallerVerdict verdict = runAsCaller(tester, dir.filePath("set.zip").toStdString());
    QCOMPARE(verdict.good, good);
    if (damage == "missing") {
        const std::vector<std::uint64_t> told = missingParts(tester.lastFaults());
        QCOMPARE(told, std::vector<std::uint64_t>{2});
        QCOMPARE(QString::fromStdString(splitPartName(dir.filePath("set.zip").toStdString(), 2)), "set.z02");
    }
    if (good)
        QVERIFY(hasFault(tester.lastFaults(), ZipFaultKind::SplitArchive));
}

void SplitSetTest::partNames_data() {
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<int>("number"); // 0: not a part of the archive
    QTest::newRow("first part") << "/data/set.zip"
                                << "set.z01" << 1;
    QTest::newRow("other case") << "/data/Set.zip"
                                << "SET.Z02" << 2;
    QTest::newRow("tenth part") << "set.zip"
                                << "set.z10" << 10;
    QTest::newRow("twelfth part, other case") << "SET.ZIP"
                                              << "SET.Z12" << 12;
    QTest::newRow("hundredth part") << "set.zip"
                                    << "set.z100" << 100;
    QTest::newRow("one digit") << "set.zip"
                               << "set.z1" << 0;
    QTest::newRow("three digits below a hundred") << "set.zip"
                                                  << "set.z001" << 0;
    QTest::newRow("part zero") << "set.zip"
                               << "set.z00" << 0;
    QTest::newRow("the archive itself") << "set.zip"
                                        << "set.zip" << 0;
    QTest::newRow("another archive's part") << "set.zip"
                                            << "sets.z01" << 0;
    QTest::newRow("a name with more after the number") << "set.zip"
                                                       << "set.z01.bak" << 0;
}

void SplitSetTest::partNames() {
    QFETCH(QString, archive);
    QFETCH(QString, candidate);
    QFETCH(int, number);
    const std::optional<std::uint32_t> found =
        splitPartNumber(archive.toStdString(), candidate.toStdString());
    QCOMPARE(found.value_or(0), static_cast<std::uint32_t>(number));
    // A part's name leads back to its number, in the archive's own case.
    if (number > 0) {
        const std::string name = splitPartName(archive.toStdString(), static_cast<std::uint32_t>(number));
        QCOMPARE(splitPartNumber(archive.toStdString(), name), found);
        QCOMPARE(QString::fromStdString(name).toLower(), candidate.toLower());
    }
}

QTEST_GUILESS_MAIN(SplitSetTest)
#include "split_set_test.moc"
