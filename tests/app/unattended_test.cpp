// The program itself, run unattended on generated trees with no display: where the reports go,
// what happens when they cannot be written, exit statuses, signals, other copies running at the
// same time, names that could forge report lines, and walks that cannot see the whole tree. Each
// test runs a private copy of the program in a temporary folder, since the reports are written
// beside the program when its folder is writable.

#include "condition_wait.h"
#include "hung_file_system.h"
#include "installed_copy.h"
#include "zip_builder.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

using namespace vellum::testing;

namespace {

const QRegularExpression headerPattern(R"(^\d\d-\d\d-\d{4} \d\d:\d\d:\d\d (Aborted!)? Command line$)");

} // namespace

class UnattendedTest : public QObject {
    Q_OBJECT
private slots:
    void reportsBadArchivesAndExitsWithOne();
    void cleanTreeAppendsFourLinesAndExitsWithZero();
    void reportsGoToTheStateFolderWhenTheProgramFolderIsReadOnly();
    void installedProgramKeepsItsFolderFreeOfReports();
    void reportsThatCannotBeWrittenAreTold_data();
    void reportsThatCannotBeWrittenAreTold();
    void fullDiskKeepsTheOldReport();
    void otherCopiesRunningNeverSwallowARun();
    void signalsAbortTheRunAndRecordIt_data();
    void signalsAbortTheRunAndRecordIt();
    void stopsEndTheProgramWhateverAReadIsStuckIn_data();
    void stopsEndTheProgramWhateverAReadIsStuckIn();
    void reportLinesNameRealFilesOneLineEach();
    void incompleteWalksAreTold();
    void pathsLongerThanTheSystemLimitAreTested();
    void commandLineOptions();
    void displayThatCannotBeReached();
    void runsFromTheCommandLineLoadNoWindowLibrary();
    void windowRunsLoadTheWindowModule();
    void windowModuleThatCannotBeLoaded();
};

void UnattendedTest::reportsBadArchivesAndExitsWithOne() {
    InstalledCopy copy;
    QDir().mkpath(copy.tree() + "/Mixed/Deep");
    writeGood(copy.tree() + "/Mixed/Data.ZIP");
    writeDamaged(copy.tree() + "/Mixed/Deep/Broken.zip");
    writeDamaged(copy.tree() + "/top.zip");
    writeFile((copy.tree() + "/not-really.zip").toStdString(), "just some text\n");

    const Outcome outcome = copy.run({copy.tree()});
    QCOMPARE(outcome.status, 1);
    QCOMPARE(outcome.errors, QString());

    const QStringList report = fileLines(copy.folder() + "/errors.txt");
    QCOMPARE(report.size(), 4);
    QVERIFY2(headerPattern.match(report[0]).hasMatch(), qPrintable(report[0]));
    QStringList bad = report.mid(1);
    bad.sort();
    QCOMPARE(bad, (QStringList{copy.tree() + "/Mixed/Deep/Broken.zip", copy.tree() + "/not-really.zip",
                               copy.tree() + "/top.zip"}));

    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 7);
    QVERIFY2(headerPattern.match(log[0]).hasMatch(), qPrintable(log[0]));
    QCOMPARE(log[1], QString(" 4 tested - 3 bad"));
    QCOMPARE(log[2], copy.tree() + "/");
    QCOMPARE(log.mid(3, 3), report.mid(1));
    QCOMPARE(log[6], QString());
}

void UnattendedTest::cleanTreeAppendsFourLinesAndExitsWithZero() {
    InstalledCopy copy;
    writeGood(copy.tree() + "/one.zip");
    writeFile((copy.folder() + "/errors.txt").toStdString(), "kept\r\n");
    // A log whose last record lost its line end still gets whole records after it.
    writeFile((copy.folder() + "/errors.log").toStdString(), "cut short");

    QCOMPARE(copy.run({copy.tree()}).status, 0);
    QCOMPARE(copy.run({copy.tree() + "/"}).status, 0);

    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 9);
    QCOMPARE(log[0], QString("cut short"));
    QCOMPARE(log[2], QString(" 1 tested - 0 bad"));
    QCOMPARE(log[3], copy.tree() + "/");
    QCOMPARE(log[4], QString());
    QCOMPARE(log[7], log[3]);
    QCOMPARE(fileLines(copy.folder() + "/errors.txt"), QStringList{"kept"});
}

void UnattendedTest::reportsGoToTheStateFolderWhenTheProgramFolderIsReadOnly() {
    InstalledCopy copy;
    writeDamaged(copy.tree() + "/bad.zip");
    if (!isRoot())
        ::chmod(copy.folder().toLocal8Bit().constData(), 0555);
    const QString state = copy.scratch() + "/state";
    QDir().mkpath(state);
    openToEveryone(state);

    const Outcome outcome = copy.run({copy.tree()}, {.ordinaryUser = true});
    ::chmod(copy.folder().toLocal8Bit().constData(), 0755);

    QCOMPARE(outcome.status, 1);
    QCOMPARE(outcome.errors, QString());
    QVERIFY(!QFile::exists(copy.folder() + "/errors.txt"));
    QVERIFY(!QFile::exists(copy.folder() + "/errors.log"));
    QCOMPARE(fileLines(state + "/vellum/errors.txt").value(1), copy.tree() + "/bad.zip");
    QCOMPARE(fileLines(state + "/vellum/errors.log").value(1), QString(" 1 tested - 1 bad"));

    // --report-dir puts them where the caller says.
    const QString chosen = copy.scratch() + "/chosen/reports";
    QCOMPARE(copy.run({"--report-dir", chosen, copy.tree()}).status, 1);
    QCOMPARE(fileLines(chosen + "/errors.txt").value(1), copy.tree() + "/bad.zip");
    QCOMPARE(copy.run({"--report-dir=relative/", copy.tree()}, {.workingFolder = copy.scratch()}).status, 1);
    QCOMPARE(fileLines(copy.scratch() + "/relative/errors.log").value(1), QString(" 1 tested - 1 bad"));
}

void UnattendedTest::installedProgramKeepsItsFolderFreeOfReports() {
    // Laid out as an installation under a prefix, with its own folder writable: ~/.local, say.
    InstalledCopy copy;
    writeDamaged(copy.tree() + "/bad.zip");
    const QString prefix = copy.scratch() + "/prefix";
    QVERIFY(QDir().mkpath(prefix + "/bin") && QDir().mkpath(prefix + "/share/vellum"));
    QVERIFY(QFile::copy(copy.program(), prefix + "/bin/vellum"));

    const Outcome outcome = copy.run({}, {.environment = {{"INSTALLED", prefix + "/bin/vellum"}},
                                          .shellCommand = "\"$INSTALLED\" '" + copy.tree() + "'"});
    QCOMPARE(outcome.status, 1);
    QCOMPARE(QDir(prefix + "/bin").entryList(QDir::Files), QStringList{"vellum"});
    QCOMPARE(fileLines(copy.scratch() + "/state/vellum/errors.txt").value(1), copy.tree() + "/bad.zip");
}

void UnattendedTest::reportsThatCannotBeWrittenAreTold_data() {
    QTest::addColumn<QString>("occupant");
    QTest::addColumn<QString>("place");
    QTest::newRow("folder named errors.txt") << "folder"
                                             << "errors.txt";
    QTest::newRow("folder named errors.log") << "folder"
                                             << "errors.log";
    QTest::newRow("FIFO named errors.log") << "fifo"
                                           << "errors.log";
    QTest::newRow("FIFO named errors.txt") << "fifo"
                                           << "errors.txt";
    QTest::newRow("symbolic link as errors.txt") << "link"
                                                 << "errors.txt";
    QTest::newRow("symbolic link as errors.log") << "link"
                                                 << "errors.log";
    QTest::newRow("no writable place") << "nowhere"
                                       << "";
}

void UnattendedTest::reportsThatCannotBeWrittenAreTold() {
    QFETCH(QString, occupant);
    QFETCH(QString, place);
    InstalledCopy copy;
    writeDamaged(copy.tree() + "/bad.zip");
    const QString path = copy.folder() + "/" + place;
    const QString target = copy.scratch() + "/target";
    writeFile(target.toStdString(), "precious\n");
    RunOptions options;
    if (occupant == "folder")
        QDir().mkpath(path);
    else if (occupant == "fifo")
        QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0644), 0);
    else if (occupant == "link")
        QVERIFY(QFile::link(target, path));
    else {
        // Neither the program's folder, nor the state folder, nor the home folder can be written.
        if (!isRoot()) {
            ::chmod(copy.folder().toLocal8Bit().constData(), 0555);
            ::chmod(copy.scratch().toLocal8Bit().constData(), 0555);
        }
        options.ordinaryUser = true;
    }

    const Outcome outcome = copy.run({copy.tree()}, options);
    ::chmod(copy.folder().toLocal8Bit().constData(), 0755);
    ::chmod(copy.scratch().toLocal8Bit().constData(), 0755);

    QCOMPARE(outcome.status, 3);
    // With no writable place, the ledger has none either, and says so on a line of its own.
    QCOMPARE(outcome.errors.count('\n'), occupant == "nowhere" ? 2 : 1);
    if (occupant == "nowhere")
        QVERIFY2(outcome.errors.contains("\nvellum: cannot use the ledger "), qPrintable(outcome.errors));
    QVERIFY2(outcome.errors.startsWith("vellum: cannot write ") && outcome.errors.contains(place),
             qPrintable(outcome.errors));
    QCOMPARE(fileLines(target), QStringList{"<not ending in CR LF>"});
    // The other report still lands.
    if (place == "errors.txt")
        QCOMPARE(fileLines(copy.folder() + "/errors.log").value(1), QString(" 1 tested - 1 bad"));
    if (place == "errors.log")
        QCOMPARE(fileLines(copy.folder() + "/errors.txt").value(1), copy.tree() + "/bad.zip");
}

void UnattendedTest::fullDiskKeepsTheOldReport() {
    if (!isRoot())
        QSKIP("mounting a small file system needs root");
    InstalledCopy copy;
    const QString small = copy.scratch() + "/small";
    QDir().mkpath(small);
    if (::mount("tmpfs", small.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("this machine does not allow mounting a file system");
    const QByteArray oldReport = "01-01-2020 10:00:00  Command line\r\n/old/bad.zip\r\n";
    writeFile((small + "/errors.txt").toStdString(), oldReport.toStdString());
    writeFile((small + "/errors.log").toStdString(), "");
    writeFile((small + "/filler").toStdString(), std::string(40 * 1024, 'f'));
    // Long names make a report larger than the room that is left.
    for (int index = 0; index < 120; ++index)
        writeDamaged(copy.tree() + "/" + QString(200, QChar('a' + index % 26)) + QString::number(index) +
                     ".zip");

    const Outcome outcome = copy.run({"--report-dir", small, copy.tree()});
    QByteArray reportAfter;
    {
        QFile report(small + "/errors.txt");
        report.open(QIODevice::ReadOnly);
        reportAfter = report.readAll();
    }
    const qint64 logSize = QFileInfo(small + "/errors.log").size();
    const QStringList leftovers = QDir(small).entryList(QDir::Files | QDir::Hidden);
    ::umount2(small.toLocal8Bit().constData(), MNT_DETACH);

    QCOMPARE(outcome.status, 3);
    QVERIFY2(outcome.errors.contains("errors.txt: No space left on device"), qPrintable(outcome.errors));
    QCOMPARE(reportAfter, oldReport);
    // No torn record and no temporary file are left behind.
    QCOMPARE(logSize, 0);
    QCOMPARE(leftovers, (QStringList{"errors.log", "errors.txt", "filler"}));
}

void UnattendedTest::otherCopiesRunningNeverSwallowARun() {
    InstalledCopy copy;
    const QString secondTree = copy.scratch() + "/second";
    for (int index = 0; index < 20; ++index) {
        writeDamaged(copy.tree() + QString("/bad%1.zip").arg(index));
        writeDamaged(secondTree + QString("/bad%1.zip").arg(index));
    }
    // A window copy waits for its user, listening for later window starts.
    auto window = copy.start({}, {.environment = {{"QT_QPA_PLATFORM", "offscreen"}}});
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(copy.scratch() + "/runtime").entryList(QDir::System).isEmpty(), 20000);

    auto first = copy.start({copy.tree()});
    auto second = copy.start({secondTree});
    QCOMPARE(InstalledCopy::finish(*first).status, 1);
    QCOMPARE(InstalledCopy::finish(*second).status, 1);
    QCOMPARE(window->state(), QProcess::Running);

    // Two whole records of 24 lines each, one after the other.
    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 48);
    for (const int start : {0, 24}) {
        QVERIFY2(headerPattern.match(log[start]).hasMatch(), qPrintable(log[start]));
        QCOMPARE(log[start + 1], QString(" 20 tested - 20 bad"));
        const QString folder = log[start + 2];
        QVERIFY(folder == copy.tree() + "/" || folder == secondTree + "/");
        for (int line = start + 3; line < start + 23; ++line)
            QVERIFY2(log[line].startsWith(folder), qPrintable(log[line]));
        QCOMPARE(log[start + 23], QString());
    }

    // The window copy ends on a stop signal like any other.
    window->terminate();
    QVERIFY(window->waitForFinished(20000));
    QCOMPARE(window->exitCode(), 128 + SIGTERM);
}

void UnattendedTest::signalsAbortTheRunAndRecordIt_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void UnattendedTest::signalsAbortTheRunAndRecordIt() {
    QFETCH(int, signalNumber);
    InstalledCopy copy;
    writeGood(copy.tree() + "/good.zip");
    // The run takes its archives from a pipe that this test holds open, so it cannot end before the
    // signal: it waits for more names until the pipe closes. Opened for reading too, it does not
    // wait here for the program to open its end.
    const QString list = copy.scratch() + "/list";
    QCOMPARE(::mkfifo(list.toLocal8Bit().constData(), 0644), 0);
    const int listEnd = ::open(list.toLocal8Bit().constData(), O_RDWR);
    QVERIFY(listEnd >= 0);
    const QByteArray names = (copy.tree() + "/good.zip\n").toUtf8();
    QCOMPARE(::write(listEnd, names.constData(), names.size()), names.size());

    auto process = copy.start({"--json", "--files-from", list});
    // The archive's line on standard output says that the run is under way, its signals handled.
    QDeadlineTimer deadline(60000);
    while (!process->canReadLine() && process->state() == QProcess::Running && !deadline.hasExpired())
        process->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    const QByteArray judged = process->readLine();
    QVERIFY2(judged.contains(R"("verdict":"good")"), judged.constData());
    QCOMPARE(::kill(static_cast<pid_t>(process->processId()), signalNumber), 0);
    const Outcome outcome = InstalledCopy::finish(*process);
    ::close(listEnd);

    QCOMPARE(outcome.status, 128 + signalNumber);
    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 4);
    QVERIFY2(log[0].endsWith(" Aborted! Command line"), qPrintable(log[0]));
    QCOMPARE(log[1], QString(" 1 tested - 0 bad"));
    QCOMPARE(log[2], "--files-from " + list);
    // The summary does not pass for a finished run's.
    QVERIFY2(outcome.output.contains(R"("complete":false)") &&
                 outcome.output.contains(R"("stopped":"signal")"),
             qPrintable(outcome.output));
}

void UnattendedTest::stopsEndTheProgramWhateverAReadIsStuckIn_data() {
    QTest::addColumn<QString>("startFolder");
    QTest::addColumn<int>("signalNumber");
    // The archive is read by a worker thread that the stopped run does not wait for. The listing
    // holds the run's own thread, so the record is written as it stands; the kernel does not let a
    // process end while a thread of it waits for a FUSE listing, so that ends when the file system
    // gives up.
    QTest::newRow("archive read") << "archives" << SIGINT;
    QTest::newRow("folder listing") << "folders" << SIGTERM;
}

void UnattendedTest::stopsEndTheProgramWhateverAReadIsStuckIn() {
    QFETCH(QString, startFolder);
    QFETCH(int, signalNumber);
    HungFileSystem hung;
    if (!hung.mounted())
        QSKIP("no FUSE file system can be mounted here");
    InstalledCopy copy;
    auto process = copy.start({"-q", hung.path() + "/" + startFolder});
    QVERIFY(waitUntil([&] { return hung.stuckCalls() > 0; }));
    QCOMPARE(::kill(static_cast<pid_t>(process->processId()), signalNumber), 0);
    QByteArray errors;
    QVERIFY(waitUntil([&] {
        errors += process->readAllStandardError();
        return errors.contains("ended without waiting for a read");
    }));
    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 4);
    QVERIFY2(log[0].endsWith(" Aborted! Command line"), qPrintable(log[0]));
    QCOMPARE(log[1], QString(" 0 tested - 0 bad"));

    hung.release();
    QCOMPARE(InstalledCopy::finish(*process).status, 128 + signalNumber);
}

void UnattendedTest::reportLinesNameRealFilesOneLineEach() {
    InstalledCopy copy;
    const QString forged = "x\r\n01-01-2000 00:00:00  Command line\r\n 999 tested - 0 bad\r\n";
    QDir().mkpath(copy.tree() + "/" + forged);
    writeDamaged(copy.tree() + "/" + forged + "/y\x1b[31m\\z.ZIP");
    writeDamaged(copy.tree() + "/Photos/REPORT.ZIP");
    writeGood(copy.tree() + "/Photos/report.zip");
    writeDamaged(copy.tree() + "/Photos/Holiday2019.ZIP");

    // A relative start folder, given with a "./" in front.
    const QString parent = QFileInfo(copy.tree()).path();
    const QString relative = "./" + QFileInfo(copy.tree()).fileName();
    const Outcome outcome = copy.run({relative}, {.workingFolder = parent});
    QCOMPARE(outcome.status, 1);

    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 7);
    QCOMPARE(log[1], QString(" 4 tested - 3 bad"));
    QCOMPARE(log[2], copy.tree() + "/");
    QStringList named;
    for (const QString& line : log.mid(3, 3)) {
        const QString name = QString::fromUtf8(unescaped(line.toUtf8()));
        QVERIFY2(QFileInfo(name).isFile(), qPrintable(line));
        named << name.mid(copy.tree().size() + 1);
    }
    named.sort();
    QCOMPARE(named,
             (QStringList{"Photos/Holiday2019.ZIP", "Photos/REPORT.ZIP", forged + "/y\x1b[31m\\z.ZIP"}));
}

void UnattendedTest::incompleteWalksAreTold() {
    InstalledCopy copy;
    QDir().mkpath(copy.scratch() + "/state");
    openToEveryone(copy.scratch() + "/state");
    writeGood(copy.tree() + "/good.zip");
    writeDamaged(copy.tree() + "/Locked/bad.zip");
    ::chmod((copy.tree() + "/Locked").toLocal8Bit().constData(), 0);

    const Outcome outcome = copy.run({copy.tree()}, {.ordinaryUser = true});
    ::chmod((copy.tree() + "/Locked").toLocal8Bit().constData(), 0755);

    QCOMPARE(outcome.status, 2);
    QCOMPARE(outcome.errors,
             QString("vellum: cannot read folder %1/Locked/: Permission denied\n").arg(copy.tree()));
    // The record of what was seen is still written (into the state folder: the program's folder
    // belongs to another user).
    const QString logPath =
        isRoot() ? copy.scratch() + "/state/vellum/errors.log" : copy.folder() + "/errors.log";
    QCOMPARE(fileLines(logPath).value(1), QString(" 1 tested - 0 bad"));

    // A start folder that does not exist.
    const Outcome missing = copy.run({copy.tree() + "/Nowhere"});
    QCOMPARE(missing.status, 2);
    QCOMPARE(missing.errors,
             QString("vellum: cannot read folder %1/Nowhere/: No such file or directory\n").arg(copy.tree()));
    QCOMPARE(fileLines(copy.folder() + "/errors.log").value(2), copy.tree() + "/Nowhere/");
}

void UnattendedTest::pathsLongerThanTheSystemLimitAreTested() {
    InstalledCopy copy;
    // No single call takes a path this long, so the tree is made one level at a time.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(copy.tree()));
    QString deep = copy.tree() + "/Deep";
    QCOMPARE(::mkdir("Deep", 0755), 0);
    QVERIFY(QDir::setCurrent("Deep"));
    for (int level = 0; level < 25; ++level) {
        const QByteArray name(200, static_cast<char>('a' + level));
        QCOMPARE(::mkdir(name.constData(), 0755), 0);
        QVERIFY(QDir::setCurrent(QString::fromLatin1(name)));
        deep += "/" + QString::fromLatin1(name);
    }
    writeFile("ok.zip", buildZip({{"notes.txt", "kept safe\n"}}).bytes);
    BuiltZip damaged = buildZip({{"notes.txt", std::string(3000, 'n'), 0}});
    damaged.bytes[damaged.entries[0].dataOffset + 100] ^= 0x20;
    writeFile("broken.zip", damaged.bytes);
    QVERIFY(QDir::setCurrent(saved));

    const Outcome outcome = copy.run({copy.tree()});
    // The temporary folder's own removal does not reach that deep.
    QProcess::execute("rm", {"-rf", copy.tree() + "/Deep"});

    QCOMPARE(outcome.errors, QString());
    QCOMPARE(outcome.status, 1);
    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.value(1), QString(" 2 tested - 1 bad"));
    QCOMPARE(log.value(3), deep + "/broken.zip");
    QVERIFY(log.value(3).size() > 5000);
}

void UnattendedTest::commandLineOptions() {
    InstalledCopy copy;
    Outcome outcome = copy.run({"--version"});
    QCOMPARE(outcome.status, 0);
    QVERIFY(outcome.output.startsWith("Vellum 1.05\n"));
    outcome = copy.run({"--help"});
    QCOMPARE(outcome.status, 0);
    QVERIFY(outcome.output.startsWith("Usage: vellum [OPTION]... [FOLDER | ARCHIVE]..."));

    for (const QStringList& arguments :
         {QStringList{"-v"}, QStringList{"--bogus", copy.tree()}, QStringList{"--report-dir"},
          QStringList{"-0", copy.tree()}, QStringList{"-vx", copy.tree()}, QStringList{"--files-from"}}) {
        outcome = copy.run(arguments);
        QCOMPARE(outcome.status, 2);
        QCOMPARE(outcome.errors.count('\n'), 2);
        QVERIFY2(outcome.errors.endsWith("Try 'vellum --help' for more information.\n"),
                 qPrintable(outcome.errors));
    }
    QVERIFY(!QFile::exists(copy.folder() + "/errors.log"));

    // A folder named like an option is reached with ./ in front, or after "--".
    writeDamaged(copy.tree() + "/-v/bad.zip");
    QCOMPARE(copy.run({"./-v"}, {.workingFolder = copy.tree()}).status, 1);
    QCOMPARE(copy.run({"--", "-v"}, {.workingFolder = copy.tree()}).status, 1);
    QCOMPARE(fileLines(copy.folder() + "/errors.txt").value(1), copy.tree() + "/-v/bad.zip");
}

void UnattendedTest::displayThatCannotBeReached() {
    InstalledCopy copy;
    writeDamaged(copy.tree() + "/bad.zip");
    const RunOptions nowhere{.environment = {{"DISPLAY", ":97"}, {"XAUTHORITY", "/nonexistent"}}};

    const Outcome unattended = copy.run({copy.tree()}, nowhere);
    QCOMPARE(unattended.status, 1);
    QCOMPARE(unattended.errors, QString());
    QCOMPARE(fileLines(copy.folder() + "/errors.txt").value(1), copy.tree() + "/bad.zip");

    const Outcome window = copy.run({}, nowhere);
    QCOMPARE(window.status, 2);
    QCOMPARE(window.errors.count('\n'), 1);
    QVERIFY2(window.errors.contains("display"), qPrintable(window.errors));
}

// What the dynamic loader maps it tells on standard error under LD_DEBUG=files, dlopen included.
void UnattendedTest::runsFromTheCommandLineLoadNoWindowLibrary() {
    InstalledCopy copy;
    writeDamaged(copy.tree() + "/bad.zip");
    const RunOptions traced{.environment = {{"LD_DEBUG", "files"}}};
    for (const QStringList& arguments : {QStringList{"-q", copy.tree()}, QStringList{copy.tree()}}) {
        const Outcome outcome = copy.run(arguments, traced);
        QCOMPARE(outcome.status, 1);
        QVERIFY2(outcome.errors.contains("libc.so"), qPrintable(outcome.errors.left(2000)));
        QVERIFY2(!outcome.errors.contains("libQt6") && !outcome.errors.contains("libvellum-window"),
                 qPrintable(outcome.errors.left(2000)));
    }
}

void UnattendedTest::windowRunsLoadTheWindowModule() {
    InstalledCopy copy;
    writeDamaged(copy.tree() + "/bad.zip");
    const Outcome outcome =
        copy.run({copy.tree()}, {.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"LD_DEBUG", "files"}}});
    QCOMPARE(outcome.status, 1);
    QVERIFY2(outcome.errors.contains("libvellum-window.so") && outcome.errors.contains("libQt6Widgets"),
             qPrintable(outcome.errors.left(2000)));
    QCOMPARE(fileLines(copy.folder() + "/errors.txt").value(1), copy.tree() + "/bad.zip");
}

// A window module that is missing or damaged is told in one line, and the program ends with status 2;
// a run from the command line still runs.
void UnattendedTest::windowModuleThatCannotBeLoaded() {
    InstalledCopy copy;
    writeDamaged(copy.tree() + "/bad.zip");
    const RunOptions display{.environment = {{"QT_QPA_PLATFORM", "offscreen"}}};
    for (const bool damaged : {false, true}) {
        QFile::remove(copy.windowModule());
        if (damaged)
            writeFile(copy.windowModule().toStdString(), "not a library\n");
        for (const QStringList& arguments : {QStringList{}, QStringList{copy.tree()}}) {
            const Outcome outcome = copy.run(arguments, display);
            QCOMPARE(outcome.status, 2);
            QCOMPARE(outcome.errors.count('\n'), 1);
            QVERIFY2(outcome.errors.startsWith("vellum: cannot open the window: ") &&
                         outcome.errors.contains("libvellum-window.so"),
                     qPrintable(outcome.errors));
        }
        QCOMPARE(copy.run({"-q", copy.tree()}, display).status, 1);
    }
}

QTEST_GUILESS_MAIN(UnattendedTest)
#include "unattended_test.moc"
