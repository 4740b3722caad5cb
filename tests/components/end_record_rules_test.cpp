// The end records of an archive in one file: which end record is taken, when the bytes before it
// are a zip64 locator, and the disk numbers that must all say "disk 0 of 1".

#include "judged_rows.h"
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

BuiltZip zip64Archive() {
    return buildZip(baseEntries(), ZipBuilderOptions{.zip64EndRecord = true});
}

// An archive whose last central header ends with tail: what the end record sees right before it.
std::string endingWith(const std::string& name, const std::string& comment, bool saturateCount = false) {
    std::vector<ZipBuilderEntry> entries = baseEntries();
    entries.push_back({name, "last", 0});
    entries.back().comment = comment;
    BuiltZip zip = buildZip(entries);
    if (saturateCount)
        patchLe16(zip.bytes, zip.endRecordOffset + EndRecordField::Entries, 0xFFFF);
    return zip.bytes;
}

std::string locatorBytes(std::uint32_t disk, std::uint64_t offset, std::uint32_t count) {
    std::string bytes = "PK\x06\x07";
    appendLe32(bytes, disk);
    appendLe64(bytes, offset);
    appendLe32(bytes, count);
    return bytes;
}

void addColumns() {
    addArchiveColumns();
    QTest::addColumn<int>("fault"); // a fault kind that must be among the faults, or NoFault
}

void row(const char* name, const std::string& bytes, int probe, int verify, int fault = NoFault) {
    QTest::newRow(name) << toBytes(bytes) << probe << verify << fault;
}

int kind(ZipFaultKind fault) {
    return static_cast<int>(fault);
}

} // namespace

class EndRecordRulesTest : public QObject {
    Q_OBJECT

private slots:
    void zip64Locator_data();
    void zip64Locator();
    void endRecordCandidates_data();
    void endRecordCandidates();
    void diskNumbers_data();
    void diskNumbers();
    void cutInsideTheLastEndRecord();

private:
    void check();
    QTemporaryDir m_folder;
};

void EndRecordRulesTest::check() {
    QFETCH(int, fault);
    judgeRow(m_folder.path(), std::nullopt, fault);
}

// A zip64 locator is taken only when its disk numbers fit an archive in one file and the end record
// needs it or a zip64 end record is where it points; otherwise its bytes belong to the last header.
void EndRecordRulesTest::zip64Locator_data() {
    addColumns();
    row("zip64 end records", zip64Archive().bytes, 0, 0);
    row("name ending in the locator's signature, comment after it",
        endingWith("last/PK\x06\x07", "0123456789abcdef"), 0, 0);
    row("name ending in a whole locator that fits disk 0 of 1",
        endingWith(std::string("last/") + locatorBytes(0, 12345, 1), ""), 0, 0);
    row("a locator that fits but points at nothing, end record needing zip64",
        endingWith(std::string("last/") + locatorBytes(0, 12345, 1), "", true), 105, NotRun,
        kind(ZipFaultKind::Zip64RecordMissing));
    row("a locator of another disk count, end record needing zip64",
        endingWith(std::string("last/") + locatorBytes(0, 12345, 3), "", true), 105, NotRun,
        kind(ZipFaultKind::Zip64LocatorDamaged));
    {
        BuiltZip zip = zip64Archive();
        patchLe32(zip.bytes, zip.zip64LocatorOffset + Zip64LocatorField::DiskCount, 2);
        row("locator says two disks", zip.bytes, 105, NotRun, kind(ZipFaultKind::Zip64LocatorDamaged));
        zip = zip64Archive();
        patchLe32(zip.bytes, zip.zip64LocatorOffset + Zip64LocatorField::DiskCount, 0);
        row("locator says no disk", zip.bytes, 105, NotRun, kind(ZipFaultKind::Zip64LocatorDamaged));
        zip = zip64Archive();
        patchLe32(zip.bytes, zip.zip64LocatorOffset + Zip64LocatorField::RecordDisk, 1);
        row("locator puts the record on disk 1", zip.bytes, 105, NotRun,
            kind(ZipFaultKind::Zip64LocatorDamaged));
    }
    {
        // Written although nothing needed it (zip -fz does so): the record where the locator points
        // confirms it, and its values must then agree.
        BuiltZip zip = zip64Archive();
        for (const std::uint64_t field : {EndRecordField::EntriesOnDisk, EndRecordField::Entries})
            patchLe16(zip.bytes, zip.endRecordOffset + field, 3);
        patchLe32(zip.bytes, zip.endRecordOffset + EndRecordField::DirectorySize,
                  static_cast<std::uint32_t>(zip.zip64EndRecordOffset - zip.centralDirectoryOffset));
        patchLe32(zip.bytes, zip.endRecordOffset + EndRecordField::DirectoryOffset,
                  static_cast<std::uint32_t>(zip.centralDirectoryOffset));
        row("zip64 records nothing needed", zip.bytes, 0, 0);
        patchLe64(zip.bytes, zip.zip64EndRecordOffset + Zip64EndRecordField::Entries, 4);
        row("zip64 records nothing needed, counts disagreeing", zip.bytes, 105, NotRun,
            kind(ZipFaultKind::Zip64RecordInconsistent));
    }
}

void EndRecordRulesTest::zip64Locator() {
    check();
}

// The last end record in the file is the one, unless an earlier one's comment reaches exactly to
// the end (then the later signature is text in that comment). A damaged last record is reported,
// never passed over for an earlier one.
void EndRecordRulesTest::endRecordCandidates_data() {
    addColumns();
    const BuiltZip inner = buildZip(baseEntries());
    std::vector<ZipBuilderEntry> entries = baseEntries();
    entries.push_back({"inner.zip", inner.bytes, 0});
    const BuiltZip outer = buildZip(entries);
    row("a stored archive as the last entry", outer.bytes, 0, 0);
    {
        std::string bytes = outer.bytes;
        patchLe16(bytes, outer.endRecordOffset + EndRecordField::CommentLength, 40);
        row("last end record's comment runs past the file, a stored archive before it", bytes, 104, NotRun,
            kind(ZipFaultKind::EndRecordCommentLength));
    }
    {
        std::string bytes = outer.bytes;
        patchLe16(bytes, outer.endRecordOffset + EndRecordField::Entries, 40);
        patchLe16(bytes, outer.endRecordOffset + EndRecordField::EntriesOnDisk, 40);
        row("last end record's directory too small for its entries", bytes, 104, NotRun,
            kind(ZipFaultKind::DirectorySizeTooSmall));
    }
    {
        std::string bytes = outer.bytes;
        patchLe16(bytes, outer.endRecordOffset + EndRecordField::EntriesOnDisk, 3);
        row("last end record's counts contradict each other", bytes, 104, NotRun,
            kind(ZipFaultKind::EntryCountMismatch));
    }
    {
        const std::string signatureInComment = std::string("see PK\x05\x06") + std::string(30, '-');
        row("comment holding an end record's signature",
            buildZip(baseEntries(), ZipBuilderOptions{.comment = signatureInComment}).bytes, 0, 0);
    }
    row("bytes after the end record", buildZip(baseEntries()).bytes + "trailing", 140, 0,
        kind(ZipFaultKind::BytesAfterEndRecord));
    {
        // An end record that counts no entries and no directory bytes hides the entries before it.
        const BuiltZip one = buildZip({{"lost.txt", sampleText(900), 8}});
        const auto countNothing = [](std::string& bytes, std::uint64_t endRecord) {
            patchLe16(bytes, endRecord + EndRecordField::Entries, 0);
            patchLe16(bytes, endRecord + EndRecordField::EntriesOnDisk, 0);
            patchLe32(bytes, endRecord + EndRecordField::DirectorySize, 0);
        };
        std::string bytes =
            one.bytes.substr(0, one.centralDirectoryOffset) + one.bytes.substr(one.endRecordOffset);
        countNothing(bytes, one.centralDirectoryOffset);
        row("end record counting no entries, one entry before it", bytes, 106, NotRun,
            kind(ZipFaultKind::EntriesNotInDirectory));
        bytes = one.bytes;
        countNothing(bytes, one.endRecordOffset);
        row("end record counting no entries, its directory still there", bytes, 106, NotRun,
            kind(ZipFaultKind::EntriesNotInDirectory));
        // Pointing past its directory, or at the file's start, it makes everything before it look
        // like data before an archive; the entries and their central headers are still there.
        for (const std::uint64_t offset : {one.endRecordOffset, std::uint64_t{0}}) {
            bytes = one.bytes;
            countNothing(bytes, one.endRecordOffset);
            patchLe32(bytes, one.endRecordOffset + EndRecordField::DirectoryOffset,
                      static_cast<std::uint32_t>(offset));
            row(offset == 0 ? "end record counting nothing at the file's start"
                            : "end record counting nothing past its directory",
                bytes, 106, NotRun, kind(ZipFaultKind::EntriesNotInDirectory));
        }
    }
}

void EndRecordRulesTest::endRecordCandidates() {
    check();
}

// An archive in one file is disk 0 of 1: every disk field must say so.
void EndRecordRulesTest::diskNumbers_data() {
    addColumns();
    const BuiltZip plain = buildZip(baseEntries());
    {
        std::string bytes = plain.bytes;
        patchLe16(bytes, plain.entries[1].centralHeaderOffset + CentralHeaderField::DiskStart, 1);
        row("entry starting on disk 1", bytes, 106, NotRun, kind(ZipFaultKind::EntryDiskWrong));
    }
    for (const int bit : {0, 7, 15}) {
        std::string bytes = plain.bytes;
        flipBit(bytes, plain.endRecordOffset + EndRecordField::Disk + bit / 8, bit % 8);
        QTest::newRow(qPrintable(QStringLiteral("end record's disk, bit %1 flipped").arg(bit)))
            << toBytes(bytes) << 104 << NotRun << kind(ZipFaultKind::EndRecordDisksDisagree);
        bytes = plain.bytes;
        flipBit(bytes, plain.endRecordOffset + EndRecordField::DirectoryDisk + bit / 8, bit % 8);
        QTest::newRow(qPrintable(QStringLiteral("end record's directory disk, bit %1 flipped").arg(bit)))
            << toBytes(bytes) << 104 << NotRun << kind(ZipFaultKind::EndRecordDisksDisagree);
    }
    {
        std::string bytes = plain.bytes;
        patchLe16(bytes, plain.endRecordOffset + EndRecordField::EntriesOnDisk, 2);
        row("end record's entries on this disk", bytes, 104, NotRun, kind(ZipFaultKind::EntryCountMismatch));
    }
    {
        BuiltZip zip = zip64Archive();
        patchLe32(zip.bytes, zip.zip64EndRecordOffset + Zip64EndRecordField::Disk, 1);
        row("zip64 end record's disk", zip.bytes, 105, NotRun, kind(ZipFaultKind::Zip64RecordInconsistent));
        zip = zip64Archive();
        patchLe32(zip.bytes, zip.zip64EndRecordOffset + Zip64EndRecordField::DirectoryDisk, 1);
        row("zip64 end record's directory disk", zip.bytes, 105, NotRun,
            kind(ZipFaultKind::Zip64RecordInconsistent));
        zip = zip64Archive();
        patchLe64(zip.bytes, zip.zip64EndRecordOffset + Zip64EndRecordField::EntriesOnDisk, 2);
        row("zip64 end record's entries on this disk", zip.bytes, 104, NotRun,
            kind(ZipFaultKind::EntryCountMismatch));
    }
}

void EndRecordRulesTest::diskNumbers() {
    check();
}

// Archives written by Info-ZIP's zip whose last entry is a zip archive stored as it is, so that an
// earlier, sound end record lies in the file before the archive's own. Cut at every byte from the
// start of the archive's end record to its last byte (and after its zip64 locator, for the zip64
// form), each must be reported as cut short: never read through the stored archive's end record.
void EndRecordRulesTest::cutInsideTheLastEndRecord() {
    if (QStandardPaths::findExecutable(QStringLiteral("zip")).isEmpty())
        QSKIP("zip is not installed");
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString script =
        QStringLiteral("printf 'readme of the outer archive\\n' > readme.txt && seq 1 2000 > numbers.txt && "
                       "zip -q inner.zip numbers.txt && zip -q -0 plain.zip readme.txt inner.zip && "
                       "zip -q -0 -fz zip64.zip readme.txt inner.zip");
    QProcess shell;
    shell.setWorkingDirectory(work.path());
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    QVERIFY(shell.waitForFinished(60000));
    QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0,
             shell.readAllStandardError().constData());

    ZipTester tester;
    QStringList failures;
    int cuts = 0;
    for (const char* name : {"plain.zip", "zip64.zip"}) {
        QFile file(QDir(work.path()).filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        const std::string archive(whole.constData(), static_cast<std::size_t>(whole.size()));
        // The whole archive is good, and so is the stored one inside it.
        QCOMPARE(runAsCallerInMemory(tester, archive).good, true);
        const std::size_t endRecord = archive.rfind(std::string("PK\x05\x06", 4));
        QCOMPARE(endRecord, archive.size() - 22);
        QVERIFY(archive.rfind(std::string("PK\x05\x06", 4), endRecord - 1) != std::string::npos);
        for (std::size_t kept = 0; kept < 22; ++kept) {
            const std::string cut = archive.substr(0, endRecord + kept);
            const std::string path = QDir(work.path()).filePath(QStringLiteral("cut.zip")).toStdString();
            writeFile(path, cut);
            ++cuts;
            for (const CallerVerdict& verdict :
                 {runAsCaller(tester, path), runAsCallerInMemory(tester, cut)}) {
                const std::vector<ZipFault>& faults = tester.lastFaults();
                const bool reported = faults.size() == 1 &&
                                      faults[0].kind == ZipFaultKind::EndRecordTruncated &&
                                      faults[0].offset == endRecord;
                if (verdict.probe != ZipResult::NotAnArchive || verdict.verify != NotRun || !reported)
                    failures << QStringLiteral(
                                    "%1 cut %2 bytes into its end record: probe %3, verify %4, %5 faults")
                                    .arg(QLatin1String(name))
                                    .arg(kept)
                                    .arg(verdict.probe)
                                    .arg(verdict.verify)
                                    .arg(faults.size());
            }
        }
    }
    QCOMPARE(cuts, 44);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(EndRecordRulesTest)
#include "end_record_rules_test.moc"
