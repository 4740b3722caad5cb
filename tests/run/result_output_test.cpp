// What a run prints of each archive it judges, over real archives and the real component: the
// reason line of -v and the JSON object of --json for every sort of damage, the verdict that tells
// unverified archives apart while the report keeps counting them good, and the text helpers the
// JSON relies on.

#include "fault_text.h"
#include "result_output.h"
#include "run_harness.h"

#include <nlohmann/json.hpp>

#include <QtTest>

#include <array>
#include <cstdio>
#include <regex>
#include <set>

#include <unistd.h>

using namespace vellum;
using namespace vellum::testing;

namespace {

// Everything an observer wrote into a scratch file, read back once the run is over.
class CapturedStream {
public:
    CapturedStream() : m_file(std::tmpfile()), m_stream(::fileno(m_file)) {}
    ~CapturedStream() { std::fclose(m_file); }
    ResultStream& stream() { return m_stream; }
    std::string text() const {
        std::string content;
        std::array<char, 4096> buffer;
        for (ssize_t got; (got = ::pread(::fileno(m_file), buffer.data(), buffer.size(),
                                         static_cast<off_t>(content.size()))) > 0;)
            content.append(buffer.data(), static_cast<std::size_t>(got));
        return content;
    }

private:
    std::FILE* m_file;
    ResultStream m_stream;
};

std::string withFlippedData(BuiltZip zip, std::size_t entry, std::size_t at) {
    zip.bytes[zip.entries[entry].dataOffset + at] ^= 0x01;
    return zip.bytes;
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

struct DamageCase {
    std::string bytes;
    std::string verdict;
    std::string reason;    // the -v line after "path: verdict: "; empty for a good archive
    std::string firstKind; // kind of the first fault or note; empty when none
};

DamageCase crcMismatch() {
    const std::string data(200, 'd');
    BuiltZip zip = buildZip({{"docs/a.txt", data, 0}});
    std::string damaged = data;
    damaged[7] ^= 0x01;
    return {withFlippedData(zip, 0, 7), "bad",
            "entry \"docs/a.txt\": CRC-32 is " + hex32(crc32Of(damaged)) + ", the central header says " +
                hex32(crc32Of(data)),
            "crc_mismatch"};
}

DamageCase sizeMismatch() {
    BuiltZip zip = buildZip({{"size.txt", std::string(500, 's')}});
    // Both headers claim one byte more than the stream holds.
    patchLe32(zip.bytes, zip.entries[0].localHeaderOffset + LocalHeaderField::UncompressedSize, 501);
    patchLe32(zip.bytes, zip.entries[0].centralHeaderOffset + CentralHeaderField::UncompressedSize, 501);
    return {zip.bytes, "bad", "entry \"size.txt\": 500 bytes decompressed, the central header says 501",
            "size_mismatch"};
}

DamageCase localNameMismatch() {
    BuiltZip zip = buildZip({{"first.txt", "one"}, {"second.txt", "two"}});
    zip.bytes[zip.entries[1].localHeaderOffset + LocalHeaderField::Name] = 'S';
    return {zip.bytes, "bad",
            "entry \"second.txt\": the local header's name differs from the central header's at offset " +
                std::to_string(zip.entries[1].localHeaderOffset),
            "local_header_name_mismatch"};
}

DamageCase severalDamagedEntries() {
    BuiltZip zip = buildZip({{"a.bin", std::string(300, 'a'), 0},
                             {"b.bin", std::string(300, 'b'), 0},
                             {"c.bin", std::string(300, 'c'), 0}});
    std::string bytes = withFlippedData(zip, 0, 1);
    bytes[zip.entries[2].dataOffset + 1] ^= 0x01;
    const std::string first = std::string(300, 'a').replace(1, 1, 1, static_cast<char>('a' ^ 0x01));
    return {bytes, "bad",
            "entry \"a.bin\": CRC-32 is " + hex32(crc32Of(first)) + ", the central header says " +
                hex32(crc32Of(std::string(300, 'a'))) + ", and 1 more",
            "crc_mismatch"};
}

DamageCase encryptedEntries() {
    ZipBuilderEntry secret{"secret.txt", "ciphertext!", 0};
    secret.encrypted = true;
    // Traditional encryption puts a 12-byte header before the data.
    secret.compressedData = std::string(12, 'h') + secret.data;
    ZipBuilderEntry other = secret;
    other.name = "other.txt";
    return {buildZip({{"plain.txt", "readable"}, secret, other}).bytes, "unverified",
            "entry \"secret.txt\": the entry is encrypted and cannot be tested, and 1 more",
            "entry_encrypted"};
}

} // namespace

Q_DECLARE_METATYPE(DamageCase)

class ResultOutputTest : public QObject {
    Q_OBJECT
private slots:
    void reasonsAndJsonForEveryDamage_data();
    void reasonsAndJsonForEveryDamage();
    void faultKindsHaveNamesOfTheirOwn();
    void verdictRuleKeepsUnverifiedGoodForTheReport();
    void utf8AndBase64();
};

void ResultOutputTest::reasonsAndJsonForEveryDamage_data() {
    QTest::addColumn<DamageCase>("damage");
    QTest::newRow("good") << DamageCase{buildZip({{"a.txt", "fine"}}).bytes, "good", "", ""};
    QTest::newRow("CRC-32 mismatch with both values") << crcMismatch();
    QTest::newRow("size mismatch with both values") << sizeMismatch();
    QTest::newRow("stream damaged") << [] {
        ZipBuilderEntry entry{"broken.txt", std::string(100, 'b')};
        entry.compressedData = std::string(40, '\xff');
        return DamageCase{buildZip({entry}).bytes, "bad",
                          "entry \"broken.txt\": the entry's compressed data is damaged", "stream_damaged"};
    }();
    QTest::newRow("local header disagrees, with its offset") << localNameMismatch();
    QTest::newRow("not an archive") << DamageCase{
        "plain text, no zip at all\n", "bad", "no end of central directory record: this is not a zip archive",
        "end_record_missing"};
    QTest::newRow("cut short") << [] {
        std::string bytes = buildZip({{"a.txt", std::string(500, 'a'), 0}}).bytes;
        bytes.resize(bytes.size() / 2);
        return DamageCase{
            bytes, "bad",
            "the archive is cut short: it has local headers but no end of central directory record",
            "end_record_missing"};
    }();
    QTest::newRow("several damaged entries") << severalDamagedEntries();
    QTest::newRow("encrypted entries are unverified") << encryptedEntries();
    QTest::newRow("data before the archive is a note")
        << DamageCase{buildZip({{"a.txt", "stub ahead"}}, {.prefix = "MZ a stub"}).bytes, "good", "",
                      "data_before_archive"};
}

void ResultOutputTest::reasonsAndJsonForEveryDamage() {
    QFETCH(DamageCase, damage);
    RunHarness harness;
    writeFile(harness.tree() + "case.zip", damage.bytes);
    CapturedStream reasons;
    CapturedStream json;
    ReasonLines reasonLines(reasons.stream());
    JsonLines jsonLines(json.stream());
    harness.run.addObserver(reasonLines);
    harness.run.addObserver(jsonLines);

    const RunSummary run = harness.runFrom();

    const std::string path = harness.tree() + "case.zip";
    const std::string expectedLine =
        damage.reason.empty() ? "" : path + ": " + damage.verdict + ": " + damage.reason + "\n";
    QCOMPARE(QString::fromStdString(reasons.text()), QString::fromStdString(expectedLine));
    // The report lists bad archives alone; an unverified one counts as good there.
    QCOMPARE(run.record.badArchives.size(), std::size_t(damage.verdict == "bad" ? 1 : 0));

    std::vector<nlohmann::json> lines;
    std::string text = json.text();
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(nlohmann::json::parse(text.substr(start, end - start)));
    QCOMPARE(lines.size(), std::size_t{2});
    const nlohmann::json& archive = lines[0];
    QCOMPARE(archive["path"].get<std::string>(), path);
    QVERIFY(!archive.contains("path_b64"));
    QCOMPARE(archive["size"].get<std::size_t>(), damage.bytes.size());
    QVERIFY(std::regex_match(archive["mtime"].get<std::string>(),
                             std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    QCOMPARE(archive["verdict"].get<std::string>(), damage.verdict);
    QCOMPARE(archive["verify_code"].is_null(), !probeGoesOn(archive["probe_code"].get<std::int16_t>()));
    // The first fault (or, for a good archive with findings, the first note) is the one the
    // reason names; its message is the reason's text after the entry.
    const nlohmann::json& listed = damage.verdict == "bad" ? archive["faults"] : archive["notes"];
    if (damage.verdict == "good" && damage.firstKind.empty()) {
        QVERIFY(archive["faults"].empty() && archive["notes"].empty());
    } else {
        QVERIFY(!listed.empty());
        QCOMPARE(listed[0]["kind"].get<std::string>(), damage.firstKind);
        const std::string message = listed[0]["message"].get<std::string>();
        QVERIFY2(damage.reason.empty() || damage.reason.find(message) != std::string::npos, message.c_str());
        if (listed[0]["entry"].is_null()) {
            QVERIFY(listed[0]["name"].is_null());
        } else {
            const std::string quoted = "\"" + listed[0]["name"].get<std::string>() + "\"";
            QVERIFY(damage.reason.empty() || damage.reason.starts_with("entry " + quoted));
        }
    }
    for (const nlohmann::json& fault : archive["faults"])
        QCOMPARE(fault["severity"].get<std::string>(), std::string("damage"));
    for (const nlohmann::json& note : archive["notes"])
        QVERIFY(note["severity"] == "note" || note["severity"] == "unverifiable");

    const nlohmann::json& summary = lines[1]["summary"];
    QCOMPARE(summary["tested"].get<int>(), 1);
    QCOMPARE(summary["bad"].get<int>(), damage.verdict == "bad" ? 1 : 0);
    QCOMPARE(summary["unverified"].get<int>(), damage.verdict == "unverified" ? 1 : 0);
    QCOMPARE(summary["bytes"].get<std::size_t>(), damage.bytes.size());
}

void ResultOutputTest::faultKindsHaveNamesOfTheirOwn() {
    std::set<std::string> names;
    for (int index = 0; index < ZipFaultKindCount; ++index) {
        const auto kind = static_cast<ZipFaultKind>(index);
        const std::string name = faultKindName(kind);
        QVERIFY2(!name.starts_with("fault_"), qPrintable(QString("kind %1 has no name").arg(index)));
        QVERIFY2(names.insert(name).second, name.c_str());
        QCOMPARE(faultSeverity(kind) == "damage", !zipFaultIsNote(kind));
    }
    // A missing part of a split set is told by its file name, which the fault keeps as a number.
    ZipFault missingPart{ZipFaultKind::SplitPartMissing, -1, 0};
    missingPart.splitPart = 2;
    QCOMPARE(verdictReason("/backups/Set.ZIP", FullVerdict::Bad, {missingPart}),
             std::string("incomplete split set: Set.Z02 missing"));
    // Entries missing from the directory are counted, in words that fit the count.
    ZipFault lost{ZipFaultKind::EntriesNotInDirectory, -1, 30};
    lost.found = 1;
    QCOMPARE(faultDescription("", lost), std::string("1 entry is not in the central directory"));
    lost.found = 2;
    QCOMPARE(faultDescription("", lost), std::string("2 entries are not in the central directory"));
}

void ResultOutputTest::verdictRuleKeepsUnverifiedGoodForTheReport() {
    struct Row {
        std::int16_t probe;
        std::optional<std::int16_t> verify;
        FullVerdict full;
        ArchiveVerdict report;
    };
    const Row rows[] = {
        {0, 0, FullVerdict::Good, ArchiveVerdict::Good},
        {140, 0, FullVerdict::Good, ArchiveVerdict::Good},
        {0, 10, FullVerdict::Unverified, ArchiveVerdict::Good},
        {140, 10, FullVerdict::Unverified, ArchiveVerdict::Good},
        {0, 110, FullVerdict::Bad, ArchiveVerdict::Bad},
        {107, std::nullopt, FullVerdict::Bad, ArchiveVerdict::Bad},
        {0, 190, FullVerdict::Aborted, ArchiveVerdict::Aborted},
    };
    for (const Row& row : rows) {
        QCOMPARE(judgeArchiveFully(row.probe, row.verify), row.full);
        QCOMPARE(judgeArchive(row.probe, row.verify), row.report);
    }
}

void ResultOutputTest::utf8AndBase64() {
    QVERIFY(isValidUtf8("plain \xc3\xa9t\xc3\xa9 \xf0\x9f\x93\xa6"));
    for (const char* invalid : {"\xc0\xaf", "\xed\xa0\x80", "\xe2\x82", "caf\xe9", "\xf4\x90\x80\x80"})
        QVERIFY2(!isValidUtf8(invalid), invalid);
    QCOMPARE(base64(""), std::string());
    QCOMPARE(base64("f"), std::string("Zg=="));
    QCOMPARE(base64("fo"), std::string("Zm8="));
    QCOMPARE(base64("foo"), std::string("Zm9v"));
    QCOMPARE(base64("caf\xe9.zip"), std::string("Y2Fm6S56aXA="));
    QCOMPARE(isoUtcTime(1733346465), std::string("2024-12-04T21:07:45Z"));
}

QTEST_GUILESS_MAIN(ResultOutputTest)
#include "result_output_test.moc"
