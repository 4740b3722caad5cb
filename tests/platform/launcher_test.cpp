#include "condition_wait.h"
#include "launcher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellum::platform;
using namespace vellum::testing;

// Every test runs with a PATH of its own, so that what happens to be installed here does not matter.
class LauncherTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_savedPath = qgetenv("PATH");
        QVERIFY(m_emptyFolder.isValid());
        QVERIFY(m_programFolder.isValid());
    }

    void init() { qputenv("PATH", m_emptyFolder.path().toLocal8Bit()); }

    void cleanupTestCase() { qputenv("PATH", m_savedPath); }

    void mapping_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("resolved");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("notepad with a blank in the path")
            << "notepad.exe /home/me/My Logs/test log.txt" << true << "xdg-open"
            << QStringList{"/home/me/My Logs/test log.txt"};
        QTest::newRow("notepad in capitals")
            << "NOTEPAD.EXE /tmp/a.txt" << true << "xdg-open" << QStringList{"/tmp/a.txt"};
        QTest::newRow("webdial mail") << "webdial.exe >mailto:someone@example.com" << true << "xdg-open"
                                      << QStringList{"mailto:someone@example.com"};
        QTest::newRow("webdial address") << "webdial.exe $https://example.com/vellum" << true << "xdg-open"
                                         << QStringList{"https://example.com/vellum"};
        QTest::newRow("webdial without marker")
            << "webdial.exe https://example.com" << false << QString() << QStringList();
        QTest::newRow("notepad without file") << "notepad.exe" << false << QString() << QStringList();
        QTest::newRow("unknown program") << "calc.exe 1+1" << false << QString() << QStringList();
        QTest::newRow("empty") << "" << false << QString() << QStringList();
        QTest::newRow("leading blanks")
            << "  notepad.exe a.txt" << true << "xdg-open" << QStringList{"a.txt"};
    }

    void mapping() {
        QFETCH(QString, commandLine);
        QFETCH(bool, resolved);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const std::optional<LaunchCommand> command = resolveCommandLine(commandLine.toStdString());
        QCOMPARE(command.has_value(), resolved);
        if (command) {
            QCOMPARE(command->program, program);
            QCOMPARE(command->arguments, arguments);
        }
    }

    // The help command names the help file; the desktop is handed the web page beside it when there
    // is one, and the help file otherwise.
    void helpFileMapsToThePageBesideIt_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("helpFile");
        QTest::addColumn<QString>("opened");
        QTest::newRow("page beside the help file")
            << "vellum" << QStringList{"Vellum.hlp", "Vellum.html"} << QStringList() << "Vellum.hlp"
            << "Vellum.html";
        QTest::newRow("blanks in the folder")
            << "My Programs/vellum 1.05" << QStringList{"Vellum.hlp", "Vellum.html"} << QStringList()
            << "Vellum.hlp"
            << "Vellum.html";
        QTest::newRow("help file in capitals")
            << "vellum" << QStringList{"VELLUM.HLP", "VELLUM.html"} << QStringList() << "VELLUM.HLP"
            << "VELLUM.html";
        QTest::newRow("no page") << "vellum" << QStringList{"Vellum.hlp"} << QStringList() << "Vellum.hlp"
                                 << "Vellum.hlp";
        QTest::newRow("neither file") << "vellum" << QStringList() << QStringList() << "Vellum.hlp"
                                      << "Vellum.hlp";
        QTest::newRow("page without the help file")
            << "vellum" << QStringList{"Vellum.html"} << QStringList() << "Vellum.hlp"
            << "Vellum.html";
        QTest::newRow("folder in the page's place")
            << "vellum" << QStringList{"Vellum.hlp"} << QStringList{"Vellum.html"} << "Vellum.hlp"
            << "Vellum.hlp";
        QTest::newRow("other kind of file")
            << "vellum" << QStringList{"notes.txt", "notes.html"} << QStringList() << "notes.txt"
            << "notes.txt";
    }

    void helpFileMapsToThePageBesideIt() {
        QFETCH(QString, folder);
        QFETCH(QStringList, files);
        QFETCH(QStringList, folders);
        QFETCH(QString, helpFile);
        QFETCH(QString, opened);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString place = root.filePath(folder);
        QVERIFY(QDir().mkpath(place));
        for (const QString& name : files)
            writeFile(place + '/' + name, "Vellum 1.05\n");
        for (const QString& name : folders)
            QVERIFY(QDir().mkpath(place + '/' + name));

        const auto command = resolveCommandLine(("winhelp.exe " + place + '/' + helpFile).toStdString());
        QVERIFY(command.has_value());
        QCOMPARE(command->program, "xdg-open");
        QCOMPARE(command->arguments, QStringList{place + '/' + opened});
    }

    void helpCommandStartsTheDesktopOpenerOnThePage() {
        // A stand-in for the desktop's opener that writes down what it was asked to open.
        QTemporaryDir programs;
        QVERIFY(programs.isValid());
        const QString opener = programs.filePath("xdg-open");
        writeFile(opener, "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.part\" && mv \"$0.part\" \"$0.opened\"\n");
        QVERIFY(QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", programs.path().toLocal8Bit() + ":" + m_savedPath);

        QTemporaryDir install;
        QVERIFY(install.isValid());
        const QString helpFile = install.filePath("Vellum.hlp");
        writeFile(helpFile, "Vellum 1.05\n");
        writeFile(install.filePath("Vellum.html"), "<!DOCTYPE html>\n");

        createSystemLauncher()->start("winhelp.exe " + helpFile.toStdString(), WindowStyle::ShowNoActivate);
        QVERIFY(waitUntil([&] { return QFile::exists(opener + ".opened"); }));
        QFile record(opener + ".opened");
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(record.readAll()), install.filePath("Vellum.html"));
    }

    void helpViewerOnThePathGetsTheHelpFile() {
        // A real help viewer reads the help file itself, so the page is only for the desktop opener.
        QTemporaryDir programs;
        QVERIFY(programs.isValid());
        const QString viewer = programs.filePath("winhelp.exe");
        writeFile(viewer, "#!/bin/sh\nexit 0\n");
        QVERIFY(QFile::setPermissions(viewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", programs.path().toLocal8Bit());
        QTemporaryDir install;
        QVERIFY(install.isValid());
        writeFile(install.filePath("Vellum.hlp"), "Vellum 1.05\n");
        writeFile(install.filePath("Vellum.html"), "<!DOCTYPE html>\n");

        const auto command =
            resolveCommandLine("winhelp.exe " + install.filePath("Vellum.hlp").toStdString());
        QVERIFY(command.has_value());
        QCOMPARE(command->program, viewer);
        QCOMPARE(command->arguments, QStringList{install.filePath("Vellum.hlp")});
    }

    void programOnThePathIsUsed() {
        const QString script = m_programFolder.filePath("notepad.exe");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexit 0\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", m_programFolder.path().toLocal8Bit() + ":" + m_savedPath);

        const auto withFile = resolveCommandLine("notepad.exe /tmp/with blank.txt");
        QVERIFY(withFile.has_value());
        QCOMPARE(withFile->program, script);
        QCOMPARE(withFile->arguments, QStringList{"/tmp/with blank.txt"});

        const auto alone = resolveCommandLine("notepad.exe");
        QVERIFY(alone.has_value());
        QCOMPARE(alone->program, script);
        QVERIFY(alone->arguments.isEmpty());
    }

    void startReturnsWhileTheProgramRuns() {
        // The program waits for a line on a pipe that only this test writes to, and tells when it
        // got it: it cannot end before the test lets it.
        const QString pipe = m_programFolder.filePath("release");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const QString script = m_programFolder.filePath("notepad.exe");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nread line < \"$1\"\n: > \"$1.ended\"\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", m_programFolder.path().toLocal8Bit() + ":" + m_savedPath);

        createSystemLauncher()->start("notepad.exe " + pipe.toStdString(), WindowStyle::ShowNormal);
        QVERIFY(!QFile::exists(pipe + ".ended"));

        // Opening the pipe for writing succeeds once the program has it open for reading, which
        // also shows that it was started.
        int writer = -1;
        QVERIFY(waitUntil([&] {
            writer = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            return writer >= 0;
        }));
        QCOMPARE(::write(writer, "go\n", 3), ssize_t{3});
        ::close(writer);
        QVERIFY(waitUntil([&] { return QFile::exists(pipe + ".ended"); }));
    }

    void startWithNothingToRunIsSilent() {
        // The empty PATH leaves not even the desktop opener to run; starting must not fail loudly.
        const auto launcher = createSystemLauncher();
        launcher->start("notepad.exe /tmp/missing file.txt", WindowStyle::ShowNormal);
        launcher->start("webdial.exe >mailto:someone@example.com", WindowStyle::ShowNoActivate);
        launcher->start("unknown.exe", WindowStyle::ShowNormal);
    }

private:
    static void writeFile(const QString& path, const QByteArray& contents) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(contents), contents.size());
    }

    QByteArray m_savedPath;
    QTemporaryDir m_emptyFolder;
    QTemporaryDir m_programFolder;
};

QTEST_GUILESS_MAIN(LauncherTest)
#include "launcher_test.moc"
