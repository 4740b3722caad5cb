// The lower case of names against Qt's, which the window showed them in before lowering needed no
// Qt: every code point alone, between letters, and all of them in one text.

#include "lower_case.h"

#include <QByteArray>
#include <QString>
#include <QTest>

#include <string>

using namespace vellum::platform;

namespace {

std::string qtLowerCase(const std::string& text) {
    const QByteArray lowered =
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toLower().toUtf8();
    return lowered.toStdString();
}

std::string utf8Of(char32_t codePoint) {
    return QString::fromUcs4(&codePoint, 1).toUtf8().toStdString();
}

bool isSurrogate(char32_t codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

} // namespace

class LowerCaseTest : public QObject {
    Q_OBJECT

private slots:
    void everyCodePointAsQtLowersIt();
    void allCodePointsInOneText();
    void byteOrderMarks_data();
    void byteOrderMarks();
};

void LowerCaseTest::everyCodePointAsQtLowersIt() {
    int differing = 0;
    for (char32_t codePoint = 0; codePoint <= 0x10FFFF; ++codePoint) {
        if (isSurrogate(codePoint))
            continue;
        const std::string alone = utf8Of(codePoint);
        const std::string between = "\xc3\x84" + alone + "Z" + alone + "a";
        for (const std::string& text : {alone, between}) {
            if (lowerCase(text) != qtLowerCase(text) && ++differing <= 10)
                qWarning("U+%04X lowered differently in \"%s\"", static_cast<unsigned>(codePoint),
                         QByteArray::fromStdString(text).toHex(' ').constData());
        }
    }
    QCOMPARE(differing, 0);
}

void LowerCaseTest::allCodePointsInOneText() {
    std::string text = "A";
    for (char32_t codePoint = 1; codePoint <= 0x10FFFF; ++codePoint) {
        if (!isSurrogate(codePoint))
            text += utf8Of(codePoint);
    }
    QVERIFY(lowerCase(text) == qtLowerCase(text));
}

// Decoding UTF-8 drops a byte-order mark at the start of the text, and only there.
void LowerCaseTest::byteOrderMarks_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("made");
    QTest::newRow("at the start") << QByteArray("\xef\xbb\xbf\xc3\x84") << QByteArray("\xc3\xa4");
    QTest::newRow("alone") << QByteArray("\xef\xbb\xbf") << QByteArray();
    QTest::newRow("two at the start") << QByteArray("\xef\xbb\xbf\xef\xbb\xbf") << QByteArray("\xef\xbb\xbf");
    QTest::newRow("inside") << QByteArray("\xc3\x84\xef\xbb\xbf") << QByteArray("\xc3\xa4\xef\xbb\xbf");
}

void LowerCaseTest::byteOrderMarks() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, made);
    QCOMPARE(QByteArray::fromStdString(lowerCase(text.toStdString())), made);
    QCOMPARE(QByteArray::fromStdString(qtLowerCase(text.toStdString())), made);
}

QTEST_APPLESS_MAIN(LowerCaseTest)
#include "lower_case_test.moc"
