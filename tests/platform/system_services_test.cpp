#include "message_box.h"
#include "system_services.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

using namespace vellum::platform;

class SystemServicesTest : public QObject {
    Q_OBJECT

private slots:
    void applicationFolderHoldsThisProgram() {
        const std::string folder = applicationFolder();
        QVERIFY(!folder.empty());
        QVERIFY(folder == "/" || !folder.ends_with('/'));
        const QString expected = QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath();
        QCOMPARE(QString::fromStdString(folder), expected);
        QVERIFY(!isInRootDirectory(folder));
    }

    void rootDirectory_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("inRoot");
        QTest::newRow("root") << "/" << true;
        QTest::newRow("one level down") << "/opt" << false;
        QTest::newRow("deeper") << "/usr/local/bin" << false;
    }

    void rootDirectory() {
        QFETCH(QString, folder);
        QFETCH(bool, inRoot);
        QCOMPARE(isInRootDirectory(folder.toStdString()), inRoot);
    }

    void numberTexts_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("positive") << qint64{12} << " 12";
        QTest::newRow("zero") << qint64{0} << " 0";
        QTest::newRow("negative") << qint64{-3} << "-3";
        QTest::newRow("no grouping") << qint64{1234567} << " 1234567";
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << " 9223372036854775807";
        QTest::newRow("smallest") << std::numeric_limits<qint64>::min() << "-9223372036854775808";
    }

    void numberTexts() {
        QFETCH(qint64, value);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(numberText(value)), text);
    }

    void lowerCases_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("lowered");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("ASCII") << QByteArray("ARCHIVE.Zip") << QByteArray("archive.zip");
        QTest::newRow("ASCII punctuation kept") << QByteArray("[A]@_Z~") << QByteArray("[a]@_z~");
        QTest::newRow("umlaut") << QByteArray("\xc3\x84") << QByteArray("\xc3\xa4");
        QTest::newRow("mixed") << QByteArray("\xc3\x84RGER \xc3\x96L.ZIP")
                               << QByteArray("\xc3\xa4rger \xc3\xb6l.zip");
        QTest::newRow("Greek") << QByteArray("\xce\xa3\xce\x9f") << QByteArray("\xcf\x83\xce\xbf");
        QTest::newRow("four-byte kept") << QByteArray("\xf0\x9f\x98\x80Z") << QByteArray("\xf0\x9f\x98\x80z");
        QTest::newRow("invalid bytes kept") << QByteArray("\xff\xfe"
                                                          "ABC")
                                            << QByteArray("\xff\xfe"
                                                          "abc");
        QTest::newRow("invalid beside valid") << QByteArray("\xc3\x84\xff"
                                                            "A")
                                              << QByteArray("\xc3\x84\xff"
                                                            "a");
        QTest::newRow("cut sequence") << QByteArray("A\xc3") << QByteArray("a\xc3");
        QTest::newRow("overlong form") << QByteArray("\xc0\xaf"
                                                     "B")
                                       << QByteArray("\xc0\xaf"
                                                     "b");
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80"
                                                 "C")
                                   << QByteArray("\xed\xa0\x80"
                                                 "c");
    }

    void lowerCases() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, lowered);
        QCOMPARE(QByteArray::fromStdString(lowerCase(text.toStdString())), lowered);
    }

    void escapedTexts_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("plain name") << QByteArray("/tmp/Photos/Holiday 2019.ZIP")
                                    << QByteArray("/tmp/Photos/Holiday 2019.ZIP");
        QTest::newRow("forged record") << QByteArray("a\r\n01-01-2000 00:00:00  Command line\r\n.zip")
                                       << QByteArray("a\\r\\n01-01-2000 00:00:00  Command line\\r\\n.zip");
        QTest::newRow("terminal codes") << QByteArray("\x1b[2J\tx\x7f") << QByteArray("\\x1b[2J\\tx\\x7f");
        QTest::newRow("backslash") << QByteArray("a\\x1b") << QByteArray("a\\\\x1b");
        QTest::newRow("other bytes kept")
            << QByteArray("caf\xc3\xa9 \xe9\x80") << QByteArray("caf\xc3\xa9 \xe9\x80");
        QTest::newRow("nul") << QByteArray("a\0b", 3) << QByteArray("a\\x00b");
    }

    void escapedTexts() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, escaped);
        QCOMPARE(QByteArray::fromStdString(escapedText(text.toStdString())), escaped);
    }

    void normalFiles_data() {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<bool>("exists");
        QTest::newRow("regular file") << "file.zip" << true;
        QTest::newRow("file in hidden folder") << ".folder/visible.zip" << true;
        QTest::newRow("link to regular file") << "link.zip" << true;
        QTest::newRow("hidden file") << ".hidden.zip" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("missing") << "missing.zip" << false;
        QTest::newRow("trailing slash") << "file.zip/" << false;
        QTest::newRow("device") << "" << false;
    }

    void normalFiles() {
        QFETCH(QString, relativePath);
        QFETCH(bool, exists);
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        const QString root = temporary.path() + "/";
        QVERIFY(QDir(root).mkpath(".folder"));
        QVERIFY(QDir(root).mkpath("folder"));
        for (const char* name : {"file.zip", ".hidden.zip", ".folder/visible.zip"}) {
            QFile file(root + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(root + "file.zip", root + "link.zip"));
        // The empty row stands for a character device, which is no regular file either.
        const std::string path = relativePath.isEmpty() ? "/dev/null" : (root + relativePath).toStdString();
        QCOMPARE(normalFileExists(path), exists);
    }

    void stopMessageWithoutDisplayGoesToStandardError() {
        QTemporaryDir temporary;
        QVERIFY(temporary.isValid());
        const QString capturePath = temporary.filePath("stderr.txt");
        std::fflush(stderr);
        const int savedError = ::dup(STDERR_FILENO);
        std::FILE* capture = std::fopen(capturePath.toLocal8Bit().constData(), "wb");
        QVERIFY(capture != nullptr);
        ::dup2(::fileno(capture), STDERR_FILENO);
        showStopMessage("Cannot open the log file.\r\nThe run goes on.", "Vellum");
        std::fflush(stderr);
        ::dup2(savedError, STDERR_FILENO);
        ::close(savedError);
        std::fclose(capture);
        QFile file(capturePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("Vellum: Cannot open the log file. The run goes on.\n"));
    }
};

QTEST_GUILESS_MAIN(SystemServicesTest)
#include "system_services_test.moc"
