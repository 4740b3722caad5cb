#include "escaped_text.h"

#include <QTest>

using namespace vellum::platform;

class EscapedTextTest : public QObject {
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(EscapedTextTest)
#include "escaped_text_test.moc"
