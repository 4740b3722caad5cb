// The archive step of a run: how it judges the component's result codes, handles an abort, counts,
// and follows the component's progress.

#include "condition_wait.h"
#include "run_harness.h"

#include <QtTest>

#include <algorithm>
#include <chrono>
#include <regex>

using namespace vellum;
using namespace vellum::testing;

Q_DECLARE_METATYPE(std::int16_t)

class ArchiveStepTest : public QObject {
    Q_OBJECT
private slots:
    void judgesResultCodes_data();
    void judgesResultCodes();
    void abortReportedByComponentStopsTheWalk();
    void stoppedWalkDropsAnnouncedArchives();
    void countsLabelAfterFirstArchive();
    void leftoverAbortDoesNotEndNextOperation();
    void progressFollowsStatusEvents();
    void longArchiveShowsItsProgress();
    void laterRunListsOnlyItsOwnBadArchives();
};

void ArchiveStepTest::judgesResultCodes_data() {
    QTest::addColumn<std::int16_t>("probe");
    QTest::addColumn<std::int16_t>("verify");
    QTest::addColumn<bool>("verified");
    QTest::addColumn<bool>("bad");

    auto row = [](const char* name, int probe, int verify, bool verified, bool bad) {
        QTest::newRow(name) << static_cast<std::int16_t>(probe) << static_cast<std::int16_t>(verify)
                            << verified << bad;
    };
    row("probe 0 leads to a good verify", 0, 0, true, false);
    row("probe 140 leads to verify", 140, 0, true, false);
    row("probe 1 is good without verify", 1, 0, false, false);
    row("probe 100 is good without verify", 100, 0, false, false);
    row("negative probe is good", -5, 0, false, false);
    row("probe 101 is bad", 101, 0, false, true);
    row("probe 139 is bad", 139, 0, false, true);
    row("probe 141 is bad", 141, 0, false, true);
    row("probe 189 is bad", 189, 0, false, true);
    row("probe 191 is bad", 191, 0, false, true);
    row("probe 32767 is bad", 32767, 0, false, true);
    row("verify 110 is bad", 0, 110, true, true);
    row("verify 200 is bad", 140, 200, true, true);
    row("verify 410 is bad", 0, 410, true, true);
    row("verify 111 is good", 0, 111, true, false);
    row("verify 1 is good", 0, 1, true, false);
    row("verify 10 is good", 0, 10, true, false);
}

void ArchiveStepTest::judgesResultCodes() {
    QFETCH(std::int16_t, probe);
    QFETCH(std::int16_t, verify);
    QFETCH(bool, verified);
    QFETCH(bool, bad);

    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    component.scripts["data.zip"] = {probe, verify};
    harness.writeGoodArchive("data.zip");

    RunSummary summary = harness.runFrom();

    QCOMPARE(component.verified.size(), std::size_t{verified ? 1u : 0u});
    QCOMPARE(summary.record.badArchives.size(), std::size_t(bad ? 1 : 0));
    QCOMPARE(summary.record.tested, 1);
    if (bad)
        QCOMPARE(summary.record.badArchives[0], harness.tree() + "data.zip");
    QCOMPARE(harness.reportLines("errors.txt").size(), std::size_t{bad ? 2u : 0u});
    QCOMPARE(harness.desktop.requests.size(), std::size_t{bad ? 1u : 0u});
}

void ArchiveStepTest::abortReportedByComponentStopsTheWalk() {
    for (const bool duringVerify : {false, true}) {
        RunHarness harness;
        ScriptedZipTester& component = harness.useScriptedComponent();
        component.scripts["a.zip"] =
            duringVerify ? ScriptedZipTester::Script{0, 190} : ScriptedZipTester::Script{190, 0};
        harness.writeGoodArchive("a.zip");
        harness.makeFolder("sub");
        harness.writeGoodArchive("sub/b.zip");
        std::string label1AtEnd, label2AtEnd;
        harness.display.onPass = [&] {
            label1AtEnd = harness.display.archiveCaption;
            label2AtEnd = harness.display.statusCaption;
        };

        RunSummary summary = harness.runFrom();

        QCOMPARE(component.tested.size(), std::size_t{1});
        QVERIFY(component.abort);
        QCOMPARE(summary.record.badArchives.size(), std::size_t(0));
        QCOMPARE(summary.record.tested, 0); // the aborted archive has no verdict to count
        QCOMPARE(harness.display.countsCaption, std::string(" 0  tested    -    0  bad"));
        // Seen at the next yield (the pending sub-folder's): the abort's own captions.
        QCOMPARE(label1AtEnd, std::string("Aborted"));
        QCOMPARE(label2AtEnd, std::string());
        QCOMPARE(harness.display.progress.position(), 0);
        // No Cancel was pressed: the driver clears the archive name and the report says nothing.
        QCOMPARE(harness.display.archiveCaption, std::string());
        QVERIFY(harness.reportLines("errors.log")[0].find("Aborted!") == std::string::npos);
    }
}

void ArchiveStepTest::stoppedWalkDropsAnnouncedArchives() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    for (const char* name : {"one.zip", "two.zip", "three.zip"})
        harness.writeGoodArchive(name);
    // Escape during the first archive: the walk stops, and the archives ahead are given up.
    component.duringProbe = [&] {
        QCOMPARE(component.announced.size(), std::size_t{3});
        harness.run.stopWalk();
    };

    harness.runFrom();

    QCOMPARE(component.tested.size(), std::size_t{1});
    // Nothing goes on testing the two archives nobody will ask for.
    QVERIFY(component.announced.empty());
}

void ArchiveStepTest::countsLabelAfterFirstArchive() {
    RunHarness harness;
    harness.writeGoodArchive("good.zip");
    harness.display.countsCaption = "left from an earlier run";

    RunSummary summary = harness.runFrom();

    QCOMPARE(harness.display.countsCaption, std::string(" 1  tested    -    0  bad"));
    QCOMPARE(summary.record.tested, 1);
    QCOMPARE(harness.display.archiveCaption, std::string());
    QCOMPARE(harness.display.statusCaption, std::string("Done."));
}

void ArchiveStepTest::leftoverAbortDoesNotEndNextOperation() {
    // An abort set on the real component while no operation runs ends no operation.
    RunHarness harness;
    harness.writeGoodArchive("one.zip");
    harness.writeGoodArchive("two.zip");
    harness.run.tester().abort = true;

    RunSummary summary = harness.runFrom();

    QCOMPARE(summary.record.tested, 2);
    QCOMPARE(summary.record.badArchives.size(), std::size_t(0));
}

void ArchiveStepTest::progressFollowsStatusEvents() {
    RunHarness harness;
    harness.view.archiveStarted(harness.tree() + "Data.zip");

    harness.view.archiveProgress(45);
    harness.view.archiveProgress(45);
    QCOMPARE(harness.display.progress.writes, std::vector<std::int32_t>{45});
    QCOMPARE(harness.display.title, std::string("Vellum"));

    harness.display.minimized = true;
    harness.view.archiveProgress(100);
    QCOMPARE(harness.display.title, std::string(" 100%  data.zip"));
    harness.view.archiveProgress(-3);
    QCOMPARE(harness.display.title, std::string("-3%  data.zip"));
    QCOMPARE(harness.display.progress.position(), -3);
}

// An archive that takes a while, tested ahead by a worker like every archive of a folder: the bar
// follows its real completion, and the minimised window's caption shows the percentage and name.
void ArchiveStepTest::longArchiveShowsItsProgress() {
    RunHarness harness;
    // 86 MB a percent; the run is cancelled as soon as the bar has moved.
    const std::string error = writeZerosArchive(harness.tree() + "Large.zip", std::uint64_t{1} << 33);
    QVERIFY2(error.empty(), error.c_str());
    harness.display.minimized = true;
    const std::vector<std::int32_t>& positions = harness.display.progress.writes;
    const auto partWay = [](std::int32_t position) { return position > 0 && position < 100; };
    std::vector<std::string> captions;
    bool cancelled = false;
    const auto givenUp = std::chrono::steady_clock::now() + WaitTimeout;
    harness.display.onPass = [&] {
        captions.push_back(harness.display.title);
        const bool moved = std::count_if(positions.begin(), positions.end(), partWay) >= 2;
        if (!cancelled && (moved || std::chrono::steady_clock::now() > givenUp)) {
            cancelled = true;
            harness.view.cancel();
        }
    };

    harness.runFrom();

    std::vector<std::int32_t> shown;
    std::copy_if(positions.begin(), positions.end(), std::back_inserter(shown), partWay);
    QVERIFY2(shown.size() >= 2, "the bar never moved");
    QVERIFY(std::is_sorted(shown.begin(), shown.end()));
    const std::regex percentAndName(" [1-9][0-9]?%  large\\.zip");
    QVERIFY(std::any_of(captions.begin(), captions.end(), [&](const std::string& caption) {
        return std::regex_match(caption, percentAndName);
    }));
}

void ArchiveStepTest::laterRunListsOnlyItsOwnBadArchives() {
    RunHarness harness;
    for (const char* name : {"x1.zip", "x2.zip", "x3.zip"})
        harness.writeBadArchive(name);
    RunSummary summary = harness.runFrom();
    QCOMPARE(summary.record.badArchives.size(), std::size_t(3));

    for (const char* name : {"x1.zip", "x3.zip"})
        QFile::remove(QString::fromStdString(harness.tree() + name));
    summary = harness.runFrom();

    QCOMPARE(summary.record.badArchives.size(), std::size_t(1));
    const auto report = harness.reportLines("errors.txt");
    QCOMPARE(report.size(), std::size_t{2});
    QCOMPARE(report[1], harness.tree() + "x2.zip");
}

QTEST_GUILESS_MAIN(ArchiveStepTest)
#include "archive_step_test.moc"
