// The small services of the platform layer: the texts made of numbers, names and report lines, the
// test for a normal file, the program's folder, the stop message told without a display, and the
// reading of a file to be shown.

#include "escaped_text.h"
#include "file_tail.h"
#include "lower_case.h"
#include "message_box.h"
#include "normal_file.h"
#include "number_text.h"
#include "program_folder.h"
#include "standard_error_capture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

using namespace vellum::platform;
using namespace vellum::testing;

class SmallServicesTest : public QObject {
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
    void normalFiles_data();
    void normalFiles();
    void rootDirectory_data();
    void rootDirectory();
    void applicationFolderHoldsThisProgram();
    void stopMessageWithoutDisplayGoesToStandardError();
    void fileTails();
};

// Each text service turns bytes into bytes; numbers are given as their decimal text.
void SmallServicesTest::texts_data() {
    QTest::addColumn<QString>("service");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("made");
    const auto row = [](const char* service, const char* name, const QByteArray& text,
                        const QByteArray& made) {
        QTest::addRow("%s: %s", service, name) << QString::fromLatin1(service) << text << made;
    };
    row("numberText", "positive", "12", " 12");
    row("numberText", "zero", "0", " 0");
    row("numberText", "negative", "-3", "-3");
    row("numberText", "no grouping", "1234567", " 1234567");
    row("numberText", "largest", "9223372036854775807", " 9223372036854775807");
    row("numberText", "smallest", "-9223372036854775808", "-9223372036854775808");

    row("lowerCase", "empty", QByteArray(), QByteArray());
    row("lowerCase", "ASCII", "ARCHIVE.Zip", "archive.zip");
    row("lowerCase", "ASCII punctuation kept", "[A]@_Z~", "[a]@_z~");
    row("lowerCase", "umlaut", "\xc3\x84", "\xc3\xa4");
    row("lowerCase", "mixed", "\xc3\x84RGER \xc3\x96L.ZIP", "\xc3\xa4rger \xc3\xb6l.zip");
    row("lowerCase", "Greek", "\xce\xa3\xce\x9f", "\xcf\x83\xce\xbf");
    row("lowerCase", "four-byte kept", "\xf0\x9f\x98\x80Z", "\xf0\x9f\x98\x80z");
    row("lowerCase", "invalid bytes kept", QByteArray("\xff\xfe") + "ABC", QByteArray("\xff\xfe") + "abc");
    row("lowerCase", "invalid beside valid", QByteArray("\xc3\x84\xff") + "A",
        QByteArray("\xc3\x84\xff") + "a");
    row("lowerCase", "cut sequence", "A\xc3", "a\xc3");
    row("lowerCase", "overlong form", QByteArray("\xc0\xaf") + "B", QByteArray("\xc0\xaf") + "b");
    row("lowerCase", "surrogate", QByteArray("\xed\xa0\x80") + "C", QByteArray("\xed\xa0\x80") + "c");

    row("escapedText", "plain name", "/tmp/Photos/Holiday 2019.ZIP", "/tmp/Photos/Holiday 2019.ZIP");
    row("escapedText", "forged record", "a\r\n01-01-2000 00:00:00  Command line\r\n.zip",
        "a\\r\\n01-01-2000 00:00:00  Command line\\r\\n.zip");
    row("escapedText", "terminal codes", "\x1b[2J\tx\x7f", "\\x1b[2J\\tx\\x7f");
    row("escapedText", "backslash", "a\\x1b", "a\\\\x1b");
    row("escapedText", "other bytes kept", "caf\xc3\xa9 \xe9\x80 \xc2\xa0\xe2\x80\xa9",
        "caf\xc3\xa9 \xe9\x80 \xc2\xa0\xe2\x80\xa9");
    row("escapedText", "C1 controls",
        "a\xc2\x9b"
        "2Jb\xc2\x80",
        "a\\xc2\\x9b2Jb\\xc2\\x80");
    row("escapedText", "text turned around", "\xe2\x80\xaegpj.zip\xe2\x81\xa6x\xe2\x81\xa9",
        "\\xe2\\x80\\xaegpj.zip\\xe2\\x81\\xa6x\\xe2\\x81\\xa9");
    row("escapedText", "nul", QByteArray("a\0b", 3), "a\\x00b");
}

void SmallServicesTest::texts() {
    QFETCH(QString, service);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, made);
    std::string result;
    if (service == "numberText") {
        bool isNumber = false;
        const qint64 value = text.toLongLong(&isNumber);
        QVERIFY(isNumber);
        result = numberText(value);
    } else if (service == "lowerCase") {
        result = lowerCase(text.toStdString());
    } else {
        result = escapedText(text.toStdString());
    }
    QCOMPARE(QByteArray::fromStdString(result), made);
}

void SmallServicesTest::normalFiles_data() {
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

void SmallServicesTest::normalFiles() {
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

void SmallServicesTest::rootDirectory_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("inRoot");
    QTest::newRow("root") << "/" << true;
    QTest::newRow("one level down") << "/opt" << false;
    QTest::newRow("deeper") << "/usr/local/bin" << false;
}

void SmallServicesTest::rootDirectory() {
    QFETCH(QString, folder);
    QFETCH(bool, inRoot);
    QCOMPARE(isInRootDirectory(folder.toStdString()), inRoot);
}

void SmallServicesTest::applicationFolderHoldsThisProgram() {
    const std::string folder = applicationFolder();
    QVERIFY(!folder.empty());
    QVERIFY(folder == "/" || !folder.ends_with('/'));
    const QString expected = QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath();
    QCOMPARE(QString::fromStdString(folder), expected);
    QVERIFY(!isInRootDirectory(folder));
}

void SmallServicesTest::stopMessageWithoutDisplayGoesToStandardError() {
    const StandardErrorCapture capture;
    showStopMessage("Cannot open the log file.\r\nThe run goes on.", "Vellum");
    QCOMPARE(capture.text(), QByteArray("Vellum: Cannot open the log file. The run goes on.\n"));
}

// A long file is read from its last whole lines; a FIFO is refused without waiting for a writer.
void SmallServicesTest::fileTails() {
    QTemporaryDir folder;
    QFile log(folder.filePath("errors.log"));
    QVERIFY(log.open(QIODevice::WriteOnly) && log.write("first line\nsecond\nthird\n") == 24 && log.flush());
    const std::string fifo = QFile::encodeName(folder.filePath("fifo")).toStdString();
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    // The last 10 bytes are "ond\nthird\n", whose cut line goes too.
    const FileTail tail = readFileTail(QFile::encodeName(log.fileName()).toStdString(), 10);
    QCOMPARE(tail.text, std::string("third\n"));
    QCOMPARE(tail.leftOut, std::uint64_t{18});
    QCOMPARE(readFileTail(fifo, 10).failure.value_or(""), std::string("not a regular file"));
}

QTEST_GUILESS_MAIN(SmallServicesTest)
#include "small_services_test.moc"
