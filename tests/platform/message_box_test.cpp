#include "message_box.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <cstdio>

using namespace vellum::platform;

class MessageBoxTest : public QObject {
    Q_OBJECT

private slots:
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

QTEST_GUILESS_MAIN(MessageBoxTest)
#include "message_box_test.moc"
