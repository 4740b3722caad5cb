#pragma once

// Tables of archives for the component's tests: each row holds an archive's bytes and the codes the
// test run must get for it, judged from a file as the test run judges it and again from memory,
// where nothing but the source differs, so the codes must too.

#include "caller_protocol.h"
#include "sample_data.h"
#include "zip_builder.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <optional>

namespace vellum::testing {

inline constexpr int NotRun = -1; // the verify code of a row whose probe stops the caller
inline constexpr int NoFault = -1;

// Stored and deflated entries, text and binary: the archive most rows damage.
inline std::vector<ZipBuilderEntry> baseEntries() {
    return {
        {"readme.txt", sampleText(3000, 2), 0},
        {"docs/notes.txt", sampleText(20000, 3), 8},
        {"data.bin", sampleBinary(8000), 8},
    };
}

inline QByteArray toBytes(const std::string& bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The columns every row has; a table adds its own after them.
inline void addArchiveColumns() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("probe");
    QTest::addColumn<int>("verify");
}

// Writes the row's archive into folder and judges it. When given, good is the verdict the row
// expects, and fault a kind that must be among the faults found in the file.
inline void judgeRow(const QString& folder, std::optional<bool> good, int fault = NoFault) {
    QFETCH(QByteArray, bytes);
    QFETCH(int, probe);
    QFETCH(int, verify);
    const std::string path = QDir(folder).filePath("archive.zip").toStdString();
    writeFile(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    ZipTester tester;
    const CallerVerdict verdict = runAsCaller(tester, path);
    QCOMPARE(verdict.probe, probe);
    QCOMPARE(verdict.verify, verify);
    if (good)
        QCOMPARE(verdict.good, *good);
    const std::vector<ZipFault>& faults = tester.lastFaults();
    if (fault != NoFault)
        QVERIFY(std::any_of(faults.begin(), faults.end(),
                            [&](const ZipFault& found) { return static_cast<int>(found.kind) == fault; }));
    const CallerVerdict inMemory = runAsCallerInMemory(tester, std::string(bytes.constData(), bytes.size()));
    QCOMPARE(inMemory.probe, verdict.probe);
    QCOMPARE(inMemory.verify, verdict.verify);
}

} // namespace vellum::testing
