// The walk over a tree: order, which folders and files it visits, and how it stops.

#include "folder_listing.h"
#include "run_harness.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

using namespace vellum;
using namespace vellum::testing;

namespace {

// The sub-folders of `folder` in the order the file system lists them.
std::vector<std::string> listedSubFolders(const std::string& folder) {
    std::vector<std::string> names;
    platform::FolderListing listing(folder, "*.*");
    platform::FolderEntry entry;
    while (listing.next(entry)) {
        if (entry.isDirectory && entry.name != "." && entry.name != "..")
            names.push_back(entry.name);
    }
    return names;
}

// The archives a walk from `folder` tests, in order, found with a listing for the sub-folders and
// another for the archives of each folder.
void listArchivesTwice(const std::string& folder, std::vector<std::string>& found) {
    platform::FolderListing archives(folder, "*.zip");
    platform::FolderEntry entry;
    while (archives.next(entry))
        found.push_back(folder + entry.name);
    for (const std::string& sub : listedSubFolders(folder))
        listArchivesTwice(folder + sub + "/", found);
}

} // namespace

class WalkTest : public QObject {
    Q_OBJECT
private slots:
    void visitsFoldersPreOrderDepthFirst();
    void manyArchivesAndFoldersKeepTheirListingOrder();
    void walksHiddenFolders();
    void symbolicLinkLoopDoesNotHang();
    void folderSwappedForALinkDoesNotLeadOutOfTheTree();
    void followedLinksNeverEnterAFolderTwiceOnOnePath();
    void folderNamedLikeAnArchiveIsJudgedBad();
    void mixedCaseNamesAreFoundAndOpened();
    void unreadableFolderIsSkipped();
    void archiveGoneBeforeItsTestIsNotCounted();
    void cancelDuringRunStopsTheWalk();
    void stopBeforeFirstArchiveStillShowsPendingFolders();
    void minimisedRunShowsSearchingThenRestores();
};

void WalkTest::visitsFoldersPreOrderDepthFirst() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    harness.makeFolder("b/d");
    harness.makeFolder("c");
    for (const char* archive : {"a.zip", "b/b.zip", "b/d/d.zip", "c/c.zip"})
        harness.writeGoodArchive(archive);
    std::vector<std::string> announcedAtFirstTest;
    component.duringProbe = [&] {
        if (component.tested.size() == 1)
            for (const std::string& path : component.announced)
                announcedAtFirstTest.push_back(platform::lowerCase(path));
    };

    RunSummary summary = harness.runFrom();

    // Archives of a folder come before its sub-folders; sub-folders in listing order.
    std::vector<std::string> expected = {harness.shown("a.zip")};
    for (const std::string& sub : listedSubFolders(harness.tree())) {
        expected.push_back(harness.shown(sub + "/" + sub + ".zip"));
        if (sub == "b")
            expected.push_back(harness.shown("b/d/d.zip"));
    }
    QCOMPARE(component.tested, expected);
    QCOMPARE(summary.record.tested, 4);
    // The folders after the first were listed ahead: the component heard of every archive, in
    // the order of the tests, while the first was tested.
    QCOMPARE(announcedAtFirstTest, expected);
}

void WalkTest::manyArchivesAndFoldersKeepTheirListingOrder() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    // Archives, other files and folders mixed in one folder, so that the file system's order
    // interleaves them; one folder is named like an archive and is both tested and walked.
    for (int index = 0; index < 40; ++index) {
        const std::string name = std::to_string(index * 7919 % 1000);
        harness.writeGoodArchive("n" + name + (index % 3 == 0 ? ".ZIP" : ".zip"));
        writeFile(harness.tree() + "t" + name + ".txt", "not an archive");
        if (index % 5 == 0) {
            harness.makeFolder("d" + name + "/e");
            harness.writeGoodArchive("d" + name + "/a.zip");
            harness.writeGoodArchive("d" + name + "/e/b.zip");
        }
    }
    harness.makeFolder("folder.zip");
    harness.writeGoodArchive("folder.zip/inner.zip");

    harness.runFrom();

    std::vector<std::string> expected;
    listArchivesTwice(harness.tree(), expected);
    for (std::string& path : expected)
        path = platform::lowerCase(path);
    QCOMPARE(expected.size(), std::size_t{40 + 8 * 2 + 2});
    QCOMPARE(component.tested, expected);
}

void WalkTest::walksHiddenFolders() {
    RunHarness harness;
    harness.makeFolder(".backups/..old");
    harness.writeBadArchive(".backups/..old/bad.zip");
    harness.writeGoodArchive(".hidden.zip");

    const RunSummary summary = harness.runFrom();

    QCOMPARE(summary.record.tested, 2);
    QCOMPARE(summary.record.badArchives, std::vector<std::string>{harness.tree() + ".backups/..old/bad.zip"});
}

void WalkTest::symbolicLinkLoopDoesNotHang() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    harness.makeFolder("sub");
    harness.writeGoodArchive("sub/one.zip");
    QVERIFY(symlink(harness.tree().c_str(), (harness.tree() + "sub/loop").c_str()) == 0);
    QVERIFY(symlink("sub/one.zip", (harness.tree() + "sub/link-to-a-file").c_str()) == 0);

    const RunSummary summary = harness.runFrom();

    QCOMPARE(component.tested, std::vector<std::string>{harness.shown("sub/one.zip")});
    // The link to a folder is told; the link to a file is no folder to tell about.
    QCOMPARE(summary.linksNotFollowed, 1);
}

void WalkTest::followedLinksNeverEnterAFolderTwiceOnOnePath() {
    RunHarness harness;
    harness.writeGoodArchive("real/a.zip");
    QVERIFY(symlink("real", (harness.tree() + "link").c_str()) == 0);
    QVERIFY(symlink("..", (harness.tree() + "real/up").c_str()) == 0);
    // A link into the kernel's own files is followed into nothing: /proc is passed over in silence.
    QVERIFY(symlink("/proc", (harness.tree() + "proc").c_str()) == 0);
    RunCore following(RunSettings{ReportPlace{harness.applicationFolder(), {}}, true, true});

    const RunSummary summary = following.run(RunInputs{{harness.tree()}, {}, false});

    // real/a.zip by two paths; real/up leads back to the start folder, which is not entered again
    // from either.
    QCOMPARE(summary.record.tested, 2);
    QCOMPARE(summary.linksNotFollowed, 2);
    QCOMPARE(summary.unreachable, 0);
}

void WalkTest::folderSwappedForALinkDoesNotLeadOutOfTheTree() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    // a/x holds more archives than the walk lists ahead, so a/x/b is listed only after a.zip is
    // tested, whatever order the folders are listed in.
    harness.writeGoodArchive("a/a.zip");
    harness.makeFolder("a/x");
    for (int index = 0; index < 70; ++index)
        writeFile(harness.tree() + "a/x/" + std::to_string(index) + ".zip", "x");
    harness.writeGoodArchive("a/x/b/inside.zip");
    QTemporaryDir outside;
    writeFile(outside.path().toStdString() + "/outside.zip", "x");
    component.duringProbe = [&] {
        if (component.tested.size() != 1)
            return;
        const std::string swapped = harness.tree() + "a/x/b";
        QVERIFY(::rename(swapped.c_str(), (harness.tree() + "b-moved").c_str()) == 0);
        QVERIFY(::symlink(outside.path().toLocal8Bit().constData(), swapped.c_str()) == 0);
    };

    const RunSummary summary = harness.runFrom();

    QCOMPARE(component.tested.size(), std::size_t{71});
    QVERIFY(std::none_of(component.tested.begin(), component.tested.end(),
                         [](const std::string& path) { return path.ends_with("/outside.zip"); }));
    QCOMPARE(summary.unreachable, 1);
}

void WalkTest::folderNamedLikeAnArchiveIsJudgedBad() {
    RunHarness harness;
    harness.makeFolder("old.zip");
    harness.writeGoodArchive("old.zip/inner.zip");

    RunSummary summary = harness.runFrom();

    // The folder is handed to the archive test, judged bad, and then walked like any folder.
    QCOMPARE(summary.record.badArchives.size(), std::size_t(1));
    QCOMPARE(summary.record.badArchives[0], harness.tree() + "old.zip");
    QCOMPARE(summary.record.tested, 2);
}

void WalkTest::mixedCaseNamesAreFoundAndOpened() {
    RunHarness harness;
    harness.makeFolder("Mixed");
    harness.writeGoodArchive("Mixed/Data.ZIP");
    harness.writeBadArchive("Mixed/Broken.Zip");

    RunSummary summary = harness.runFrom({harness.tree() + "Mixed"});

    QCOMPARE(summary.record.tested, 2);
    QCOMPARE(summary.record.badArchives.size(), std::size_t(1));
    // The report names the file as it is; the window shows it lower-cased.
    QCOMPARE(summary.record.badArchives[0], harness.tree() + "Mixed/Broken.Zip");
    QCOMPARE(harness.display.folderCaptionHistory.at(0), harness.shown("mixed/"));
}

void WalkTest::unreadableFolderIsSkipped() {
    if (geteuid() == 0)
        QSKIP("root reads every folder, so none can be made unreadable");
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    harness.makeFolder("locked");
    harness.writeGoodArchive("locked/hidden-from-us.zip");
    harness.writeGoodArchive("open.zip");
    QVERIFY(chmod((harness.tree() + "locked").c_str(), 0) == 0);

    RunSummary summary = harness.runFrom();
    chmod((harness.tree() + "locked").c_str(), 0700);

    QCOMPARE(component.tested, std::vector<std::string>{harness.shown("open.zip")});
    // Told once, when the walk reaches it.
    QCOMPARE(summary.unreachable, 1);
}

void WalkTest::archiveGoneBeforeItsTestIsNotCounted() {
    RunHarness harness;
    harness.writeGoodArchive("gone.zip");
    harness.writeGoodArchive("kept.zip");
    // Deleted after the walk listed it, and after the component may have tested it ahead.
    struct Tidier final : RunObserver {
        void archiveStarted(const std::string& path) override {
            if (path.ends_with("/gone.zip"))
                std::remove(path.c_str());
        }
        void archiveVanished(const std::string& path) override { vanished.push_back(path); }
        std::vector<std::string> vanished;
    } tidier;
    harness.run.addObserver(tidier);

    const RunSummary summary = harness.runFrom();

    QCOMPARE(tidier.vanished, std::vector<std::string>{harness.tree() + "gone.zip"});
    QCOMPARE(summary.vanished, 1);
    QCOMPARE(summary.record.tested, 1);
    QVERIFY(summary.record.badArchives.empty());
    QVERIFY(summary.complete());
}

void WalkTest::cancelDuringRunStopsTheWalk() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    harness.makeFolder("more");
    for (const char* archive : {"one.zip", "two.zip", "more/three.zip"})
        harness.writeGoodArchive(archive);
    // Cancel is pressed during the first archive's test, as the component lets events through.
    component.duringProbe = [&] {
        if (component.tested.size() == 1)
            harness.view.cancel();
    };

    harness.runFrom();

    QCOMPARE(component.tested.size(), std::size_t{1});
    QCOMPARE(harness.display.archiveCaption, std::string("Aborted"));
    QCOMPARE(harness.display.statusCaption, std::string("Done."));
    QCOMPARE(harness.display.folderCaption, std::string());
    QVERIFY(harness.display.focusParked);
    QVERIFY(!harness.display.busyPointer);
    QVERIFY(!harness.display.animationEnabled);
    const auto log = harness.reportLines("errors.log");
    QCOMPARE(log.size(), std::size_t{4});
    QVERIFY2(log[0].ends_with(" Aborted! Command line"), log[0].c_str());
    QCOMPARE(log[1], std::string(" 1 tested - 0 bad"));
}

void WalkTest::stopBeforeFirstArchiveStillShowsPendingFolders() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    harness.writeGoodArchive("one.zip");
    harness.makeFolder("sub/deeper");
    harness.writeGoodArchive("sub/deeper/x.zip");
    // Stopped at the yield before the first archive: the listed sub-folder still shows itself and
    // yields, but lists and tests nothing, so the folder below it is never reached.
    harness.display.onPass = [&] {
        if (harness.display.passes == 2)
            harness.run.stopWalk();
    };

    harness.runFrom();

    QVERIFY(component.tested.empty());
    QCOMPARE(harness.display.folderCaptionHistory,
             (std::vector<std::string>{harness.shown(), harness.shown("sub/")}));
}

void WalkTest::minimisedRunShowsSearchingThenRestores() {
    RunHarness harness;
    harness.writeGoodArchive("one.zip");
    harness.display.minimized = true;
    std::vector<std::string> captionsSeen;
    harness.display.onPass = [&] { captionsSeen.push_back(harness.display.title); };

    harness.runFrom();

    QVERIFY(!captionsSeen.empty());
    QCOMPARE(captionsSeen.front(), std::string("Searching..."));
    QVERIFY(!harness.display.minimized);
    QCOMPARE(harness.display.title, std::string("Vellum"));
}

QTEST_GUILESS_MAIN(WalkTest)
#include "walk_test.moc"
