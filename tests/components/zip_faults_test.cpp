// The fault table: every kind has its message and a code that the caller's rules judge the way
// the kind deserves (damage bad, notes good), and the file filter selects the entries the probe
// decompresses.

#include "base/wildcard_match.h"
#include "caller_protocol.h"
#include "engine/zip_engine.h"
#include "zip/zip_faults.h"
#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <QTest>

#include <set>

using namespace vellum;
using namespace vellum::testing;

namespace {

// A file with an unreadable stretch, as a disk with a bad sector has.
class FailingSource final : public ByteSource {
public:
    FailingSource(const std::string& bytes, std::uint64_t badStart, std::uint64_t badEnd)
        : m_bytes(bytes), m_badStart(badStart), m_badEnd(badEnd) {}
    std::uint64_t size() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
        if (offset < m_badEnd && offset + buffer.size() > m_badStart)
            return false;
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), buffer.size(), buffer.begin());
        return true;
    }

private:
    std::string m_bytes;
    std::uint64_t m_badStart;
    std::uint64_t m_badEnd;
};

} // namespace

class ZipFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void everyKindHasAMessage();
    void everyKindIsJudgedAsItDeserves();
    void wildcard_data();
    void wildcard();
    void probeDecompressesFilteredEntries();
    void readErrorsAreNotDamage_data();
    void readErrorsAreNotDamage();
};

void ZipFaultsTest::everyKindHasAMessage() {
    std::set<std::string_view> messages;
    for (int index = 0; index < ZipFaultKindCount; ++index) {
        const std::string_view message = zipFaultMessage(static_cast<ZipFaultKind>(index));
        QVERIFY2(message.size() > 10, qPrintable(QStringLiteral("kind %1 has no message").arg(index)));
        QVERIFY2(message.back() == '.',
                 qPrintable(QStringLiteral("kind %1's message is not a sentence").arg(index)));
        messages.insert(message);
    }
    QCOMPARE(messages.size(), static_cast<std::size_t>(ZipFaultKindCount));
}

void ZipFaultsTest::everyKindIsJudgedAsItDeserves() {
    for (int index = 0; index < ZipFaultKindCount; ++index) {
        const auto kind = static_cast<ZipFaultKind>(index);
        const std::int16_t probe = zipProbeCode(kind);
        const std::int16_t verify = zipVerifyCode(kind);
        const QString name =
            QString::fromUtf8(zipFaultMessage(kind).data(), qsizetype(zipFaultMessage(kind).size()));
        if (zipFaultIsNote(kind)) {
            QVERIFY2(judgeGood(probe, verify), qPrintable(name));
        } else if (zipFaultIsDataFault(kind)) {
            // Found by decompression: bad from verify, and bad from a probe that decompressed it.
            QVERIFY2(!judgeGood(0, verify), qPrintable(name));
            QVERIFY2(!judgeGood(probe, -1), qPrintable(name));
        } else {
            QVERIFY2(probe >= 101 && !judgeGood(probe, -1), qPrintable(name));
            QCOMPARE(verify, ZipResult::StructureDamaged);
        }
        QVERIFY(zipProbeCodeRank(probe) > 0);
        QVERIFY(zipVerifyCodeRank(verify) > 0);
    }
}

void ZipFaultsTest::wildcard_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");
    QTest::newRow("extension") << "*.diz"
                               << "file_id.diz" << true;
    QTest::newRow("extension, other case") << "*.diz"
                                           << "FILE_ID.DIZ" << true;
    QTest::newRow("wrong extension") << "*.diz"
                                     << "file_id.txt" << false;
    QTest::newRow("extension as prefix only") << "*.diz"
                                              << "a.dizzy" << false;
    QTest::newRow("question marks") << "file_??.diz"
                                    << "file_id.diz" << true;
    QTest::newRow("question mark needs a character") << "a?"
                                                     << "a" << false;
    QTest::newRow("star matches nothing") << "a*b"
                                          << "ab" << true;
    QTest::newRow("several stars") << "*a*b*c*"
                                   << "xxaxxbxxcxx" << true;
    QTest::newRow("backtracking") << "*ab*ab"
                                  << "abxabyab" << true;
    QTest::newRow("no match after backtracking") << "*ab*abz"
                                                 << "abxabyab" << false;
    QTest::newRow("empty pattern") << ""
                                   << "anything" << false;
    QTest::newRow("star matches empty name") << "*"
                                             << "" << true;
    QTest::newRow("literal star in name") << "a*"
                                          << "a*" << true;
}

void ZipFaultsTest::wildcard() {
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, matches);
    QCOMPARE(wildcardMatch(pattern.toStdString(), text.toStdString()), matches);
}

// The probe decompresses only what the filter selects: damage in a selected entry shows in the
// probe (113); damage elsewhere waits for verify.
void ZipFaultsTest::probeDecompressesFilteredEntries() {
    std::vector<ZipBuilderEntry> entries{{"info/FILE_ID.DIZ", "Archive description line", 0},
                                         {"readme.txt", "Read me first, please.", 0}};
    BuiltZip zip = buildZip(entries);
    ZipTester tester;
    auto probe = [&](const std::string& filter) {
        tester.fileFilter = filter;
        return tester.probeBytes(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(zip.bytes.data()), zip.bytes.size()));
    };
    flipBit(zip.bytes, zip.entries[0].dataOffset + 2);
    QCOMPARE(probe("*.diz"), ZipResult::FilteredEntryDamaged);
    QCOMPARE(tester.lastFaults().front().entryIndex, std::int64_t{0});
    QCOMPARE(probe(""), ZipResult::Sound);
    QCOMPARE(probe("*.txt"), ZipResult::Sound);
    flipBit(zip.bytes, zip.entries[0].dataOffset + 2);
    flipBit(zip.bytes, zip.entries[1].dataOffset + 2);
    QCOMPARE(probe("*.diz"), ZipResult::Sound);
    QCOMPARE(probe("READ*"), ZipResult::FilteredEntryDamaged);
    // Verify with a filter checks only what it selects.
    tester.fileFilter = "*.diz";
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(zip.bytes.data()),
                                             zip.bytes.size());
    QCOMPARE(tester.verifyBytes(view), ZipResult::Verified);
    tester.fileFilter = "";
    QCOMPARE(tester.verifyBytes(view), ZipResult::DataMismatch);
}

void ZipFaultsTest::readErrorsAreNotDamage_data() {
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("probeFails");
    QTest::newRow("the whole file") << "all" << true;
    QTest::newRow("the end record") << "end" << true;
    QTest::newRow("the central directory") << "directory" << true;
    QTest::newRow("the middle of an entry's data") << "data" << false;
}

// An input/output error is reported as "cannot read" (102 from probe, 410 from verify), never as
// a kind of damage that would suggest the archive itself is broken.
void ZipFaultsTest::readErrorsAreNotDamage() {
    QFETCH(QString, where);
    QFETCH(bool, probeFails);
    // Two entries of 150 KB: larger than one read together, so their parts are read separately.
    std::string noise(150000, '\0');
    unsigned state = 1;
    for (char& byte : noise) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    const BuiltZip zip = buildZip({{"first.bin", noise, 0}, {"second.bin", noise, 0}});
    std::uint64_t badStart = 0;
    std::uint64_t badEnd = zip.bytes.size();
    if (where == "end") {
        badStart = zip.endRecordOffset + 10;
    } else if (where == "directory") {
        badStart = zip.centralDirectoryOffset + 10;
        badEnd = badStart + 1;
    } else if (where == "data") {
        // Away from the headers and from the end-record search over the last 64 KiB.
        badStart = zip.entries[0].dataOffset + 60000;
        badEnd = badStart + 1000;
    }
    FailingSource source(zip.bytes, badStart, badEnd);
    ZipEngine engine;
    std::vector<ZipFault> faults;
    ZipEngineSettings settings;
    const std::int16_t probe = engine.run(ZipOperation::Probe, source, settings, faults);
    QCOMPARE(probe, probeFails ? ZipResult::CannotRead : ZipResult::Sound);
    QCOMPARE(engine.run(ZipOperation::Verify, source, settings, faults), ZipResult::StructureDamaged);
    QCOMPARE(faults.size(), std::size_t{1});
    QCOMPARE(faults.front().kind, ZipFaultKind::CannotRead);
}

QTEST_GUILESS_MAIN(ZipFaultsTest)
#include "zip_faults_test.moc"
