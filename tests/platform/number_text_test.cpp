#include "number_text.h"

#include <QTest>

#include <limits>

using namespace vellum::platform;

class NumberTextTest : public QObject {
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(NumberTextTest)
#include "number_text_test.moc"
