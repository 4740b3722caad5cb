// The program itself, run unattended on a generated tree with no display: report files, exit
// status and the viewer it starts. Each test runs a private copy of the program in a temporary
// folder, since the report files are written beside the program.

#include "zip_builder.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellum::testing;

namespace {

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString content = QString::fromUtf8(file.readAll());
    if (!content.endsWith("\r\n"))
        return {"<not ending in CR LF>"};
    content.chop(2);
    return content.split("\r\n");
}

class InstalledCopy {
public:
    InstalledCopy() {
        const QString program = m_home.path() + "/vellum";
        QFile::copy(VELLUM_PROGRAM, program);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // A text viewer of our own on the PATH records what the program asks it to open.
        QDir().mkpath(m_home.path() + "/bin");
        const QString viewer = m_home.path() + "/bin/notepad.exe";
        QFile script(viewer);
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$(dirname \"$0\")/viewer-calls\"\n");
        script.close();
        QFile::setPermissions(viewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString folder() const { return m_home.path(); }
    QString tree() const { return m_tree.path(); }

    int run(const QStringList& arguments, QString* errorOutput = nullptr) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("TMPDIR", m_home.path());
        environment.insert("PATH", m_home.path() + "/bin:" + environment.value("PATH"));
        process.setProcessEnvironment(environment);
        process.start(m_home.path() + "/vellum", arguments);
        if (!process.waitForFinished(60000))
            return -1;
        if (errorOutput)
            *errorOutput = QString::fromUtf8(process.readAllStandardError());
        m_output = QString::fromUtf8(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString output() const { return m_output; }

    QStringList viewerCalls() const {
        QStringList calls;
        // The viewer is started without waiting for it; give it a moment to write.
        for (int attempt = 0; attempt < 50 && calls.isEmpty(); ++attempt) {
            QFile file(m_home.path() + "/bin/viewer-calls");
            if (file.open(QIODevice::ReadOnly))
                calls = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
            else
                QTest::qWait(20);
        }
        return calls;
    }

private:
    QTemporaryDir m_home;
    QTemporaryDir m_tree;
    QString m_output;
};

void writeGood(const QString& path) {
    writeFile(path.toStdString(), buildZip({{"notes.txt", "kept safe\n"}}).bytes);
}

void writeDamaged(const QString& path) {
    BuiltZip zip = buildZip({{"notes.txt", std::string(3000, 'n'), 0}});
    zip.bytes[zip.entries[0].dataOffset + 100] ^= 0x20;
    writeFile(path.toStdString(), zip.bytes);
}

const QRegularExpression headerPattern(R"(^\d\d-\d\d-\d{4} \d\d:\d\d:\d\d  Command line$)");

} // namespace

class UnattendedTest : public QObject {
    Q_OBJECT
private slots:
    void reportsBadArchivesAndExitsWithOne();
    void cleanTreeAppendsFourLinesAndExitsWithZero();
    void missingFolderExitsWithTwo();
    void answersVersionAndHelp();
};

void UnattendedTest::reportsBadArchivesAndExitsWithOne() {
    InstalledCopy copy;
    QDir().mkpath(copy.tree() + "/Mixed/Deep");
    writeGood(copy.tree() + "/Mixed/Data.ZIP");
    writeDamaged(copy.tree() + "/Mixed/Deep/Broken.zip");
    writeDamaged(copy.tree() + "/top.zip");
    writeFile((copy.tree() + "/not-really.zip").toStdString(), "just some text\n");

    QCOMPARE(copy.run({copy.tree()}), 1);

    const QString shownTree = copy.tree().toLower() + "/";
    const QStringList report = fileLines(copy.folder() + "/errors.txt");
    QCOMPARE(report.size(), 4);
    QVERIFY2(headerPattern.match(report[0]).hasMatch(), qPrintable(report[0]));
    QStringList bad = report.mid(1);
    bad.sort();
    QCOMPARE(bad, (QStringList{shownTree + "mixed/deep/broken.zip", shownTree + "not-really.zip",
                               shownTree + "top.zip"}));

    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 7);
    QVERIFY2(headerPattern.match(log[0]).hasMatch(), qPrintable(log[0]));
    QCOMPARE(log[1], QString(" 4 tested - 3 bad"));
    QCOMPARE(log[2], copy.tree() + "/");
    QCOMPARE(log.mid(3, 3), report.mid(1));
    QCOMPARE(log[6], QString());

    QCOMPARE(copy.viewerCalls(), QStringList{copy.folder() + "/errors.txt"});
}

void UnattendedTest::cleanTreeAppendsFourLinesAndExitsWithZero() {
    InstalledCopy copy;
    writeGood(copy.tree() + "/one.zip");
    writeFile((copy.folder() + "/errors.txt").toStdString(), "kept\r\n");

    QCOMPARE(copy.run({copy.tree()}), 0);
    QCOMPARE(copy.run({copy.tree() + "/"}), 0);

    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 8);
    QCOMPARE(log[1], QString(" 1 tested - 0 bad"));
    QCOMPARE(log[2], copy.tree() + "/");
    QCOMPARE(log[3], QString());
    QCOMPARE(log[6], log[2]);
    QCOMPARE(fileLines(copy.folder() + "/errors.txt"), QStringList{"kept"});
}

void UnattendedTest::missingFolderExitsWithTwo() {
    InstalledCopy copy;
    QString errors;

    QCOMPARE(copy.run({copy.tree() + "/Nowhere"}, &errors), 2);

    QCOMPARE(errors.count('\n'), 1);
    QVERIFY2(errors.contains("Nowhere"), qPrintable(errors));
    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 4);
    QCOMPARE(log[1], QString(" 0 tested - 0 bad"));
    QCOMPARE(log[2], copy.tree() + "/Nowhere/");
}

void UnattendedTest::answersVersionAndHelp() {
    InstalledCopy copy;
    QCOMPARE(copy.run({"--version"}), 0);
    QVERIFY(copy.output().startsWith("Vellum 1.05\n"));
    QCOMPARE(copy.run({"--help"}), 0);
    QVERIFY(copy.output().startsWith("Usage: vellum [FOLDER]"));
    QVERIFY(!QFile::exists(copy.folder() + "/errors.log"));
}

QTEST_GUILESS_MAIN(UnattendedTest)
#include "unattended_test.moc"
