// The rules that compare an entry's headers with each other and with what its encryption needs,
// one table per rule, and the archives real creators write, which every rule must leave good.

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

#include <algorithm>
#include <tuple>

using namespace vellum;
using namespace vellum::testing;

namespace {

constexpr int NoFault = -1;

QByteArray toBytes(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string fromBytes(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string field(std::uint16_t id, const std::string& data) {
    std::string out;
    appendLe16(out, id);
    appendLe16(out, data.size());
    return out + data;
}

std::string le32(std::uint32_t value) {
    std::string out;
    appendLe32(out, value);
    return out;
}

// The extended timestamp as Info-ZIP writes it: flags, then the times the flags name.
std::string timestamp(std::uint8_t flags, std::initializer_list<std::uint32_t> times) {
    std::string data(1, static_cast<char>(flags));
    for (const std::uint32_t time : times)
        data += le32(time);
    return field(0x5455, data);
}

// The AES field: vendor version 2, vendor "AE", strength, the method before encryption.
std::string aesField(std::uint8_t strength, std::uint16_t method) {
    std::string data;
    appendLe16(data, 2);
    data += "AE";
    data.push_back(static_cast<char>(strength));
    appendLe16(data, method);
    return field(0x9901, data);
}

struct Judgement {
    CallerVerdict verdict;
    std::vector<ZipFault> faults; // of both operations
};

Judgement judge(const std::string& bytes) {
    ZipTester tester;
    Judgement judgement;
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size());
    tester.fileFilter = "*.diz";
    judgement.verdict.probe = tester.probeBytes(view);
    judgement.faults = tester.lastFaults();
    if (probeGoesOn(judgement.verdict.probe)) {
        tester.fileFilter = "";
        judgement.verdict.verify = tester.verifyBytes(view);
        judgement.faults.insert(judgement.faults.end(), tester.lastFaults().begin(),
                                tester.lastFaults().end());
    }
    judgement.verdict.good = judgeGood(judgement.verdict.probe, judgement.verdict.verify);
    return judgement;
}

bool found(const Judgement& judgement, int kind) {
    return std::any_of(judgement.faults.begin(), judgement.faults.end(),
                       [&](const ZipFault& fault) { return static_cast<int>(fault.kind) == kind; });
}

QString describe(const Judgement& judgement) {
    QString text =
        QStringLiteral("probe %1 verify %2:").arg(judgement.verdict.probe).arg(judgement.verdict.verify);
    for (const ZipFault& fault : judgement.faults)
        text += QStringLiteral(" [%1]").arg(QString::fromUtf8(zipFaultMessage(fault.kind).data(),
                                                              qsizetype(zipFaultMessage(fault.kind).size())));
    return text;
}

// Each table gives the archive, whether it is good, and a fault kind it must report (a note for
// good archives), or none.
void addColumns() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("good");
    QTest::addColumn<int>("fault");
}

void addRow(const char* name, const std::string& bytes, bool good, int fault) {
    QTest::newRow(name) << toBytes(bytes) << good << fault;
}

void addRow(const char* name, const std::string& bytes, bool good, ZipFaultKind fault) {
    addRow(name, bytes, good, static_cast<int>(fault));
}

void checkRow() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, good);
    QFETCH(int, fault);
    const Judgement judgement = judge(fromBytes(bytes));
    QVERIFY2(judgement.verdict.good == good, qPrintable(describe(judgement)));
    if (fault != NoFault)
        QVERIFY2(found(judgement, fault), qPrintable(describe(judgement)));
    if (good) {
        for (const ZipFault& each : judgement.faults)
            QVERIFY2(zipFaultIsNote(each.kind), qPrintable(describe(judgement)));
    }
}

ZipBuilderEntry storedEntry(const std::string& name, const std::string& data) {
    return ZipBuilderEntry{name, data, 0};
}

} // namespace

class HeaderRulesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void extraFieldPadding_data();
    void extraFieldPadding() { checkRow(); }
    void sharedFlags_data();
    void sharedFlags() { checkRow(); }
    void deferredLocalValues_data();
    void deferredLocalValues() { checkRow(); }
    void localSizesBesideZip64_data();
    void localSizesBesideZip64() { checkRow(); }
    void encryptionSizes_data();
    void encryptionSizes() { checkRow(); }
    void copiesThatDiffer_data();
    void copiesThatDiffer() { checkRow(); }
    void realCreators_data();
    void realCreators();

private:
    QTemporaryDir m_folder;
};

void HeaderRulesTest::initTestCase() {
    QVERIFY(m_folder.isValid());
    const std::string sources = m_folder.filePath(QStringLiteral("src")).toStdString();
    writeFile(sources + "/text.txt", sampleText(5000));
    writeFile(sources + "/noise.bin", sampleBinary(3000));
    writeFile(sources + "/empty.txt", "");
    writeFile(sources + "/tiny.txt", "hi\n");
    writeFile(sources + "/sub/more.txt", sampleText(7000, 5));
}

// An extra area, local or central, may end in 1 to 3 zero bytes of padding; nothing else may be left.
void HeaderRulesTest::extraFieldPadding_data() {
    addColumns();
    const auto withLocalExtra = [](const std::string& extra) {
        ZipBuilderEntry padded = storedEntry("lib/x.so", sampleBinary(500));
        padded.localExtra = extra;
        return buildZip({{"manifest.xml", sampleText(900), 8}, padded}).bytes;
    };
    const auto withCentralExtra = [](const std::string& extra) {
        ZipBuilderEntry padded = storedEntry("lib/x.so", sampleBinary(500));
        padded.centralExtra = extra;
        return buildZip({padded}).bytes;
    };
    const std::string owner = field(0x7875, std::string("\x01\x04\0\0\0\0\x04\0\0\0\0", 11));
    addRow("no padding", withLocalExtra(""), true, NoFault);
    for (const std::size_t zeros : {1, 2, 3}) {
        for (const std::string& tail : {std::string(zeros, '\0'), owner + std::string(zeros, '\0')}) {
            const std::string name =
                std::to_string(tail.size()) + " bytes, " + std::to_string(zeros) + " zero";
            addRow(("local, " + name).c_str(), withLocalExtra(tail), true, NoFault);
            addRow(("central, " + name).c_str(), withCentralExtra(tail), true, NoFault);
        }
    }
    addRow("one non-zero byte", withLocalExtra("\x01"), false, ZipFaultKind::ExtraFieldsDamaged);
    addRow("three bytes, the last non-zero", withLocalExtra(std::string("\0\0\x07", 3)), false,
           ZipFaultKind::ExtraFieldsDamaged);
    addRow("four bytes of a field that runs past the area", withLocalExtra(std::string("\0\0\x08\0", 4)),
           false, ZipFaultKind::ExtraFieldsDamaged);
    addRow("a field cut short after a whole one", withLocalExtra(owner + field(0x5455, "\x01").substr(0, 4)),
           false, ZipFaultKind::ExtraFieldsDamaged);
    addRow("a non-zero byte after a central field", withCentralExtra(owner + "\x01"), false,
           ZipFaultKind::ExtraFieldsDamaged);
}

// Encryption, strong encryption and the data descriptor flag must be the same in both headers.
void HeaderRulesTest::sharedFlags_data() {
    addColumns();
    const BuiltZip base =
        buildZip({storedEntry("stored.txt", sampleText(3000)), {"packed.txt", sampleText(9000), 8}});
    const auto withFlags = [&](std::uint64_t header, std::uint16_t bits) {
        std::string bytes = base.bytes;
        patchLe16(bytes, header, static_cast<std::uint16_t>(readLe16(bytes, header) ^ bits));
        return bytes;
    };
    const std::uint64_t local = base.entries[1].localHeaderOffset + LocalHeaderField::Flags;
    const std::uint64_t central = base.entries[1].centralHeaderOffset + CentralHeaderField::Flags;
    addRow("encryption in the local header only", withFlags(local, 0x0001), false,
           ZipFaultKind::LocalHeaderFlagsMismatch);
    addRow("descriptor flag in the local header only", withFlags(local, 0x0008), false,
           ZipFaultKind::LocalHeaderFlagsMismatch);
    addRow("descriptor flag in the central header only", withFlags(central, 0x0008), false,
           ZipFaultKind::LocalHeaderFlagsMismatch);
    addRow("strong encryption in the local header only", withFlags(local, 0x0040), false,
           ZipFaultKind::LocalHeaderFlagsMismatch);
    addRow("strong encryption in the central header only", withFlags(central, 0x0040), false,
           ZipFaultKind::LocalHeaderFlagsMismatch);
    addRow("deflate option bits differ", withFlags(local, 0x0006), true, NoFault);
    addRow("UTF-8 flag differs", withFlags(central, 0x0800), true, NoFault);
}

// With a data descriptor, each local value is zero or already the central one.
void HeaderRulesTest::deferredLocalValues_data() {
    addColumns();
    ZipBuilderEntry streamed{"streamed.txt", sampleText(6000), 8};
    streamed.dataDescriptor = true;
    const BuiltZip base = buildZip({streamed});
    const std::uint64_t local = base.entries[0].localHeaderOffset;
    const auto patched = [&](std::initializer_list<std::pair<std::uint64_t, std::uint32_t>> fields) {
        std::string bytes = base.bytes;
        for (const auto& [offset, value] : fields)
            patchLe32(bytes, local + offset, value);
        return bytes;
    };
    const std::uint32_t crc = base.entries[0].crc;
    const auto compressed = static_cast<std::uint32_t>(base.entries[0].compressedSize);
    addRow("all zero", base.bytes, true, NoFault);
    addRow("all final",
           patched({{LocalHeaderField::Crc, crc},
                    {LocalHeaderField::CompressedSize, compressed},
                    {LocalHeaderField::UncompressedSize, 6000}}),
           true, NoFault);
    addRow("only the uncompressed size final", patched({{LocalHeaderField::UncompressedSize, 6000}}), true,
           NoFault);
    addRow("CRC wrong", patched({{LocalHeaderField::Crc, crc ^ 0x10}}), false,
           ZipFaultKind::LocalHeaderCrcMismatch);
    addRow("compressed size wrong", patched({{LocalHeaderField::CompressedSize, compressed + 1}}), false,
           ZipFaultKind::LocalHeaderSizeMismatch);
    addRow("uncompressed size wrong", patched({{LocalHeaderField::UncompressedSize, 6000 ^ 0x400}}), false,
           ZipFaultKind::LocalHeaderSizeMismatch);
    addRow("the time in the CRC of a plain entry",
           patched({{LocalHeaderField::Crc, std::uint32_t{0x6000} << 16}}), false,
           ZipFaultKind::LocalHeaderCrcMismatch);

    // Streaming an encrypted entry, Info-ZIP puts the modification time in the CRC's high half.
    ZipBuilderEntry encrypted = storedEntry("secret.txt", sampleText(200));
    encrypted.compressedData = sampleBinary(212);
    encrypted.encrypted = true;
    encrypted.dataDescriptor = true;
    BuiltZip secret = buildZip({encrypted});
    std::string timeInCrc = secret.bytes;
    patchLe32(timeInCrc, secret.entries[0].localHeaderOffset + LocalHeaderField::Crc,
              std::uint32_t{0x6000} << 16);
    addRow("the time in the CRC of an encrypted entry", timeInCrc, true, NoFault);
    std::string dateInCrc = secret.bytes;
    patchLe32(dateInCrc, secret.entries[0].localHeaderOffset + LocalHeaderField::Crc,
              std::uint32_t{0x5821} << 16);
    addRow("the date in the CRC of an encrypted entry", dateInCrc, false,
           ZipFaultKind::LocalHeaderCrcMismatch);
}

// A zip64 field in the local header does not excuse a 32-bit size that is not saturated.
void HeaderRulesTest::localSizesBesideZip64_data() {
    addColumns();
    ZipBuilderEntry wide{"wide.txt", sampleText(4000), 8};
    wide.zip64 = true;
    const BuiltZip base = buildZip({wide});
    const std::uint64_t local = base.entries[0].localHeaderOffset;
    const auto withSizes = [&](std::uint32_t compressed, std::uint32_t uncompressed) {
        std::string bytes = base.bytes;
        patchLe32(bytes, local + LocalHeaderField::CompressedSize, compressed);
        patchLe32(bytes, local + LocalHeaderField::UncompressedSize, uncompressed);
        return bytes;
    };
    const auto compressed = static_cast<std::uint32_t>(base.entries[0].compressedSize);
    addRow("both saturated", base.bytes, true, NoFault);
    addRow("uncompressed size given, right", withSizes(0xFFFFFFFF, 4000), true, NoFault);
    addRow("compressed size given, right", withSizes(compressed, 0xFFFFFFFF), true, NoFault);
    addRow("uncompressed size given, one bit off", withSizes(0xFFFFFFFF, 4000 ^ 0x40), false,
           ZipFaultKind::LocalHeaderSizeMismatch);
    addRow("compressed size given, one bit off", withSizes(compressed ^ 0x2, 0xFFFFFFFF), false,
           ZipFaultKind::LocalHeaderSizeMismatch);
}

// What can be checked of encryption without the password: the bytes it adds to the data.
void HeaderRulesTest::encryptionSizes_data() {
    addColumns();
    const std::string text = sampleText(300);
    const auto encrypted = [&](std::uint16_t method, std::size_t stored, const std::string& extra = "") {
        ZipBuilderEntry entry{"secret.txt", text, method};
        entry.encrypted = true;
        entry.compressedData = sampleBinary(stored);
        entry.localExtra = extra;
        entry.centralExtra = extra;
        return buildZip({{"plain.txt", sampleText(700), 8}, entry}).bytes;
    };
    addRow("traditional, stored, 12 bytes more", encrypted(0, 312), true, ZipFaultKind::EntryEncrypted);
    addRow("traditional, stored, 11 bytes more", encrypted(0, 311), false,
           ZipFaultKind::EncryptedSizeImpossible);
    addRow("traditional, stored, 13 bytes more", encrypted(0, 313), false,
           ZipFaultKind::EncryptedSizeImpossible);
    addRow("traditional, deflated, 12 bytes", encrypted(8, 12), true, ZipFaultKind::EntryEncrypted);
    addRow("traditional, deflated, 11 bytes", encrypted(8, 11), false, ZipFaultKind::EncryptedSizeImpossible);
    addRow("AES-256, stored, salt, verifier and code more", encrypted(99, 300 + 16 + 2 + 10, aesField(3, 0)),
           true, ZipFaultKind::EntryEncrypted);
    addRow("AES-128, stored", encrypted(99, 300 + 8 + 12, aesField(1, 0)), true,
           ZipFaultKind::EntryEncrypted);
    addRow("AES-192, stored", encrypted(99, 300 + 12 + 12, aesField(2, 0)), true,
           ZipFaultKind::EntryEncrypted);
    addRow("AES-256, stored, sized for AES-128", encrypted(99, 300 + 8 + 12, aesField(3, 0)), false,
           ZipFaultKind::EncryptedSizeImpossible);
    addRow("AES-256, deflated", encrypted(99, 150, aesField(3, 8)), true, ZipFaultKind::EntryEncrypted);
    addRow("AES-256, deflated, shorter than its salt and code", encrypted(99, 27, aesField(3, 8)), false,
           ZipFaultKind::EncryptedSizeImpossible);
    addRow("AES without its field", encrypted(99, 328), false, ZipFaultKind::AesFieldMissing);
    addRow("AES field of an unknown strength", encrypted(99, 328, aesField(4, 0)), false,
           ZipFaultKind::AesFieldMissing);
    // One copy of the AES field damaged; cut to 5 or 6 bytes, it leaves zeros that look like padding.
    for (const auto& [at, value, fault] :
         std::vector<std::tuple<std::size_t, char, ZipFaultKind>>{{2, 5, ZipFaultKind::AesFieldMissing},
                                                                  {2, 6, ZipFaultKind::AesFieldMissing},
                                                                  {2, 8, ZipFaultKind::ExtraFieldsDamaged},
                                                                  {6, 'F', ZipFaultKind::AesFieldMissing}}) {
        for (const bool local : {true, false}) {
            std::string bytes = encrypted(99, 328, aesField(3, 0));
            bytes[(local ? bytes.find(aesField(3, 0)) : bytes.rfind(aesField(3, 0))) + at] = value;
            const std::string name = (local ? "local" : "central") + std::string(" AES field, byte ") +
                                     std::to_string(at) + " = " + std::to_string(value);
            addRow(name.c_str(), bytes, false, fault);
        }
    }

    // Flags set by damage on an entry that is not encrypted.
    const BuiltZip plain = buildZip({{"plain.txt", sampleText(700), 8}, storedEntry("stored.txt", text)});
    const auto withFlagsInBoth = [&](std::uint16_t bits) {
        std::string bytes = plain.bytes;
        patchLe16(bytes, plain.entries[1].localHeaderOffset + LocalHeaderField::Flags, bits);
        patchLe16(bytes, plain.entries[1].centralHeaderOffset + CentralHeaderField::Flags, bits);
        return bytes;
    };
    addRow("stray encryption flag on a stored entry", withFlagsInBoth(0x0001), false,
           ZipFaultKind::EncryptedSizeImpossible);
    addRow("strong encryption without encryption", withFlagsInBoth(0x0040), false,
           ZipFaultKind::EncryptionFlagsInconsistent);
    addRow("strong encryption, sizes not checked", withFlagsInBoth(0x0041), true,
           ZipFaultKind::EntryEncrypted);
    ZipBuilderEntry aesWithoutFlag{"secret.txt", text, 99};
    aesWithoutFlag.compressedData = sampleBinary(328);
    aesWithoutFlag.localExtra = aesWithoutFlag.centralExtra = aesField(3, 0);
    addRow("AES method without encryption", buildZip({aesWithoutFlag}).bytes, false,
           ZipFaultKind::EncryptionFlagsInconsistent);
}

// Copies that no reader needs are noted when they differ, never called damage.
void HeaderRulesTest::copiesThatDiffer_data() {
    addColumns();
    const auto withExtras = [](const std::string& local, const std::string& central) {
        ZipBuilderEntry entry{"text.txt", sampleText(2000), 8};
        entry.localExtra = local;
        entry.centralExtra = central;
        return buildZip({{"first.txt", sampleText(500), 8}, entry}).bytes;
    };
    const BuiltZip base = buildZip({{"first.txt", sampleText(500), 8}, {"text.txt", sampleText(2000), 8}});
    const auto patched16 = [&](std::uint64_t offset, std::uint16_t value) {
        std::string bytes = base.bytes;
        patchLe16(bytes, base.entries[1].localHeaderOffset + offset, value);
        return bytes;
    };
    const std::string owner = field(0x7875, std::string("\x01\x04\xe8\x03\0\0\x04\xe8\x03\0\0", 11));
    const std::string otherOwner = field(0x7875, std::string("\x01\x04\xe9\x03\0\0\x04\xe8\x03\0\0", 11));
    const std::string ntfs = field(0x000a, std::string(4, '\0') + field(1, std::string(24, '\x11')));

    addRow("version needed differs", patched16(LocalHeaderField::VersionNeeded, 10), true,
           ZipFaultKind::LocalVersionNeededDiffers);
    addRow("time differs", patched16(LocalHeaderField::Time, 0x6001), true, ZipFaultKind::LocalTimeDiffers);
    addRow("date differs", patched16(LocalHeaderField::Date, 0x5822), true, ZipFaultKind::LocalTimeDiffers);
    addRow("modification time in the timestamps differs",
           withExtras(timestamp(1, {1000}), timestamp(1, {1001})), true,
           ZipFaultKind::LocalExtraFieldDiffers);
    addRow("owner differs", withExtras(owner, otherOwner), true, ZipFaultKind::LocalExtraFieldDiffers);
    addRow("owner differs after an extra local field",
           withExtras(field(0xcafe, "") + timestamp(1, {7}) + owner, timestamp(1, {7}) + otherOwner), true,
           ZipFaultKind::LocalExtraFieldDiffers);
    addRow("NTFS times differ",
           withExtras(ntfs, field(0x000a, std::string(4, '\0') + field(1, std::string(24, '\x12')))), true,
           ZipFaultKind::LocalExtraFieldDiffers);

    // Differences that are not disagreements: nothing is noted.
    const auto noNote = [&](const char* name, const std::string& bytes) {
        addRow(name, bytes, true, NoFault);
    };
    noNote("same copies", withExtras(timestamp(3, {5, 6}) + owner, timestamp(3, {5}) + owner));
    noNote("access and creation times only in the local copy",
           withExtras(timestamp(7, {5, 6, 8}), timestamp(7, {5})));
    noNote("NTFS times only in the central header", withExtras("", ntfs));
    noNote("a jar marker only in the local header", withExtras(field(0xcafe, ""), ""));
    noNote("an unknown field differs", withExtras(field(0x4242, "ab"), field(0x4242, "cd")));
    noNote("a field only in the local header, other copies equal",
           withExtras(owner + timestamp(1, {9}), owner));
}

// Archives written by real tools at test time: every one must be good, with no damage found.
void HeaderRulesTest::realCreators_data() {
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("script");

    const QString files = QStringLiteral("text.txt noise.bin empty.txt tiny.txt");
    const auto row = [](const char* name, const char* tool, const QString& script) {
        QTest::newRow(name) << QString::fromLatin1(tool) << script;
    };
    row("zip stored", "zip", QStringLiteral("zip -q -0 -r ../out.zip %1 sub").arg(files));
    row("zip best", "zip", QStringLiteral("zip -q -9 -r ../out.zip %1 sub").arg(files));
    row("zip encrypted", "zip", QStringLiteral("zip -q -e -P secret ../out.zip %1").arg(files));
    row("zip encrypted stored", "zip", QStringLiteral("zip -q -0 -e -P secret ../out.zip %1").arg(files));
    row("zip forced zip64", "zip", QStringLiteral("zip -q -fz ../out.zip %1").arg(files));
    row("zip streaming files", "zip", QStringLiteral("zip -q - %1 | cat > ../out.zip").arg(files));
    row("zip streaming stored", "zip", QStringLiteral("zip -q -0 - %1 | cat > ../out.zip").arg(files));
    row("zip streaming standard input", "zip", QStringLiteral("echo x | zip -q - - | cat > ../out.zip"));
    row("zip streaming encrypted", "zip",
        QStringLiteral("zip -q -e -P secret - %1 | cat > ../out.zip").arg(files));
    for (const char* method : {"Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd"}) {
        const QByteArray name = QByteArray("7zz ") + method;
        row(name.constData(), "7zz",
            QStringLiteral("7zz a -tzip -mm=%1 ../out.zip %2 sub >/dev/null")
                .arg(QLatin1String(method), files));
    }
    row("7zz ZipCrypto", "7zz",
        QStringLiteral("7zz a -tzip -mem=ZipCrypto -psecret ../out.zip %1 >/dev/null").arg(files));
    row("7zz ZipCrypto stored", "7zz",
        QStringLiteral("7zz a -tzip -mm=Copy -mem=ZipCrypto -psecret ../out.zip %1 >/dev/null").arg(files));
    for (const char* strength : {"AES128", "AES192", "AES256"}) {
        const QByteArray name = QByteArray("7zz stored ") + strength;
        row(name.constData(), "7zz",
            QStringLiteral("7zz a -tzip -mm=Copy -mem=%1 -psecret ../out.zip %2 >/dev/null")
                .arg(QLatin1String(strength), files));
    }
    row("7zz AES256 deflated", "7zz",
        QStringLiteral("7zz a -tzip -mem=AES256 -psecret ../out.zip %1 >/dev/null").arg(files));
    row("bsdtar", "bsdtar", QStringLiteral("bsdtar --format zip -cf ../out.zip %1 sub").arg(files));
    row("bsdtar stored", "bsdtar",
        QStringLiteral("bsdtar --format zip --options zip:compression=store -cf ../out.zip %1 sub")
            .arg(files));
    row("bsdtar streaming", "bsdtar",
        QStringLiteral("bsdtar --format zip -cf - %1 | cat > ../out.zip").arg(files));
    row("jar", "jar", QStringLiteral("jar cf ../out.zip %1 sub").arg(files));
    row("jar stored", "jar", QStringLiteral("jar cf0 ../out.zip %1 sub").arg(files));

    // Python's zipfile, writing files, strings and streams, to a file and to a pipe.
    const QString python =
        QStringLiteral("python3 - <<'END' %4\n"
                       "import sys, zipfile\n"
                       "method = zipfile.%1\n"
                       "target = open('../out.zip', 'wb') if %2 else sys.stdout.buffer\n"
                       "with zipfile.ZipFile(target, 'w', method) as archive:\n"
                       "    for name in ['text.txt', 'noise.bin', 'empty.txt', 'tiny.txt']:\n"
                       "        archive.write(name)\n"
                       "    archive.writestr('written.txt', 'written ' * 100)\n"
                       "    with archive.open('streamed.txt', 'w', force_zip64=%3) as entry:\n"
                       "        entry.write(b'streamed ' * 200)\n"
                       "END\n");
    const auto zipfile = [&](const char* method, const char* toFile, const char* forceZip64,
                             const char* pipe) {
        return python.arg(QLatin1String(method), QLatin1String(toFile), QLatin1String(forceZip64),
                          QLatin1String(pipe));
    };
    row("python stored", "python3", zipfile("ZIP_STORED", "True", "False", ""));
    row("python deflated", "python3", zipfile("ZIP_DEFLATED", "True", "False", ""));
    row("python bzip2", "python3", zipfile("ZIP_BZIP2", "True", "False", ""));
    row("python lzma", "python3", zipfile("ZIP_LZMA", "True", "False", ""));
    row("python forced zip64", "python3", zipfile("ZIP_DEFLATED", "True", "True", ""));
    row("python streaming to a pipe", "python3",
        zipfile("ZIP_DEFLATED", "False", "False", "| cat > ../out.zip"));

    // An aligned package, as zipalign leaves one: stored entries' local extra areas padded with zero
    // bytes so that every stored entry's data starts on a 4-byte boundary.
    row("aligned package", "python3",
        QStringLiteral(
            "python3 - <<'END'\n"
            "import struct, zlib\n"
            "entries = [('AndroidManifest.xml', open('text.txt', 'rb').read(), 8),\n"
            "           ('resources.arsc', open('noise.bin', 'rb').read(), 0),\n"
            "           ('res/raw/a.txt', b'hi', 0), ('res/raw/b.txt', b'hey', 0),\n"
            "           ('lib/x.so', open('tiny.txt', 'rb').read(), 0), ('classes.dex', b'dex', 0)]\n"
            "out = bytearray(); central = bytearray()\n"
            "for name, data, method in entries:\n"
            "    name = name.encode(); crc = zlib.crc32(data)\n"
            "    packed = data if method == 0 else zlib.compress(data, 9)[2:-4]\n"
            "    offset = len(out)\n"
            "    extra = bytes((-(offset + 30 + len(name))) % 4) if method == 0 else b''\n"
            "    out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, method, 0x6000, 0x5821, crc,\n"
            "                       len(packed), len(data), len(name), len(extra)) + name + extra + packed\n"
            "    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x031e, 20, 0, method, 0x6000, "
            "0x5821,\n"
            "                           crc, len(packed), len(data), len(name), 0, 0, 0, 0, 0o100644 << 16,\n"
            "                           offset) + name\n"
            "start = len(out); out += central\n"
            "out += struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(entries), len(entries), len(central), "
            "start, 0)\n"
            "open('../out.zip', 'wb').write(out)\n"
            "END\n"));
    // A document package: an uncompressed "mimetype" first, the rest deflated.
    row("document package", "zip",
        QStringLiteral("printf application/vnd.oasis.opendocument.text > mimetype && zip -q -X -0 ../out.zip "
                       "mimetype && "
                       "zip -q -X -r ../out.zip %1 sub && rm mimetype")
            .arg(files));
}

void HeaderRulesTest::realCreators() {
    QFETCH(QString, tool);
    QFETCH(QString, script);
    if (QStandardPaths::findExecutable(tool).isEmpty())
        QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));
    const QString archive = m_folder.filePath(QStringLiteral("out.zip"));
    QFile::remove(archive);
    QProcess shell;
    shell.setWorkingDirectory(m_folder.filePath(QStringLiteral("src")));
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    QVERIFY(shell.waitForFinished(120000));
    QVERIFY2(shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0,
             shell.readAllStandardError().constData());

    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const Judgement judgement = judge(fromBytes(file.readAll()));
    QVERIFY2(judgement.verdict.good, qPrintable(describe(judgement)));
    for (const ZipFault& fault : judgement.faults)
        QVERIFY2(zipFaultIsNote(fault.kind), qPrintable(describe(judgement)));
}

QTEST_GUILESS_MAIN(HeaderRulesTest)
#include "header_rules_test.moc"
