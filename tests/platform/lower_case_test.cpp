#include "lower_case.h"

#include <QTest>

using namespace vellum::platform;

class LowerCaseTest : public QObject {
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(LowerCaseTest)
#include "lower_case_test.moc"
