// The sizes --memory takes, and how a want of decoder memory is put into words.

#include "command_line.h"
#include "fault_text.h"

#include <QtTest>

using namespace vellum;

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void memorySizes_data();
    void memorySizes();
    void memoryShortfallInMebibytes();
};

void CommandLineTest::memorySizes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qulonglong>("bytes"); // 0: refused
    QTest::newRow("mebibytes") << "512M" << (qulonglong{512} << 20);
    QTest::newRow("gibibytes") << "2G" << (qulonglong{2} << 30);
    QTest::newRow("spelled out") << "1536MiB" << (qulonglong{1536} << 20);
    QTest::newRow("with B") << "64KB" << (qulonglong{64} << 10);
    QTest::newRow("lower case") << "3g" << (qulonglong{3} << 30);
    QTest::newRow("tebibytes") << "1T" << (qulonglong{1} << 40);
    QTest::newRow("no unit") << "512" << qulonglong{0};
    QTest::newRow("zero") << "0G" << qulonglong{0};
    QTest::newRow("no number") << "M" << qulonglong{0};
    QTest::newRow("unknown unit") << "5X" << qulonglong{0};
    QTest::newRow("unit then more") << "5MiBs" << qulonglong{0};
    QTest::newRow("fraction") << "1.5G" << qulonglong{0};
    QTest::newRow("sign") << "-1G" << qulonglong{0};
    QTest::newRow("largest") << "16777215T" << (qulonglong{16777215} << 40);
    QTest::newRow("beyond 64 bits") << "16777216T" << qulonglong{0};
}

void CommandLineTest::memorySizes() {
    QFETCH(QString, text);
    QFETCH(qulonglong, bytes);
    QCOMPARE(parseMemorySize(text.toStdString()).value_or(0), bytes);
}

void CommandLineTest::memoryShortfallInMebibytes() {
    QCOMPARE(memoryShortfallText((std::uint64_t{1536} << 20) + 1, std::uint64_t{900} << 20),
             "needs 1,537 MiB of decoder memory, 900 MiB could be had");
    QCOMPARE(memoryShortfallText(std::uint64_t{1234567} << 20, (std::uint64_t{2} << 20) - 1),
             "needs 1,234,567 MiB of decoder memory, 1 MiB could be had");
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
