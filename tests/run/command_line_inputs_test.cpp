// What an unattended run tests besides one folder: several folders and single archives given in
// order, and lists of files read by name, newline- or NUL-separated, from a file or a pipe that
// delivers them piecemeal; and the one log record such a run writes.

#include "file_list.h"
#include "run_harness.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

using namespace vellum;
using namespace vellum::testing;

namespace {

// The names up to the list's end; failure is why the list failed, empty when it ended well.
std::vector<std::string> allNames(FileList& list, std::string& failure) {
    std::vector<std::string> names;
    std::string name;
    FileList::Step step;
    while ((step = list.next(name, true, {})) == FileList::Step::Name)
        names.push_back(name);
    failure = step == FileList::Step::Failed ? list.failure() : std::string();
    return names;
}

} // namespace

class CommandLineInputsTest : public QObject {
    Q_OBJECT
private slots:
    void listsSplitOnTheirSeparator_data();
    void listsSplitOnTheirSeparator();
    void slowPipeIsReadAsItArrives();
    void missingListIsAFailure();
    void endlessListOfEmptyNamesHearsAStop();
    void foldersArchivesAndListTestedInOrder();
};

void CommandLineInputsTest::listsSplitOnTheirSeparator_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("failure");
    QTest::newRow("lines, blank ones skipped, last without end")
        << QByteArray("a.zip\n\nsub dir/b.zip\nc") << '\n'
        << QStringList{"a.zip", "sub dir/b.zip", "c"} << "";
    QTest::newRow("NUL-separated names may hold line breaks")
        << QByteArray("one\nline.zip\0two.zip\0", 21) << '\0' << QStringList{"one\nline.zip", "two.zip"}
        << "";
    QTest::newRow("empty list") << QByteArray() << '\n' << QStringList{} << "";
    // find -print0 wrote it: read by lines, its first name would run into all the others.
    QTest::newRow("NUL bytes in a list of lines") << QByteArray("a.zip\0b.zip\0", 12) << '\n'
                                                  << QStringList{} << "the list holds NUL bytes: use -0";
    const QString tooLong = "a name in the list is as long as the system's path limit or longer";
    QTest::newRow("a name at the path limit, unended")
        << QByteArray(4096, 'n') << '\0' << QStringList{} << tooLong;
    QTest::newRow("a name at the path limit, ended") << QByteArray("a.zip\n") + QByteArray(4096, 'n') + "\n"
                                                     << '\n'
                                                     << QStringList{"a.zip"} << tooLong;
    QTest::newRow("the longest name a path may have") << QByteArray(4095, 'n') << '\n'
                                                      << QStringList{QString(4095, 'n')} << "";
}

void CommandLineInputsTest::listsSplitOnTheirSeparator() {
    QFETCH(QByteArray, content);
    QFETCH(char, separator);
    QFETCH(QStringList, names);
    QFETCH(QString, failure);
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/list";
    writeFile(path, std::string_view(content.constData(), static_cast<std::size_t>(content.size())));
    FileList list(path, separator);
    std::vector<std::string> expected;
    for (const QString& name : names)
        expected.push_back(name.toStdString());
    std::string failed;
    QCOMPARE(allNames(list, failed), expected);
    QCOMPARE(QString::fromStdString(failed), failure);
}

void CommandLineInputsTest::slowPipeIsReadAsItArrives() {
    int ends[2];
    QCOMPARE(::pipe(ends), 0);
    FileList list("/proc/self/fd/" + std::to_string(ends[0]), '\n');
    ::close(ends[0]);
    std::string name;
    QCOMPARE(::write(ends[1], "first.zip\nsec", 13), 13);
    QCOMPARE(list.next(name, false, {}), FileList::Step::Name);
    QCOMPARE(name, std::string("first.zip"));
    // Half a name is not a name: without waiting, nothing is at hand yet, and the list goes on.
    QCOMPARE(list.next(name, false, {}), FileList::Step::End);
    QVERIFY(!list.atEnd());
    // While waiting, the caller is asked whether to go on; it can stop the wait.
    int asked = 0;
    QCOMPARE(list.next(name, true, [&] { return ++asked < 2; }), FileList::Step::Stopped);
    QCOMPARE(asked, 2);
    QCOMPARE(::write(ends[1], "ond.zip\n", 8), 8);
    ::close(ends[1]);
    QCOMPARE(list.next(name, true, {}), FileList::Step::Name);
    QCOMPARE(name, std::string("second.zip"));
    QCOMPARE(list.next(name, true, {}), FileList::Step::End);
    QVERIFY(list.atEnd());
}

void CommandLineInputsTest::missingListIsAFailure() {
    FileList list("/nonexistent/list", '\n');
    std::string name;
    QCOMPARE(list.next(name, true, {}), FileList::Step::Failed);
    QCOMPARE(list.failure(), std::string(std::strerror(ENOENT)));
}

void CommandLineInputsTest::endlessListOfEmptyNamesHearsAStop() {
    FileList list("/dev/zero", '\0');
    std::string name;
    int asked = 0;
    QCOMPARE(list.next(name, true, [&] { return ++asked < 3; }), FileList::Step::Stopped);
    QCOMPARE(asked, 3);
}

void CommandLineInputsTest::foldersArchivesAndListTestedInOrder() {
    RunHarness harness;
    ScriptedZipTester& component = harness.useScriptedComponent();
    component.scripts["bad.zip"] = {0, 110};
    component.scripts["listed.bin"] = {103, 0};
    harness.writeGoodArchive("first/a.zip");
    harness.writeGoodArchive("first/ignored.bin");
    harness.writeBadArchive("second/bad.zip");
    harness.writeGoodArchive("single.dat");
    harness.writeGoodArchive("listed.bin");
    writeFile(harness.tree() + "list", harness.tree() + "listed.bin\n" + harness.tree() + "gone.zip\n");

    const RunSummary summary = harness.runFrom({harness.tree() + "first", harness.tree() + "single.dat",
                                                harness.tree() + "second/", harness.tree() + "absent"},
                                               harness.tree() + "list");

    // A folder is walked for *.zip; a file given by name is tested whatever it is called.
    QCOMPARE(component.tested,
             (std::vector<std::string>{harness.shown("first/a.zip"), harness.shown("single.dat"),
                                       harness.shown("second/bad.zip"), harness.shown("listed.bin")}));
    // The missing folder and the missing listed file leave the run incomplete.
    QCOMPARE(summary.unreachable, 2);
    const std::vector<std::string> log = harness.reportLines("errors.log");
    QCOMPARE(log.at(1), std::string(" 4 tested - 2 bad"));
    QCOMPARE(log.at(2), harness.tree() + "first/ " + harness.tree() + "single.dat " + harness.tree() +
                            "second/ " + harness.tree() + "absent/ --files-from " + harness.tree() + "list");
    QCOMPARE(log.at(3), harness.tree() + "second/bad.zip");
    QCOMPARE(log.at(4), harness.tree() + "listed.bin");
}

QTEST_GUILESS_MAIN(CommandLineInputsTest)
#include "command_line_inputs_test.moc"
