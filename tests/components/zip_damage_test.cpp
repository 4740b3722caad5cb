// One archive per kind of damage (and per layout that must be accepted), each judged the way the
// test run judges it: the exact codes, and whether the archive comes out good or bad.

#include "judged_rows.h"
#include "sample_data.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace vellum;
using namespace vellum::testing;

namespace {

BuiltZip baseArchive(const ZipBuilderOptions& options = {}) {
    return buildZip(baseEntries(), options);
}

// A deflated entry whose stored bytes are given rather than compressed from its data.
ZipBuilderEntry withPayload(const std::string& name, const std::string& data, const std::string& payload) {
    ZipBuilderEntry entry{name, data, 8};
    entry.compressedData = payload;
    return entry;
}

// Copies the first central header in front of the end record, so that two entries share one local
// header and one span of data: the shape of an overlapping zip bomb.
std::string duplicateFirstCentralHeader(const BuiltZip& zip) {
    const std::uint64_t first = zip.entries[0].centralHeaderOffset;
    const std::uint64_t length = zip.entries[1].centralHeaderOffset - first;
    std::string bytes = zip.bytes;
    bytes.insert(zip.endRecordOffset, zip.bytes.substr(first, length));
    const std::uint64_t endRecord = zip.endRecordOffset + length;
    const auto count = static_cast<std::uint16_t>(readLe16(bytes, endRecord + EndRecordField::Entries) + 1);
    patchLe16(bytes, endRecord + EndRecordField::Entries, count);
    patchLe16(bytes, endRecord + EndRecordField::EntriesOnDisk, count);
    const std::uint32_t size = readLe32(bytes, endRecord + EndRecordField::DirectorySize);
    patchLe32(bytes, endRecord + EndRecordField::DirectorySize, static_cast<std::uint32_t>(size + length));
    return bytes;
}

std::string tarOf(const std::string& name, const std::string& content) {
    std::string header(512, '\0');
    header.replace(0, name.size(), name);
    header.replace(100, 7, "0000644");
    char size[12];
    std::snprintf(size, sizeof size, "%011o", static_cast<unsigned>(content.size()));
    header.replace(124, 11, size);
    header.replace(257, 5, "ustar");
    header[156] = '0';
    header.replace(148, 8, "        ");
    unsigned sum = 0;
    for (const char byte : header)
        sum += static_cast<unsigned char>(byte);
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%06o", sum);
    header.replace(148, 7, checksum, 7);
    std::string padded = content;
    padded.resize((content.size() + 511) / 512 * 512, '\0');
    return header + padded + std::string(1024, '\0');
}

} // namespace

class ZipDamageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folder.isValid()); }

    void archive_data();
    void archive();
    void unopenable_data();
    void unopenable();
    void truncationIsNeverGood();
    void stopAtFirstFaultStillJudgesBad();
    void faultsNameTheEntry();

private:
    QTemporaryDir m_folder;
};

void ZipDamageTest::archive_data() {
    addArchiveColumns();
    QTest::addColumn<bool>("good");

    const BuiltZip base = baseArchive();
    const ZipEntryLayout& stored = base.entries[0];
    const ZipEntryLayout& deflated = base.entries[1];
    auto damaged = [&](const char* name, auto&& patch, int probe, int verify, bool good) {
        std::string bytes = base.bytes;
        patch(bytes);
        QTest::newRow(name) << toBytes(bytes) << probe << verify << good;
    };
    auto built = [&](const char* name, const std::string& bytes, int probe, int verify, bool good) {
        QTest::newRow(name) << toBytes(bytes) << probe << verify << good;
    };

    // Data damage, found only by decompression.
    damaged(
        "bit flip in stored data", [&](std::string& b) { flipBit(b, stored.dataOffset + 1000, 3); }, 0, 110,
        false);
    damaged(
        "bit flip in deflated data",
        [&](std::string& b) { flipBit(b, deflated.dataOffset + deflated.compressedSize / 2, 5); }, 0, 110,
        false);
    damaged(
        "invalid deflate block type", [&](std::string& b) { b[deflated.dataOffset] |= 0x06; }, 0, 200, false);
    {
        const std::string text = sampleText(5000);
        const std::string stream = deflateRaw(text);
        built("deflate stream cut short inside its entry",
              buildZip({withPayload("cut.txt", text, stream.substr(0, stream.size() - 10))}).bytes, 0, 200,
              false);
        built("junk after the deflate stream inside the entry",
              buildZip({withPayload("junk.txt", text, stream + "JUNK")}).bytes, 0, 200, false);
        built("deflate stream of another text",
              buildZip({withPayload("other.txt", text, deflateRaw(sampleText(5000, 4)))}).bytes, 0, 110,
              false);
    }

    // Headers that disagree with one another.
    damaged(
        "CRC wrong only in its high half, in both headers",
        [&](std::string& b) {
            const std::uint32_t crc = deflated.crc ^ 0x5A5A0000u;
            patchLe32(b, deflated.localHeaderOffset + LocalHeaderField::Crc, crc);
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::Crc, crc);
        },
        0, 110, false);
    damaged(
        "central-only CRC changed",
        [&](std::string& b) {
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::Crc, 0x12345678);
        },
        107, NotRun, false);
    damaged(
        "local-only CRC changed",
        [&](std::string& b) { patchLe32(b, deflated.localHeaderOffset + LocalHeaderField::Crc, 0x12345678); },
        107, NotRun, false);
    damaged(
        "central-only compressed size changed",
        [&](std::string& b) {
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::CompressedSize,
                      static_cast<std::uint32_t>(deflated.compressedSize - 1));
        },
        107, NotRun, false);
    damaged(
        "central-only uncompressed size changed",
        [&](std::string& b) {
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::UncompressedSize, 19999);
        },
        107, NotRun, false);
    damaged(
        "local-only sizes changed",
        [&](std::string& b) {
            patchLe32(b, stored.localHeaderOffset + LocalHeaderField::CompressedSize, 2999);
            patchLe32(b, stored.localHeaderOffset + LocalHeaderField::UncompressedSize, 2999);
        },
        107, NotRun, false);
    damaged(
        "both sizes lying in both headers",
        [&](std::string& b) {
            for (const std::uint64_t size :
                 {stored.localHeaderOffset + LocalHeaderField::CompressedSize,
                  stored.localHeaderOffset + LocalHeaderField::UncompressedSize,
                  stored.centralHeaderOffset + CentralHeaderField::CompressedSize,
                  stored.centralHeaderOffset + CentralHeaderField::UncompressedSize})
                patchLe32(b, size, 2999);
        },
        0, 110, false);
    damaged(
        "uncompressed size overstated in both headers",
        [&](std::string& b) {
            patchLe32(b, deflated.localHeaderOffset + LocalHeaderField::UncompressedSize, 20001);
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::UncompressedSize, 20001);
        },
        0, 110, false);
    damaged(
        "uncompressed size understated in both headers",
        [&](std::string& b) {
            patchLe32(b, deflated.localHeaderOffset + LocalHeaderField::UncompressedSize, 19000);
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::UncompressedSize, 19000);
        },
        0, 110, false);
    damaged(
        "name mismatch",
        [&](std::string& b) { b[deflated.localHeaderOffset + LocalHeaderField::Name] = 'D'; }, 107, NotRun,
        false);
    damaged(
        "method mismatch",
        [&](std::string& b) { patchLe16(b, deflated.localHeaderOffset + LocalHeaderField::Method, 0); }, 107,
        NotRun, false);
    damaged(
        "local header signature damaged", [&](std::string& b) { b[deflated.localHeaderOffset] = 'X'; }, 107,
        NotRun, false);
    damaged(
        "encryption flag only in the local header",
        [&](std::string& b) { patchLe16(b, stored.localHeaderOffset + LocalHeaderField::Flags, 1); }, 107,
        NotRun, false);
    {
        std::vector<ZipBuilderEntry> entries = baseEntries();
        entries[1].dataDescriptor = true;
        const BuiltZip zip = buildZip(entries);
        std::string bytes = zip.bytes;
        patchLe32(bytes, zip.entries[1].descriptorOffset + 4, 0x0BADC0DE);
        built("descriptor CRC wrong", bytes, 109, NotRun, false);
        bytes = zip.bytes;
        patchLe32(bytes, zip.entries[1].descriptorOffset + 8, 1);
        built("descriptor size wrong", bytes, 109, NotRun, false);
    }

    // The end record and the central directory.
    damaged(
        "entry count wrong",
        [&](std::string& b) {
            patchLe16(b, base.endRecordOffset + EndRecordField::Entries, 4);
            patchLe16(b, base.endRecordOffset + EndRecordField::EntriesOnDisk, 4);
        },
        104, NotRun, false);
    damaged(
        "entry counts disagree",
        [&](std::string& b) { patchLe16(b, base.endRecordOffset + EndRecordField::EntriesOnDisk, 2); }, 104,
        NotRun, false);
    damaged(
        "directory offset too large",
        [&](std::string& b) {
            patchLe32(b, base.endRecordOffset + EndRecordField::DirectoryOffset,
                      static_cast<std::uint32_t>(base.centralDirectoryOffset + 10));
        },
        104, NotRun, false);
    damaged(
        "directory offset too small",
        [&](std::string& b) {
            patchLe32(b, base.endRecordOffset + EndRecordField::DirectoryOffset,
                      static_cast<std::uint32_t>(base.centralDirectoryOffset - 10));
        },
        104, NotRun, false);
    damaged(
        "directory size larger than the file",
        [&](std::string& b) {
            patchLe32(b, base.endRecordOffset + EndRecordField::DirectorySize, 0x7FFFFFFF);
        },
        104, NotRun, false);
    damaged(
        "directory size one header short",
        [&](std::string& b) {
            const std::uint32_t size = readLe32(b, base.endRecordOffset + EndRecordField::DirectorySize);
            const auto last =
                static_cast<std::uint32_t>(base.endRecordOffset - base.entries[2].centralHeaderOffset);
            patchLe32(b, base.endRecordOffset + EndRecordField::DirectorySize, size - last);
            patchLe32(b, base.endRecordOffset + EndRecordField::DirectoryOffset,
                      static_cast<std::uint32_t>(base.centralDirectoryOffset + last));
        },
        104, NotRun, false);
    damaged(
        "comment length past the end of the file",
        [&](std::string& b) { patchLe16(b, base.endRecordOffset + EndRecordField::CommentLength, 5); }, 104,
        NotRun, false);
    damaged(
        "central header signature damaged",
        [&](std::string& b) { b[base.entries[1].centralHeaderOffset] = 'Q'; }, 106, NotRun, false);
    damaged(
        "end record missing", [&](std::string& b) { b.resize(base.endRecordOffset); }, 103, NotRun, false);
    damaged(
        "end record signature damaged", [&](std::string& b) { b[base.endRecordOffset + 3] = 0x07; }, 103,
        NotRun, false);
    damaged(
        "zip64 field missing for a saturated size",
        [&](std::string& b) {
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::CompressedSize, 0xFFFFFFFF);
        },
        106, NotRun, false);
    damaged(
        "local header offset outside the file",
        [&](std::string& b) {
            patchLe32(b, deflated.centralHeaderOffset + CentralHeaderField::LocalHeaderOffset, 0x7FFFFF00);
        },
        108, NotRun, false);
    built("overlapping entries", duplicateFirstCentralHeader(base), 108, NotRun, false);
    {
        // A megabyte of zeros compresses to about a kilobyte; claiming two gigabytes for it is a lie.
        const BuiltZip zip = buildZip({{"zeros.bin", std::string(1 << 20, '\0'), 8}});
        std::string bytes = zip.bytes;
        patchLe32(bytes, zip.entries[0].localHeaderOffset + LocalHeaderField::UncompressedSize, 0x7FFFFFFF);
        patchLe32(bytes, zip.entries[0].centralHeaderOffset + CentralHeaderField::UncompressedSize,
                  0x7FFFFFFF);
        built("ratio bomb", bytes, 112, NotRun, false);
        built("real ratio of a megabyte of zeros", zip.bytes, 0, 0, true);
    }
    {
        std::vector<ZipBuilderEntry> entries = baseEntries();
        entries[1].centralExtra = std::string("\x99\x99\x40\x00"
                                              "abcd",
                                              8);
        built("extra-field overrun", buildZip(entries).bytes, 111, NotRun, false);
        entries = baseEntries();
        entries[1].localExtra = std::string("\x99\x99\x02\x00"
                                            "ab"
                                            "xy",
                                            8);
        built("extra-field leftover bytes", buildZip(entries).bytes, 111, NotRun, false);
        entries = baseEntries();
        entries[1].centralExtra = std::string("\x99\x99\x04\x00"
                                              "abcd",
                                              8);
        entries[1].localExtra = std::string("\x55\x54\x05\x00"
                                            "\x01\x02\x03\x04\x05",
                                            9);
        built("well-formed extra fields", buildZip(entries).bytes, 0, 0, true);
    }
    {
        ZipBuilderOptions options;
        options.zip64EndRecord = true;
        const BuiltZip zip = buildZip(baseEntries(), options);
        std::string bytes = zip.bytes;
        patchLe64(bytes, zip.zip64EndRecordOffset + Zip64EndRecordField::DirectorySize, 17);
        built("zip64 end record disagrees with the directory", bytes, 105, NotRun, false);
        bytes = zip.bytes;
        bytes[zip.zip64EndRecordOffset] = 'X';
        built("zip64 end record missing", bytes, 105, NotRun, false);
    }

    // Layouts that are good.
    const std::string stub = "#!/bin/sh\necho self-extracting\nexit 0\n" + std::string(500, 'S');
    {
        ZipBuilderOptions options;
        options.prefix = stub;
        built("prepended stub without adjusted offsets", baseArchive(options).bytes, 140, 0, true);
        options.adjustOffsetsForPrefix = true;
        built("prepended stub with adjusted offsets", baseArchive(options).bytes, 0, 0, true);
        options = {};
        options.prefix = stub;
        options.zip64EndRecord = true;
        built("prepended stub before a zip64 archive", baseArchive(options).bytes, 140, 0, true);
    }
    built("trailing bytes after the end record", base.bytes + std::string(100, '\0'), 140, 0, true);
    {
        ZipBuilderOptions options;
        options.comment = "An archive comment.";
        built("archive comment", baseArchive(options).bytes, 0, 0, true);
    }
    built("empty archive", buildZip({}).bytes, 0, 0, true);
    {
        const BuiltZip two =
            buildZip({{"kept.txt", sampleText(900), 8}, {"lost.txt", sampleText(700, 2), 0}});
        const std::uint64_t lost = two.entries[1].centralHeaderOffset;
        std::string bytes = two.bytes.substr(0, lost) + two.bytes.substr(two.endRecordOffset);
        patchLe16(bytes, lost + EndRecordField::Entries, 1);
        patchLe16(bytes, lost + EndRecordField::EntriesOnDisk, 1);
        patchLe32(bytes, lost + EndRecordField::DirectorySize,
                  static_cast<std::uint32_t>(lost - two.centralDirectoryOffset));
        built("directory listing 1 of 2 entries", bytes, 106, NotRun, false);
        std::vector<ZipBuilderEntry> entries = baseEntries();
        entries.insert(entries.begin(), {"inner.zip", two.bytes + base.bytes, 0});
        built("stored archives inside the first entry", buildZip(entries).bytes, 0, 0, true);
    }
    built("stored and deflated entries", base.bytes, 0, 0, true);
    built("empty entries",
          buildZip({{"empty-stored", "", 0}, {"empty-deflated", "", 8}, {"folder/", "", 0}}).bytes, 0, 0,
          true);
    for (const bool signature : {true, false}) {
        for (const bool zip64 : {false, true}) {
            std::vector<ZipBuilderEntry> entries = baseEntries();
            for (ZipBuilderEntry& entry : entries) {
                entry.dataDescriptor = true;
                entry.descriptorSignature = signature;
                entry.zip64 = zip64;
            }
            const std::string name = std::string("data descriptors ") + (signature ? "with" : "without") +
                                     " signature, " + (zip64 ? "8-byte" : "4-byte") + " sizes";
            built(name.c_str(), buildZip(entries).bytes, 0, 0, true);
        }
    }
    {
        std::vector<ZipBuilderEntry> entries = baseEntries();
        for (ZipBuilderEntry& entry : entries)
            entry.zip64 = true;
        ZipBuilderOptions options;
        options.zip64EndRecord = true;
        built("zip64 entries and end record", buildZip(entries, options).bytes, 0, 0, true);
        built("zip64 end record only", buildZip(baseEntries(), options).bytes, 0, 0, true);
    }
    {
        ZipBuilderEntry unicode{"r\xC3\xA9sum\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", sampleText(900), 8};
        unicode.extraFlags = 0x0800;
        built("Unicode names", buildZip({unicode}).bytes, 0, 0, true);
        built("CP437 names", buildZip({{"\x80\x81\x82 caf\x82.txt", sampleText(900), 8}}).bytes, 0, 0, true);
    }
    {
        std::vector<ZipBuilderEntry> entries;
        entries.reserve(10000);
        for (int index = 0; index < 10000; ++index)
            entries.push_back({"file" + std::to_string(index) + ".txt", "entry " + std::to_string(index), 0});
        built("10,000 entries", buildZip(entries).bytes, 0, 0, true);
    }
    {
        std::vector<ZipBuilderEntry> entries = baseEntries();
        entries[1].encrypted = true;
        built("encrypted entry", buildZip(entries).bytes, 0, 10, true);
        entries = baseEntries();
        entries[1].method = 97; // WavPack: defined, but nothing here decodes it
        built("method without a decoder", buildZip(entries).bytes, 0, 10, true);
        entries = baseEntries();
        entries[1].method = 200;
        built("method the zip format does not define", buildZip(entries).bytes, 0, 410, false);
    }
    damaged(
        "last part of a split archive, the others missing",
        [&](std::string& b) {
            patchLe16(b, base.endRecordOffset + EndRecordField::Disk, 2);
            patchLe16(b, base.endRecordOffset + EndRecordField::DirectoryDisk, 2);
        },
        101, NotRun, false);

    // Files that are not zip archives at all.
    built("zero-length file", "", 103, NotRun, false);
    built("text file named .zip", sampleText(5000), 103, NotRun, false);
    built("gzip file named .zip", gzipCompress(sampleText(5000)), 103, NotRun, false);
    built("tar file named .zip", tarOf("notes.txt", sampleText(5000)), 103, NotRun, false);
}

void ZipDamageTest::archive() {
    QFETCH(bool, good);
    judgeRow(m_folder.path(), good);
}

void ZipDamageTest::unopenable_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("makeFolder");
    QTest::newRow("missing file") << QStringLiteral("missing.zip") << false;
    QTest::newRow("folder named x.zip") << QStringLiteral("x.zip") << true;
}

void ZipDamageTest::unopenable() {
    QFETCH(QString, path);
    QFETCH(bool, makeFolder);
    const QString full = QDir(m_folder.path()).filePath(path);
    if (makeFolder)
        QVERIFY(QDir().mkpath(full));
    ZipTester tester;
    const CallerVerdict verdict = runAsCaller(tester, full.toStdString());
    QCOMPARE(verdict.probe, ZipResult::CannotOpen);
    QVERIFY(!verdict.good);
    QCOMPARE(tester.verifyArchive(), ZipResult::StructureDamaged);
}

// Cutting a good archive anywhere, at header boundaries and between them, must never leave
// something judged good, and never crash.
void ZipDamageTest::truncationIsNeverGood() {
    std::vector<ZipBuilderEntry> entries = baseEntries();
    entries.push_back({"described.txt", sampleText(4000, 9), 8, true});
    ZipBuilderOptions options;
    options.comment = "comment";
    const BuiltZip zip = buildZip(entries, options);

    std::vector<std::uint64_t> cuts;
    for (const ZipEntryLayout& entry : zip.entries) {
        for (const std::uint64_t boundary :
             {entry.localHeaderOffset, entry.dataOffset, entry.centralHeaderOffset,
              entry.dataOffset + entry.compressedSize, entry.descriptorOffset})
            cuts.insert(cuts.end(), {boundary, boundary + 1, boundary + 4, boundary + 29, boundary + 46});
    }
    cuts.insert(cuts.end(), {zip.centralDirectoryOffset, zip.endRecordOffset, zip.endRecordOffset + 4,
                             zip.endRecordOffset + 21, zip.endRecordOffset + 22, zip.bytes.size() - 1});
    for (std::uint64_t cut = 0; cut < zip.bytes.size(); cut += 31)
        cuts.push_back(cut);

    ZipTester tester;
    int checked = 0;
    for (const std::uint64_t cut : cuts) {
        if (cut == 0 || cut >= zip.bytes.size())
            continue;
        const CallerVerdict verdict = runAsCallerInMemory(tester, zip.bytes.substr(0, cut));
        if (verdict.good)
            QFAIL(qPrintable(QStringLiteral("cut at %1 judged good (probe %2, verify %3)")
                                 .arg(cut)
                                 .arg(verdict.probe)
                                 .arg(verdict.verify)));
        ++checked;
    }
    QVERIFY(checked > 300);
}

// With stopAtFirstFault set the component stops at the first fault; the verdict must stay the same.
void ZipDamageTest::stopAtFirstFaultStillJudgesBad() {
    BuiltZip zip = baseArchive();
    flipBit(zip.bytes, zip.entries[0].dataOffset + 5);
    flipBit(zip.bytes, zip.entries[2].dataOffset + 5);
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(zip.bytes.data()),
                                             zip.bytes.size());
    ZipTester tester;
    tester.stopAtFirstFault = true;
    QCOMPARE(tester.verifyBytes(view), ZipResult::DataMismatch);
    const std::size_t stoppedFaults = tester.lastFaults().size();
    tester.stopAtFirstFault = false;
    QVERIFY(tester.verifyBytes(view) != ZipResult::Verified);
    QCOMPARE(stoppedFaults, std::size_t{1});
    QVERIFY(tester.lastFaults().size() >= 2);
}

void ZipDamageTest::faultsNameTheEntry() {
    BuiltZip zip = baseArchive();
    patchLe32(zip.bytes, zip.entries[2].localHeaderOffset + LocalHeaderField::Crc, 1);
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(zip.bytes.data()),
                                             zip.bytes.size());
    ZipTester tester;
    QCOMPARE(tester.probeBytes(view), ZipResult::LocalHeaderMismatch);
    QCOMPARE(tester.lastFaults().size(), std::size_t{1});
    const ZipFault fault = tester.lastFaults().front();
    QCOMPARE(fault.kind, ZipFaultKind::LocalHeaderCrcMismatch);
    QCOMPARE(fault.entryIndex, std::int64_t{2});
    QCOMPARE(fault.offset, zip.entries[2].localHeaderOffset);
}

QTEST_GUILESS_MAIN(ZipDamageTest)
#include "zip_damage_test.moc"
