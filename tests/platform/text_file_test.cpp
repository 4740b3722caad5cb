#include "text_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using vellum::platform::TextFile;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeContents(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class TextFileTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_temporary = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temporary->isValid());
        m_path = m_temporary->filePath("log.txt");
    }

    void linesEndInCarriageReturnLineFeed() {
        TextFile file;
        QVERIFY(file.open(m_path.toStdString(), TextFile::Mode::Output));
        QVERIFY(file.writeLine("first"));
        QVERIFY(file.writeLine(""));
        QVERIFY(file.writeLine("last line"));
        QVERIFY(file.close());
        QCOMPARE(contents(m_path), QByteArray("first\r\n\r\nlast line\r\n"));
    }

    void outputEmptiesAnExistingFile() {
        writeContents(m_path, "older and longer content\r\n");
        TextFile file;
        QVERIFY(file.open(m_path.toStdString(), TextFile::Mode::Output));
        QVERIFY(file.writeLine("new"));
        QVERIFY(file.close());
        QCOMPARE(contents(m_path), QByteArray("new\r\n"));
    }

    void appendWritesAtTheEnd() {
        writeContents(m_path, "old\r\n");
        TextFile file;
        QVERIFY(file.open(m_path.toStdString(), TextFile::Mode::Append));
        QVERIFY(file.writeLine("new"));
        QVERIFY(file.close());
        QCOMPARE(contents(m_path), QByteArray("old\r\nnew\r\n"));
    }

    void appendCreatesAMissingFile() {
        TextFile file;
        QVERIFY(file.open(m_path.toStdString(), TextFile::Mode::Append));
        QVERIFY(file.writeLine("only"));
        QVERIFY(file.close());
        QCOMPARE(contents(m_path), QByteArray("only\r\n"));
    }

    void openInMissingFolderFails() {
        TextFile file;
        QVERIFY(!file.open(m_temporary->filePath("missing/log.txt").toStdString(), TextFile::Mode::Output));
        QVERIFY(!file.isOpen());
        QVERIFY(!file.writeLine("lost"));
    }

    void destructorCloses() {
        {
            TextFile file;
            QVERIFY(file.open(m_path.toStdString(), TextFile::Mode::Output));
            QVERIFY(file.writeLine("kept"));
        }
        QCOMPARE(contents(m_path), QByteArray("kept\r\n"));
    }

    void fullDeviceFailureShowsOnClose() {
        if (!QFile::exists("/dev/full"))
            QSKIP("This system has no device that is always full.");
        // A short line waits in the buffer, so the failure can only show when close writes it out.
        TextFile file;
        QVERIFY(file.open("/dev/full", TextFile::Mode::Output));
        QVERIFY(file.writeLine("a line that does not fit"));
        QVERIFY(!file.close());
        QVERIFY(!file.isOpen());
    }

    void fullDeviceFailsWritesAndClose() {
        if (!QFile::exists("/dev/full"))
            QSKIP("This system has no device that is always full.");
        // Enough lines to overflow the buffer: a write fails, and close still reports it.
        TextFile file;
        QVERIFY(file.open("/dev/full", TextFile::Mode::Output));
        bool allWritten = true;
        for (int line = 0; line < 10000; ++line)
            allWritten = file.writeLine("a line that does not fit") && allWritten;
        QVERIFY(!allWritten);
        QVERIFY(!file.close());
    }

private:
    std::unique_ptr<QTemporaryDir> m_temporary;
    QString m_path;
};

QTEST_GUILESS_MAIN(TextFileTest)
#include "text_file_test.moc"
