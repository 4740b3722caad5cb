// The report files a run leaves: errors.txt and the errors.log record, line by line.

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

} // namespace

class ReportTest : public QObject {
    Q_OBJECT
private slots:
    void headerAndCountsLines();
    void runWithBadArchivesWritesBothFiles();
    void runWithoutBadArchivesAppendsFourLines();
    void interactiveRunHasNoSourceField();
    void unwritableReportNeitherOpensAStaleOne();
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

    harness.runFrom();

    QCOMPARE(harness.state.BadCount, 3);
    std::vector<std::string> entries(harness.state.BadArchives.begin(),
                                     harness.state.BadArchives.begin() + 3);
    const auto report = harness.reportLines("errors.txt");
    QCOMPARE(report.size(), std::size_t{4});
    QVERIFY2(isHeader(report[0], "", "Command line"), report[0].c_str());
    QCOMPARE(std::vector<std::string>(report.begin() + 1, report.end()), entries);

    const auto log = harness.reportLines("errors.log");
    QCOMPARE(log.size(), std::size_t{7});
    QVERIFY2(isHeader(log[0], "", "Command line"), log[0].c_str());
    QCOMPARE(log[1], std::string(" 4 tested - 3 bad"));
    QCOMPARE(log[2], harness.shown());
    QCOMPARE(std::vector<std::string>(log.begin() + 3, log.begin() + 6), entries);
    QCOMPARE(log[6], std::string());

    QCOMPARE(harness.sound.requests.size(), std::size_t{1});
    QCOMPARE(harness.sound.requests[0].path, harness.applicationFolder() + "/error.wav");
    QVERIFY(harness.sound.requests[0].mode == platform::SoundMode::Asynchronous);
    QCOMPARE(harness.launcher.requests.size(), std::size_t{1});
    QCOMPARE(harness.launcher.requests[0].commandLine,
             "notepad.exe " + harness.applicationFolder() + "/errors.txt");
    QVERIFY(harness.launcher.requests[0].style == platform::WindowStyle::ShowNormal);
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
    QCOMPARE(log[3], harness.shown());
    QCOMPARE(log[4], std::string());
    QCOMPARE(harness.reportLines("errors.txt"), std::vector<std::string>{"an earlier report"});
    QVERIFY(harness.sound.requests.empty());
    QVERIFY(harness.launcher.requests.empty());
}

void ReportTest::interactiveRunHasNoSourceField() {
    RunHarness harness("");
    harness.writeBadArchive("bad.zip");
    harness.window.picker.chosenFolder = harness.tree();

    harness.run.Command1_Click();

    QCOMPARE(harness.window.picker.browseCalls, 1);
    const auto report = harness.reportLines("errors.txt");
    QVERIFY2(isHeader(report.at(0), "", ""), report.at(0).c_str());
}

void ReportTest::unwritableReportNeitherOpensAStaleOne() {
    // errors.txt cannot be written (a folder stands in its place): the log record is still whole,
    // and the viewer is not started on anything.
    RunHarness harness;
    harness.writeBadArchive("bad.zip");
    QDir().mkpath(QString::fromStdString(harness.applicationFolder() + "/errors.txt"));

    harness.runFrom();

    const auto log = harness.reportLines("errors.log");
    QCOMPARE(log.size(), std::size_t{5});
    QCOMPARE(log[3], harness.shown("bad.zip"));
    QVERIFY(harness.launcher.requests.empty());
    QCOMPARE(harness.sound.requests.size(), std::size_t{1});
}

QTEST_GUILESS_MAIN(ReportTest)
#include "report_test.moc"
