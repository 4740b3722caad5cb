#include "condition_wait.h"
#include "desktop_services.h"
#include "standard_error_capture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellum::platform;
using namespace vellum::testing;

// Every test runs with a PATH of its own, so that what happens to be installed here does not matter.
class DesktopServicesTest : public QObject {
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
        QTest::addColumn<int>("intent");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("argument");
        const auto row = [](const char* name, DesktopIntent intent, const char* target,
                            const char* argument) {
            QTest::newRow(name) << static_cast<int>(intent) << target << argument;
        };
        row("text file with a blank in the path", DesktopIntent::TextFile, "/home/me/My Logs/test log.txt",
            "/home/me/My Logs/test log.txt");
        row("mail", DesktopIntent::Mail, "someone@example.com", "mailto:someone@example.com");
        row("web page", DesktopIntent::WebPage, "https://example.com/vellum", "https://example.com/vellum");
    }

    void mapping() {
        QFETCH(int, intent);
        QFETCH(QString, target);
        QFETCH(QString, argument);
        const LaunchCommand command =
            desktopCommand(static_cast<DesktopIntent>(intent), target.toStdString());
        QCOMPARE(command.program, std::string("xdg-open"));
        QCOMPARE(command.arguments, std::vector{argument.toStdString()});
    }

    // The manual is asked for by its help file; the desktop is handed the web page beside it when
    // there is one, and the help file otherwise.
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

        const LaunchCommand command =
            desktopCommand(DesktopIntent::Manual, QFile::encodeName(place + '/' + helpFile).toStdString());
        QCOMPARE(command.arguments, std::vector{QFile::encodeName(place + '/' + opened).toStdString()});
    }

    void manualStartsTheDesktopOpenerOnThePage() {
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

        createDesktopServices()->openManual(helpFile.toStdString());
        QVERIFY(waitUntil([&] { return QFile::exists(opener + ".opened"); }));
        QFile record(opener + ".opened");
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(record.readAll()), install.filePath("Vellum.html"));
    }

    void startReturnsWhileTheProgramRuns() {
        // The program waits for a line on a pipe that only this test writes to, and tells when it
        // got it: it cannot end before the test lets it.
        const QString pipe = m_programFolder.filePath("release");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const QString script = m_programFolder.filePath("xdg-open");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nread line < \"$1\"\n: > \"$1.ended\"\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("PATH", m_programFolder.path().toLocal8Bit() + ":" + m_savedPath);

        createDesktopServices()->openTextFile(pipe.toStdString());
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

    // Once the opener has ended, what the desktop could not show goes to the handler, byte for
    // byte; what it showed does not. Without a handler, standard error names the failure.
    void whatTheDesktopCannotShowGoesToTheHandler_data() {
        QTest::addColumn<QByteArray>("opener"); // the stand-in's last command; empty: none on the PATH
        QTest::addColumn<QByteArray>("asked");  // a help file (*.hlp) is asked for as the manual
        QTest::addColumn<QByteArray>("shown");  // what the handler is given; empty: nothing
        QTest::newRow("no opener") << QByteArray() << QByteArray("errors.log") << QByteArray("errors.log");
        QTest::newRow("no program for the type, name not UTF-8")
            << QByteArray("exit 3") << QByteArray("caf\xe9.txt") << QByteArray("caf\xe9.txt");
        QTest::newRow("manual") << QByteArray("exit 4") << QByteArray("Vellum.hlp")
                                << QByteArray("Vellum.html");
        QTest::newRow("shown") << QByteArray("exit 0") << QByteArray("errors.log") << QByteArray();
    }

    void whatTheDesktopCannotShowGoesToTheHandler() {
        QFETCH(QByteArray, opener);
        QFETCH(QByteArray, asked);
        QFETCH(QByteArray, shown);
        QTemporaryDir programs;
        const QString standIn = programs.filePath("xdg-open");
        // The process number is renamed into place so that it is never read half written.
        writeFile(standIn, "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.opened\"\n"
                           "echo $$ > \"$0.new\" && mv \"$0.new\" \"$0.pid\"\n" +
                               opener);
        QVERIFY(opener.isEmpty() || QFile::setPermissions(standIn, QFile::ReadOwner | QFile::ExeOwner));
        qputenv("PATH", programs.path().toLocal8Bit() + (opener.isEmpty() ? "" : ":" + m_savedPath));
        writeFile(m_programFolder.filePath("Vellum.html"), "<p>Vellum 1.05</p>\n");
        const QByteArray folder = QFile::encodeName(m_programFolder.path()) + "/";
        const auto desktop = createDesktopServices();
        std::vector<QByteArray> told;
        desktop->whenNotShown(
            [&](const std::string& file) { told.push_back(QByteArray::fromStdString(file)); });
        if (asked.endsWith(".hlp"))
            desktop->openManual((folder + asked).toStdString());
        else
            desktop->openTextFile((folder + asked).toStdString());

        if (opener.isEmpty()) {
            QVERIFY(waitUntil([&] { return !told.empty(); }));
        } else {
            // Once the stand-in has been reaped, the services have heard how it ended.
            QVERIFY(waitUntil([&] { return QFile::exists(standIn + ".pid"); }));
            const pid_t process = readFile(standIn + ".pid").trimmed().toInt();
            QVERIFY(process > 0);
            QVERIFY(waitUntil([&] { return ::kill(process, 0) != 0; }));
            QCOMPARE(readFile(standIn + ".opened"), folder + (shown.isEmpty() ? asked : shown));
        }
        QCOMPARE(told, shown.isEmpty() ? std::vector<QByteArray>{} : std::vector{folder + shown});
    }

    void failuresNobodyShowsAreNamedOnStandardError() {
        // The empty PATH leaves not even the desktop opener to run.
        const StandardErrorCapture capture;
        const auto desktop = createDesktopServices();
        desktop->openWebPage("https://example.com/");
        QVERIFY(waitUntil([&] {
            return capture.text() ==
                   "vellum: the desktop could not open https://example.com/: xdg-open could not be "
                   "started: No such file or directory\n";
        }));
    }

private:
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void writeFile(const QString& path, const QByteArray& contents) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(contents), contents.size());
    }

    QByteArray m_savedPath;
    QTemporaryDir m_emptyFolder;
    QTemporaryDir m_programFolder;
};

QTEST_GUILESS_MAIN(DesktopServicesTest)
#include "desktop_services_test.moc"
