// The report files a run leaves: errors.txt and the errors.log record, line by line.

#include "file_size_limit.h"
#include "report.h"
#include "run_harness.h"

#include <QRegularExpression>
#include <QtTest>

using namespace vellum;
using namespace vellum::testing;

namespace {

const QRegularExpression headerPattern(R"(^\d\d-\d\d-\d{4} \d\d:\d\d:\d\d (Aborted!)? (Command line)?$)");

bool isHeader(const std::string& line, const char* abortField, const char* sourceField) {
    const auto match = headerPattern.match(QString::fromStdString(line));
    return match.hasMatch() && match.captured(1) == abortField && match.captured(2) == sourceField;
}

// A run that found one bad archive, whose name would break a line if written as it is.
RunRecord runWithOneBadArchive() {
    RunRecord record;
    record.inputsLine = "/data/Archives/";
    record.badArchives = {"/data/Archives/new\nline.zip"};
    record.tested = 2;
    record.startedFromCommandLine = true;
    return record;
}

const std::vector<std::string> recordOfOneBadArchive = {" 2 tested - 1 bad", "/data/Archives/",
                                                        "/data/Archives/new\\nline.zip", ""};

std::vector<std::string> failedPaths(const ReportOutcome& outcome) {
    std::vector<std::string> paths;
    for (const auto& failure : outcome.failures)
        paths.push_back(failure.path);
    return paths;
}

} // namespace

class ReportTest : public QObject {
    Q_OBJECT
private slots:
    void headerAndCountsLines();
    void runWithBadArchivesWritesBothFiles();
    void runWithoutBadArchivesAppendsFourLines();
    void interactiveRunHasNoSourceField();
    void failuresAreNamedAndKeepEarlierFiles_data();
    void failuresAreNamedAndKeepEarlierFiles();
    void explicitReportFolder_data();
    void explicitReportFolder();
};

void ReportTest::headerAndCountsLines() {
    std::tm time{};
    time.tm_year = 99;
    time.tm_mon = 2;
    time.tm_mday = 7;
    time.tm_hour = 14;
    time.tm_min = 5;
    time.tm_sec = 9;
    QCOMPARE(reportHeaderLine(time, "", ""), std::string("03-07-1999 14:05:09  "));
    QCOMPARE(reportHeaderLine(time, "Aborted!", ""), std::string("03-07-1999 14:05:09 Aborted! "));
    QCOMPARE(reportHeaderLine(time, "", "Command line"), std::string("03-07-1999 14:05:09  Command line"));
    QCOMPARE(reportCountsLine(12, 3), std::string(" 12 tested - 3 bad"));
    QCOMPARE(reportCountsLine(1, 0), std::string(" 1 tested - 0 bad"));
}

void ReportTest::runWithBadArchivesWritesBothFiles() {
    RunHarness harness;
    harness.makeFolder("b");
    harness.writeBadArchive("first.zip");
    harness.writeGoodArchive("good.zip");
    harness.writeBadArchive("b/second.zip");
    harness.writeBadArchive("b/third.zip");
    writeFile(harness.applicationFolder() + "/errors.txt",
              "an older report that is longer than the new one\r\n"
              "with more lines\r\nthan it\r\nhas\r\nhere\r\n");

    RunSummary summary = harness.runFrom();

    QCOMPARE(summary.record.badArchives.size(), std::size_t(3));
    std::vector<std::string> entries(summary.record.badArchives.begin(),
                                     summary.record.badArchives.begin() + 3);
    const auto report = harness.reportLines("errors.txt");
    QCOMPARE(report.size(), std::size_t{4});
    QVERIFY2(isHeader(report[0], "", "Command line"), report[0].c_str());
    QCOMPARE(std::vector<std::string>(report.begin() + 1, report.end()), entries);

    const auto log = harness.reportLines("errors.log");
    QCOMPARE(log.size(), std::size_t{7});
    QVERIFY2(isHeader(log[0], "", "Command line"), log[0].c_str());
    QCOMPARE(log[1], std::string(" 4 tested - 3 bad"));
    QCOMPARE(log[2], harness.tree());
    QCOMPARE(std::vector<std::string>(log.begin() + 3, log.begin() + 6), entries);
    QCOMPARE(log[6], std::string());

    QCOMPARE(harness.sound.requests.size(), std::size_t{1});
    QCOMPARE(harness.sound.requests[0].path, harness.applicationFolder() + "/error.wav");
    QVERIFY(harness.sound.requests[0].mode == platform::SoundMode::Asynchronous);
    QCOMPARE(harness.desktop.requests.size(), std::size_t{1});
    QCOMPARE(harness.desktop.requests[0].intent, platform::DesktopIntent::TextFile);
    QCOMPARE(harness.desktop.requests[0].target, harness.applicationFolder() + "/errors.txt");
}

void ReportTest::runWithoutBadArchivesAppendsFourLines() {
    RunHarness harness;
    harness.writeGoodArchive("good.zip");
    const std::string earlierReport = "an earlier report\r\n";
    writeFile(harness.applicationFolder() + "/errors.txt", earlierReport);
    writeFile(harness.applicationFolder() + "/errors.log", "an earlier record\r\n");

    harness.runFrom();

    const auto log = harness.reportLines("errors.log");
    QCOMPARE(log.size(), std::size_t{5});
    QCOMPARE(log[0], std::string("an earlier record"));
    QVERIFY2(isHeader(log[1], "", "Command line"), log[1].c_str());
    QCOMPARE(log[2], std::string(" 1 tested - 0 bad"));
    QCOMPARE(log[3], harness.tree());
    QCOMPARE(log[4], std::string());
    QCOMPARE(harness.reportLines("errors.txt"), std::vector<std::string>{"an earlier report"});
    QVERIFY(harness.sound.requests.empty());
    QVERIFY(harness.desktop.requests.empty());
}

void ReportTest::interactiveRunHasNoSourceField() {
    RunHarness harness(false);
    harness.writeBadArchive("bad.zip");

    harness.runFrom();

    const auto report = harness.reportLines("errors.txt");
    QVERIFY2(isHeader(report.at(0), "", ""), report.at(0).c_str());
}

void ReportTest::failuresAreNamedAndKeepEarlierFiles_data() {
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<bool>("viewerAllowed");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<bool>("viewerStarted");

    QTest::newRow("nothing in the way") << "" << true << QStringList() << true;
    QTest::newRow("no display") << "" << false << QStringList() << false;
    QTest::newRow("a folder named errors.txt") << "folder" << true << QStringList{"errors.txt"} << false;
    QTest::newRow("full disk") << "full disk" << true << QStringList{"errors.txt", "errors.log"} << false;
}

void ReportTest::failuresAreNamedAndKeepEarlierFiles() {
    QFETCH(QString, obstacle);
    QFETCH(bool, viewerAllowed);
    QFETCH(QStringList, failing);
    QFETCH(bool, viewerStarted);
    RunHarness harness(true, viewerAllowed);
    const std::string reportPath = harness.applicationFolder() + "/errors.txt";
    const std::string logPath = harness.applicationFolder() + "/errors.log";
    if (obstacle == "folder")
        QVERIFY(QDir().mkdir(QString::fromStdString(reportPath)));
    else
        writeFile(reportPath, "old report\r\n");
    writeFile(logPath, "old record\r\n");
    const RunRecord record = runWithOneBadArchive();

    ReportOutcome outcome;
    {
        std::optional<FileSizeLimit> limit;
        if (obstacle == "full disk")
            limit.emplace(16);
        outcome = writeRunReport(record, ReportPlace{harness.applicationFolder(), {}});
    }
    harness.view.runEnded(RunSummary{.record = record, .report = outcome});

    QCOMPARE(outcome.folder, harness.applicationFolder());
    std::vector<std::string> expectedFailures;
    for (const QString& name : failing)
        expectedFailures.push_back(harness.applicationFolder() + "/" + name.toStdString());
    QCOMPARE(failedPaths(outcome), expectedFailures);
    QCOMPARE(harness.sound.requests.size(), std::size_t{1});
    QCOMPARE(harness.desktop.requests.size(), std::size_t{viewerStarted ? 1u : 0u});

    const auto report = harness.reportLines("errors.txt");
    if (failing.contains("errors.txt")) {
        QCOMPARE(report, std::vector<std::string>(obstacle == "folder" ? 0 : 1, "old report"));
    } else {
        QCOMPARE(report.size(), std::size_t{2});
        QVERIFY2(isHeader(report[0], "", "Command line"), report[0].c_str());
        QCOMPARE(report[1], recordOfOneBadArchive[2]);
    }
    const auto log = harness.reportLines("errors.log");
    if (failing.contains("errors.log")) {
        QCOMPARE(log, std::vector<std::string>{"old record"});
    } else {
        QCOMPARE(log.size(), std::size_t{6});
        QCOMPARE(log[0], std::string("old record"));
        QVERIFY2(isHeader(log[1], "", "Command line"), log[1].c_str());
        QCOMPARE(std::vector<std::string>(log.begin() + 2, log.end()), recordOfOneBadArchive);
    }
}

void ReportTest::explicitReportFolder_data() {
    QTest::addColumn<bool>("blocked");
    QTest::newRow("missing folder is created") << false;
    QTest::newRow("a file in its place") << true;
}

void ReportTest::explicitReportFolder() {
    QFETCH(bool, blocked);
    RunHarness harness;
    const std::string folder = harness.tree() + "reports/latest";
    if (blocked) {
        harness.makeFolder("reports");
        writeFile(folder, "in the way\n");
    }

    const ReportOutcome outcome =
        writeRunReport(runWithOneBadArchive(), ReportPlace{harness.applicationFolder(), folder});
    harness.view.runEnded(RunSummary{.record = runWithOneBadArchive(), .report = outcome});

    QCOMPARE(outcome.folder, folder);
    QCOMPARE(failedPaths(outcome), blocked ? std::vector<std::string>{folder} : std::vector<std::string>{});
    QCOMPARE(linesOf(folder + "/errors.log").size(), std::size_t{blocked ? 0u : 5u});
    QCOMPARE(linesOf(folder + "/errors.txt").size(), std::size_t{blocked ? 0u : 2u});
    QVERIFY(harness.reportLines("errors.log").empty());
    QCOMPARE(harness.desktop.requests.size(), std::size_t{blocked ? 0u : 1u});
    if (!blocked)
        QCOMPARE(harness.desktop.requests[0].target, folder + "/errors.txt");
}

QTEST_GUILESS_MAIN(ReportTest)
#include "report_test.moc"
