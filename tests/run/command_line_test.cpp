// The options the command line takes, in their short, long and shortened forms, the sizes --memory
// takes, how a want of decoder memory is put into words, and the progress and closing lines of a run
// on a terminal.

#include "amount_text.h"
#include "closing_line.h"
#include "command_line.h"
#include "fault_text.h"
#include "progress_line.h"

#include <QtTest>

#include <chrono>
#include <cstdio>

using namespace vellum;

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void optionForms_data();
    void optionForms();
    void memorySizes_data();
    void memorySizes();
    void memoryShortfallInMebibytes();
    void closingLine();
    void progressOfAnArchiveWorthWatching();
};

namespace {

// What a command line asked for, in a few words: the request, the usage error, or what a run uses.
QString described(const CommandLine& commandLine) {
    switch (commandLine.request) {
    case CommandLine::Request::Help:
        return "help";
    case CommandLine::Request::Version:
        return "version";
    case CommandLine::Request::UsageError:
        return "error: " + QString::fromStdString(commandLine.error);
    case CommandLine::Request::Run:
        break;
    }
    QStringList words;
    if (commandLine.task != CommandLine::Task::Test)
        words << "task";
    if (commandLine.timeLimit)
        words << "limit " + QString::number(commandLine.timeLimit->count());
    if (commandLine.verbose)
        words << "verbose";
    if (!commandLine.reportFolder.empty())
        words << "report " + QString::fromStdString(commandLine.reportFolder);
    if (!commandLine.fileList.empty())
        words << "list " + QString::fromStdString(commandLine.fileList);
    for (const std::string& path : commandLine.paths)
        words << QString::fromStdString(path);
    return words.join(' ');
}

} // namespace

void CommandLineTest::optionForms_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("-h") << QStringList{"-h"} << "help";
    QTest::newRow("-V") << QStringList{"-V", "--bogus"} << "version";
    QTest::newRow("grouped with -h") << QStringList{"-vh", "a"} << "help";
    QTest::newRow("prefix") << QStringList{"--verb", "a"} << "verbose a";
    QTest::newRow("prefix with =value") << QStringList{"--rep=r", "a"} << "report r a";
    QTest::newRow("prefix then its value") << QStringList{"--files", "-"} << "list -";
    QTest::newRow("prefix missing its value")
        << QStringList{"a", "--mem"} << "error: option '--memory' requires an argument";
    QTest::newRow("ambiguous")
        << QStringList{"--ver", "a"}
        << "error: option '--ver' is ambiguous; possibilities: '--version' '--verbose'";
    QTest::newRow("ambiguous with a value")
        << QStringList{"--f=x", "a"}
        << "error: option '--f' is ambiguous; possibilities: '--files-from' '--follow'";
    QTest::newRow("longer than any") << QStringList{"--verbosely", "a"}
                                     << "error: unrecognized option '--verbosely'";
    QTest::newRow("no name") << QStringList{"--=a"} << "error: unrecognized option '--=a'";
    QTest::newRow("flag with a value")
        << QStringList{"--js=yes", "a"} << "error: option '--json' doesn't allow an argument";
    QTest::newRow("after --") << QStringList{"--", "--verb"} << "--verb";
    QTest::newRow("time limit in minutes") << QStringList{"--time-limit", "90m", "a"} << "limit 5400 a";
    QTest::newRow("time limit in days") << QStringList{"--time=2d", "a"} << "limit 172800 a";
    QTest::newRow("time limit of nothing")
        << QStringList{"--time-limit", "0", "a"}
        << "error: invalid duration '0' for '--time-limit' (say 7200, 90m or 2h)";
    QTest::newRow("time limit in weeks")
        << QStringList{"--time-limit", "1w", "a"}
        << "error: invalid duration '1w' for '--time-limit' (say 7200, 90m or 2h)";
    QTest::newRow("list due, NUL-terminated") << QStringList{"--list-due", "-0", "a"} << "task a";
    QTest::newRow("two tasks") << QStringList{"--import", "--list-due", "a"}
                               << "error: options '--import' and '--list-due' exclude each other";
    QTest::newRow("check without results")
        << QStringList{"--check-results", "list"}
        << "error: option '--check-results' needs a list and at least one results file";
    QTest::newRow("import without a ledger")
        << QStringList{"--import", "--no-ledger", "r.jsonl"}
        << "error: option '--import' needs the ledger, which '--no-ledger' turns off";
}

void CommandLineTest::optionForms() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, outcome);
    std::vector<QByteArray> bytes{"vellum"};
    for (const QString& argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());
    QCOMPARE(described(parseCommandLine(static_cast<int>(argv.size()), argv.data())), outcome);
}

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

void CommandLineTest::closingLine() {
    const std::string path = "/a.zip";
    const std::vector<ZipFault> faults;
    RunTally tally(false);
    RunTally strict(true);
    for (RunTally* counts : {&tally, &strict})
        for (const FullVerdict verdict : {FullVerdict::Good, FullVerdict::Bad, FullVerdict::Unverified})
            counts->archiveJudged(ArchiveOutcome{path, 0, 0, verdict, faults});
    RunSummary summary;
    summary.unreachable = 4;
    summary.report.folder = "/home/u/.local/state/line\nbreak";
    QCOMPARE(closingLineText(tally, summary, 1'234'567'890, 4.06),
             "vellum: 3 tested, 1 bad, 1 unverified, 4 unreadable, 1.2 GB in 4.1 s; reports in "
             "/home/u/.local/state/line\\nbreak");
    summary.record.cancelled = true;
    summary.report.failures.push_back({"/home/u/errors.txt", "No space left on device"});
    QCOMPARE(closingLineText(strict, summary, 999, 725),
             "vellum: stopped: 3 tested, 2 bad (1 unverified), 4 unreadable, 999 bytes in 12 min 5 s; the "
             "reports could not all be written");

    // Rounded where the unit changes, not beyond it.
    QCOMPARE(byteAmountText(999'949), "999.9 kB");
    QCOMPARE(byteAmountText(999'950), "1.0 MB");
    QCOMPARE(byteAmountText(UINT64_MAX), "18.4 EB");
    QCOMPARE(runTimeText(59.94), "59.9 s");
    QCOMPARE(runTimeText(59.96), "1 min 0 s");
    QCOMPARE(runTimeText(7530), "2 h 5 min");
    QCOMPARE(clockTimeText(59.6), "1:00");
    QCOMPARE(clockTimeText(7530), "2:05:30");
}

void CommandLineTest::progressOfAnArchiveWorthWatching() {
    using namespace std::chrono_literals;
    QTemporaryDir folder;
    const QString large = folder.path() + "/" + QString(100, 'n') + ".zip";
    const QString small = folder.path() + "/small.zip";
    QFile file(large);
    // Sparse: as large as an archive worth watching, without the disk space.
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(64 << 20));
    file.close();
    QFile(small).open(QIODevice::WriteOnly);
    std::FILE* terminal = std::tmpfile();
    std::chrono::steady_clock::time_point now;
    ProgressLine line(terminal, false, false, [&now] { return now; });

    line.runStarted();
    line.archiveStarted(large.toStdString());
    now += 200ms;
    line.archiveProgress(10);
    now += 2s;
    line.archiveProgress(30); // 20 points in 2 s: 7 s for the 70 left
    now += 200ms;
    line.archiveStarted(small.toStdString());
    now += 1500ms;
    line.archiveProgress(50); // slow enough to watch, too soon for a pace

    std::rewind(terminal);
    QByteArray written(4096, '\0');
    written.resize(static_cast<qsizetype>(std::fread(written.data(), 1, written.size(), terminal)));
    std::fclose(terminal);
    const QList<QByteArray> drawn = written.split('\r');
    const QStringList expected{", 0%, nnn", ", 10%, nnn", ", 30%, 0:07 left, nnn", "MB/s, small.zip",
                               ", 50%, small.zip"};
    QCOMPARE(drawn.size(), expected.size() + 1);
    for (qsizetype index = 0; index < expected.size(); ++index) {
        const QByteArray& shown = drawn[index + 1];
        QVERIFY2(shown.startsWith("\x1b[K") && shown.contains(expected[index].toUtf8()), shown.constData());
        // Within an 80-column terminal, the cursor's column left free.
        QVERIFY2(shown.size() - 3 < 80, shown.constData());
    }
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
