// The program as a command-line tester, run as a real process: the JSON lines and reason lines it
// prints over a tree with every sort of damage and how they agree with its reports, names that are
// not UTF-8, lists of files on standard input or in a file, several paths in one run, the
// progress line that only a terminal gets, and an entry whose decoder memory cannot be had.

#include "installed_copy.h"
#include "zip_builder.h"

#include <nlohmann/json.hpp>

#include <QStandardPaths>
#include <QtTest>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <map>
#include <set>

using namespace vellum::testing;

namespace {

using Json = nlohmann::json;

// The archive lines and the summary of a --json run; a line that is not JSON fails the test.
struct JsonRun {
    std::map<std::string, Json> archives; // by path
    Json summary;
    int lineCount = 0;
};

JsonRun parseJsonLines(const QString& output) {
    JsonRun run;
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        ++run.lineCount;
        Json object = Json::parse(line.toStdString(), nullptr, false);
        if (object.is_discarded())
            qFatal("not a JSON line: %s", qPrintable(line));
        if (object.contains("summary"))
            run.summary = object["summary"];
        else
            run.archives[object["path"].get<std::string>()] = object;
    }
    return run;
}

std::set<std::string> badInReport(const QString& reportPath) {
    std::set<std::string> bad;
    const QStringList lines = fileLines(reportPath);
    for (const QString& line : lines.mid(1))
        bad.insert(unescaped(line.toUtf8()).toStdString());
    return bad;
}

// One archive of each sort of damage the component tells apart, plus good ones beside them.
void writeEveryDamage(const QString& tree) {
    writeGood(tree + "/good.zip");
    writeGood(tree + "/Deep/Mixed Case.ZIP");
    writeDamaged(tree + "/crc.zip");
    writeFile((tree + "/text.zip").toStdString(), "not an archive\n");
    BuiltZip truncated = buildZip({{"cut.txt", std::string(2000, 'c')}});
    truncated.bytes.resize(truncated.bytes.size() - 30);
    writeFile((tree + "/Deep/truncated.zip").toStdString(), truncated.bytes);
    BuiltZip local = buildZip({{"one.txt", "1"}, {"two.txt", "2"}});
    local.bytes[local.entries[1].localHeaderOffset + LocalHeaderField::Method] = 0;
    writeFile((tree + "/local.zip").toStdString(), local.bytes);
    ZipBuilderEntry secret{"secret.txt", "scrambled", 0};
    secret.encrypted = true;
    // Traditional encryption puts a 12-byte header before the data.
    secret.compressedData = std::string(12, 'h') + secret.data;
    writeFile((tree + "/Deep/encrypted.zip").toStdString(), buildZip({secret}).bytes);
    writeFile((tree + "/stub.zip").toStdString(),
              buildZip({{"a.txt", "after a stub"}}, {.prefix = "MZ"}).bytes);
    ZipBuilderEntry stream{"stream.txt", std::string(100, 's')};
    stream.compressedData = std::string(50, '\xfe');
    writeFile((tree + "/stream.zip").toStdString(), buildZip({stream}).bytes);
    ::mkfifo((tree + "/pipe.zip").toLocal8Bit().constData(), 0644);
    QFile::link(tree + "/pipe.zip", tree + "/pipe link.zip");
}

// Every row the ledger holds, verdicts and their history, as text.
QStringList ledgerRows(const QString& path) {
    sqlite3* database = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(path.toLocal8Bit().constData(), &database, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        for (const char* query : {"SELECT * FROM archive ORDER BY path", "SELECT * FROM verdict_change"}) {
            sqlite3_exec(
                database, query,
                [](void* found, int columns, char** values, char**) {
                    QStringList row;
                    for (int column = 0; column < columns; ++column)
                        row << QString::fromUtf8(values[column] ? values[column] : "NULL");
                    static_cast<QStringList*>(found)->append(row.join('|'));
                    return 0;
                },
                &rows, nullptr);
        }
    }
    sqlite3_close(database);
    return rows;
}

// A character device named like an archive, where the system lets this user make one.
bool writeDevice(const QString& tree) {
    return ::mknod((tree + "/device.zip").toLocal8Bit().constData(), S_IFCHR | 0644, makedev(1, 3)) == 0;
}

} // namespace

class CommandLineTesterTest : public QObject {
    Q_OBJECT
private slots:
    void jsonAndReasonsAgreeWithTheReport();
    void nameThatIsNotUtf8();
    void filesFromStandardInputAndNulList();
    void severalPathsInOneRun();
    void strictCountsUnverifiedAsBad();
    void progressOnlyOnATerminal();
    void closedOrFullOutputLosesNoRecord();
    void helpAndManualPageNameEveryOption();
    void memoryThatCannotBeHadIsNoPass();
    void killedRunIsCheckedCompletedAndImported();
    void twoRunsAtOnceShareOneLedger();
};

void CommandLineTesterTest::jsonAndReasonsAgreeWithTheReport() {
    InstalledCopy copy;
    writeEveryDamage(copy.tree());
    // Nothing that could block or act when opened is opened: each is judged from its status.
    const int device = writeDevice(copy.tree()) ? 1 : 0;

    const Outcome json = copy.run({"--json", copy.tree()});
    QCOMPARE(json.status, 1);
    QCOMPARE(json.errors, QString());
    const JsonRun run = parseJsonLines(json.output);
    QCOMPARE(run.archives.size(), std::size_t(11 + device));
    QCOMPARE(run.lineCount, 12 + device);
    // The summary is the last line.
    QVERIFY(json.output.trimmed().split('\n').last().startsWith("{\"summary\":"));

    std::set<std::string> bad;
    std::set<std::string> unverified;
    for (const auto& [path, archive] : run.archives) {
        const std::string verdict = archive["verdict"];
        if (verdict == "bad") {
            bad.insert(path);
            // Every bad archive says why, in words.
            QVERIFY2(!archive["faults"].empty(), path.c_str());
            QVERIFY(!archive["faults"][0]["message"].get<std::string>().empty());
        } else if (verdict == "unverified") {
            unverified.insert(path);
            QVERIFY(archive["faults"].empty() && !archive["notes"].empty());
        } else {
            QCOMPARE(verdict, std::string("good"));
            QVERIFY(archive["faults"].empty());
        }
    }
    QCOMPARE(bad, badInReport(copy.folder() + "/errors.txt"));
    QCOMPARE(bad.size(), std::size_t(7 + device));
    QCOMPARE(unverified, std::set<std::string>{(copy.tree() + "/Deep/encrypted.zip").toStdString()});
    QCOMPARE(run.archives.at((copy.tree() + "/stub.zip").toStdString())["notes"][0]["kind"],
             Json("data_before_archive"));
    QCOMPARE(run.summary["tested"], Json(11 + device));
    QCOMPARE(run.summary["bad"], Json(7 + device));
    QCOMPARE(run.summary["unverified"], Json(1));

    // -v: one line for each bad or unverified archive, saying the same as the JSON's first fault.
    // Even where a display could be had, such a run loads no window system and starts no viewer.
    RunOptions onADisplay;
    onADisplay.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"QT_DEBUG_PLUGINS", "1"}};
    const Outcome reasons = copy.run({"-v", copy.tree()}, onADisplay);
    QCOMPARE(reasons.status, 1);
    QVERIFY2(!reasons.errors.contains("plugins/platforms"), qPrintable(reasons.errors));
    QVERIFY(!QFile::exists(copy.folder() + "/bin/viewer-calls"));
    const QStringList lines = reasons.output.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 8 + device);
    for (const QString& line : lines) {
        const qsizetype verdictAt =
            line.indexOf(": bad: ") >= 0 ? line.indexOf(": bad: ") : line.indexOf(": unverified: ");
        QVERIFY2(verdictAt > 0, qPrintable(line));
        const std::string path = line.left(verdictAt).toStdString();
        const Json& archive = run.archives.at(path);
        const Json& first = archive["verdict"] == "bad" ? archive["faults"][0] : archive["notes"][0];
        QVERIFY2(line.contains(QString::fromStdString(first["message"].get<std::string>())),
                 qPrintable(line));
    }

    // With both, JSON alone goes to standard output.
    const Outcome both = copy.run({"-v", "--json", copy.tree()});
    QCOMPARE(parseJsonLines(both.output).lineCount, 12 + device);
}

void CommandLineTesterTest::nameThatIsNotUtf8() {
    InstalledCopy copy;
    const QByteArray name = "caf\xe9 \xff.zip";
    const QByteArray path = copy.tree().toLocal8Bit() + "/" + name;
    BuiltZip zip = buildZip({{"notes.txt", std::string(3000, 'n'), 0}});
    zip.bytes[zip.entries[0].dataOffset + 100] ^= 0x20;
    writeFile(path.toStdString(), zip.bytes);

    const Outcome outcome = copy.run({"--json", copy.tree()});
    QCOMPARE(outcome.status, 1);
    const Json line = Json::parse(outcome.output.split('\n').first().toStdString());
    QVERIFY(line.contains("path_b64"));
    const QByteArray decoded = QByteArray::fromBase64(QByteArray::fromStdString(line["path_b64"]));
    QCOMPARE(decoded, path);
    // The path key stays readable text: the bytes that are not UTF-8 become replacement characters.
    QCOMPARE(QString::fromStdString(line["path"]), copy.tree() + "/caf\uFFFD \uFFFD.zip");
}

void CommandLineTesterTest::filesFromStandardInputAndNulList() {
    InstalledCopy copy;
    writeGood(copy.tree() + "/a.zip");
    writeDamaged(copy.tree() + "/sub/b.zip");
    writeDamaged(copy.tree() + "/line\nbreak.zip");
    writeDamaged(copy.tree() + "/not-listed.zip");

    // Newline-separated on standard input; relative names start at the working folder.
    Outcome outcome = copy.run({"--json", "--files-from", "-"},
                               {.workingFolder = copy.tree(), .input = "a.zip\nsub/b.zip\n"});
    QCOMPARE(outcome.status, 1);
    JsonRun run = parseJsonLines(outcome.output);
    QCOMPARE(run.archives.size(), std::size_t{2});
    QCOMPARE(run.archives.at((copy.tree() + "/sub/b.zip").toStdString())["verdict"], Json("bad"));
    QCOMPARE(fileLines(copy.folder() + "/errors.log").value(2), QString("--files-from -"));

    // NUL-separated from a file: a name may hold a line break. A listed file that is gone is told
    // and leaves the run incomplete; the others are still tested.
    const QString list = copy.scratch() + "/list";
    writeFile(list.toStdString(), (copy.tree() + "/line\nbreak.zip").toStdString() + '\0' +
                                      (copy.tree() + "/gone.zip").toStdString() + '\0' +
                                      (copy.tree() + "/a.zip").toStdString() + '\0');
    outcome = copy.run({"-v", "-0", "--files-from=" + list});
    QCOMPARE(outcome.status, 2);
    QCOMPARE(outcome.errors, "vellum: cannot read " + copy.tree() + "/gone.zip: No such file or directory\n");
    QCOMPARE(outcome.output.count('\n'), 1);
    QVERIFY2(
        outcome.output.startsWith(copy.tree() + "/line\\nbreak.zip: bad: entry \"notes.txt\": CRC-32 is 0x"),
        qPrintable(outcome.output));
    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.mid(log.size() - 4), (QStringList{" 2 tested - 1 bad", "--files-from " + list,
                                                   copy.tree() + "/line\\nbreak.zip", ""}));
    // The results account for the path they could not read, with a line of its own.
    run = parseJsonLines(copy.run({"--json", "-0", "--files-from=" + list}).output);
    const Json& gone = run.archives.at((copy.tree() + "/gone.zip").toStdString());
    QCOMPARE(gone["verdict"], Json("unreadable"));
    QCOMPARE(gone["reason"], Json("No such file or directory"));
}

void CommandLineTesterTest::severalPathsInOneRun() {
    InstalledCopy copy;
    writeGood(copy.tree() + "/one/a.zip");
    writeDamaged(copy.tree() + "/two/b.zip");
    writeDamaged(copy.tree() + "/two/ignored.bin");
    writeDamaged(copy.tree() + "/backup.bin");

    const Outcome outcome =
        copy.run({"one", "two/", "backup.bin", "two/ignored.bin"}, {.workingFolder = copy.tree()});
    QCOMPARE(outcome.status, 1);
    QCOMPARE(outcome.errors, QString());
    const QStringList log = fileLines(copy.folder() + "/errors.log");
    QCOMPARE(log.size(), 7);
    QCOMPARE(log[1], QString(" 4 tested - 3 bad"));
    QCOMPARE(log[2], QString("%1/one/ %1/two/ %1/backup.bin %1/two/ignored.bin").arg(copy.tree()));
    QCOMPARE(log.mid(3, 4), (QStringList{copy.tree() + "/two/b.zip", copy.tree() + "/backup.bin",
                                         copy.tree() + "/two/ignored.bin", ""}));
    QCOMPARE(fileLines(copy.folder() + "/errors.txt").mid(1), log.mid(3, 3));
}

void CommandLineTesterTest::strictCountsUnverifiedAsBad() {
    InstalledCopy copy;
    writeEveryDamage(copy.tree());
    const QString archive = copy.tree() + "/Deep/encrypted.zip";
    QCOMPARE(copy.run({archive}).status, 0);

    // Printed as bad, with the reason it could not be verified; its JSON line keeps that in sight.
    const Outcome reasons = copy.run({"--strict", "-v", archive});
    QCOMPARE(reasons.status, 1);
    QCOMPARE(reasons.output,
             archive + ": bad: entry \"secret.txt\": the entry is encrypted and cannot be tested\n");
    const JsonRun json = parseJsonLines(copy.run({"--json", "--str", archive}).output);
    const Json& line = json.archives.at(archive.toStdString());
    QCOMPARE(line["verdict"], Json("bad"));
    QCOMPARE(line["unverified"], Json(true));
    QCOMPARE(line["notes"][0]["kind"], Json("entry_encrypted"));
    QCOMPARE(json.summary["bad"], Json(1));
    QCOMPARE(json.summary["unverified"], Json(1));
    QCOMPARE(json.summary["strict"], Json(true));
    // The report keeps its rule.
    QCOMPARE(fileLines(copy.folder() + "/errors.log").filter(" 1 tested - 0 bad").size(), 3);
}

void CommandLineTesterTest::closedOrFullOutputLosesNoRecord() {
    InstalledCopy copy;
    // More lines than a pipe holds, so that the run writes on after its reader has gone.
    for (int index = 0; index < 400; ++index)
        writeDamaged(copy.tree() + QString("/bad%1.zip").arg(index));
    const QString tree = "'" + copy.tree() + "'";

    // A reader that takes one line and goes: the run stops as Cancel does and keeps its record.
    const Outcome closed = copy.run({}, {.shellCommand = "\"$VELLUM\" --json " + tree +
                                                         " | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}"});
    QCOMPARE(closed.status, 141);
    QVERIFY(fileLines(copy.folder() + "/errors.log").at(0).contains("Aborted!"));
    QVERIFY(QFile::exists(copy.folder() + "/errors.txt"));

    // A full disk takes no result: that is told, and the run still ends with its record.
    const Outcome full = copy.run({}, {.shellCommand = "\"$VELLUM\" --json " + tree + " >/dev/full"});
    QCOMPARE(full.status, 3);
    QVERIFY2(full.errors.contains("cannot write the results to standard output: No space left on device"),
             qPrintable(full.errors));
    QCOMPARE(fileLines(copy.folder() + "/errors.log").filter(" 400 tested - 400 bad").size(), 1);
}

void CommandLineTesterTest::progressOnlyOnATerminal() {
    InstalledCopy copy;
    writeGood(copy.tree() + "/good.zip");
    writeDamaged(copy.tree() + "/bad.zip");

    // Standard error is a pipe here: no progress, nothing at all.
    const Outcome piped = copy.run({"-v", copy.tree()});
    QCOMPARE(piped.status, 1);
    QCOMPARE(piped.errors, QString());

    if (QStandardPaths::findExecutable("script").isEmpty())
        QSKIP("script (util-linux) is needed to give the program a terminal");
    // On a terminal the line is drawn, then cleared at the end; -q keeps it and the closing line
    // away, --json the closing line.
    const auto onTerminal = [&](const QString& options) {
        return copy.run(
            {}, {.shellCommand = "script -qec '\"$VELLUM\" " + options + " " + copy.tree() + "' /dev/null"});
    };
    const Outcome shown = onTerminal("");
    QCOMPARE(shown.status, 1);
    QVERIFY2(shown.output.contains(QRegularExpression(R"(\r\x1b\[K\d+ tested, \d+ bad, [\d.]+ MB/s, )")),
             qPrintable(shown.output));
    // The run closes with its counts and where its reports went, on a line of its own.
    const QRegularExpression closing(
        R"(\r\x1b\[Kvellum: 2 tested, 1 bad, 0 unverified, 0 unreadable, [\d.]+ kB in )"
        R"([\d.]+ s; reports in )" +
        QRegularExpression::escape(copy.folder()) + "\r\n$");
    QVERIFY2(shown.output.contains(closing), qPrintable(shown.output));
    // A reason printed on the same terminal starts on a cleared line, not after the progress.
    const Outcome verbose = onTerminal("-v");
    QVERIFY2(verbose.output.contains("\r\x1b[K" + copy.tree() + "/bad.zip: bad: entry \"notes.txt\": "),
             qPrintable(verbose.output));
    // A note on standard error starts on a line of its own too.
    const Outcome missing = onTerminal(copy.tree() + "/gone");
    QCOMPARE(missing.status, 2);
    QVERIFY2(missing.output.contains(QRegularExpression(R"((^|\n|\x1b\[K)vellum: cannot read folder )")),
             qPrintable(missing.output));
    for (const QString& options : QStringList{"-q", "--json"}) {
        const Outcome quiet = onTerminal(options);
        QCOMPARE(quiet.status, 1);
        QVERIFY2(!quiet.output.contains("vellum: "), qPrintable(quiet.output));
    }
}

void CommandLineTesterTest::helpAndManualPageNameEveryOption() {
    InstalledCopy copy;
    const Outcome help = copy.run({"--help"});
    QCOMPARE(help.status, 0);
    QFile manual(VELLUM_MANUAL_PAGE);
    QVERIFY(manual.open(QIODevice::ReadOnly));
    // The page escapes its hyphens for groff.
    const QString page = QString::fromUtf8(manual.readAll()).replace("\\-", "-");
    // Every option the program accepts, and each exit status.
    for (const QString& option :
         QStringList{"--files-from", "-0",       "--null",       "-v",         "--verbose",       "--json",
                     "-q",           "--quiet",  "--report-dir", "--memory",   "--strict",        "--due",
                     "--time-limit", "--ledger", "--no-ledger",  "--list-due", "--check-results", "--import",
                     "-h",           "--help",   "-V",           "--version"}) {
        QVERIFY2(help.output.contains(
                     QRegularExpression("(^|[ ,])" + QRegularExpression::escape(option) + "[ ,\\n]")),
                 qPrintable(option));
        QVERIFY2(page.contains(option), qPrintable(option));
    }
    for (const QString& status : QStringList{"0", "1", "2", "3", "128+N"}) {
        QVERIFY2(help.output.contains(QRegularExpression("\\n  " + QRegularExpression::escape(status) + " ")),
                 qPrintable(status));
        QVERIFY2(page.contains(".B " + status + "\n"), qPrintable(status));
    }
    for (const QString& report : QStringList{"errors.txt", "errors.log", "XDG_STATE_HOME"})
        QVERIFY2(page.contains(report), qPrintable(report));
}

// An LZMA entry whose header asks for a 64 MiB dictionary, over data that is damaged from its
// first byte: within the memory it needs it is found bad, without it the run cannot pass it.
void CommandLineTesterTest::memoryThatCannotBeHadIsNoPass() {
    InstalledCopy copy;
    const std::uint32_t dictionary = 64 << 20;
    // The SDK version (9.20), the properties' size, lc=3 lp=0 pb=2, then the dictionary.
    std::string header("\x09\x14\x05\x00\x5d", 5);
    for (int shift = 0; shift < 32; shift += 8)
        header += static_cast<char>(dictionary >> shift & 0xff);
    ZipBuilderEntry entry{"large.bin", std::string(dictionary, 'z'), 14};
    entry.compressedData = header + std::string(4096, '\xa5');
    const QString archive = copy.tree() + "/large-dictionary.zip";
    writeFile(archive.toStdString(), buildZip({entry}).bytes);

    const Outcome checked = copy.run({"-v", archive});
    QCOMPARE(checked.status, 1);
    QVERIFY2(checked.output.startsWith(archive + ": bad: "), qPrintable(checked.output));

    const Outcome limited = copy.run({"-v", "--memory", "16M", archive});
    const QString reason = "needs 65 MiB of decoder memory, 16 MiB could be had";
    QCOMPARE(limited.output, archive + ": unverified: entry \"large.bin\": " + reason + "\n");
    QCOMPARE(limited.errors, "vellum: " + archive + ": " + reason + "\n");
    QCOMPARE(limited.status, 2);
    const JsonRun json = parseJsonLines(copy.run({"--json", "--memory=16MiB", archive}).output);
    QVERIFY(json.archives.at(archive.toStdString())["notes"][0]["kind"] == "decoder_memory_unavailable");

    const Outcome badSize = copy.run({"--memory", "16", archive});
    QCOMPARE(badSize.status, 2);
    QVERIFY2(badSize.errors.startsWith("vellum: invalid size '16' for '--memory'"),
             qPrintable(badSize.errors));
}

// A run spread over machines, as its recipes do it: the plan lists what is due, a run is killed
// part way, the check names exactly the archives it left, a second pass over them completes the
// check, and importing the results (twice) leaves the ledger knowing every archive.
void CommandLineTesterTest::killedRunIsCheckedCompletedAndImported() {
    InstalledCopy copy;
    for (const QString name : {"a", "b", "c", "d", "e", "f"})
        writeGood(copy.tree() + "/" + name + ".zip");
    writeDamaged(copy.tree() + "/sub/damaged.zip");
    const QString ledger = copy.scratch() + "/ledger.sqlite";
    const QString plan = copy.scratch() + "/due.list";
    const Outcome listed = copy.run({"--list-due", "--ledger", ledger, copy.tree()});
    QCOMPARE(listed.status, 0);
    writeFile(plan.toStdString(), listed.output.toStdString());
    const QStringList due = listed.output.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(due.size(), 7);

    // The first run is given three names, and killed once it has judged them.
    const std::unique_ptr<QProcess> killed = copy.start({"--json", "-q", "--no-ledger", "--files-from", "-"});
    killed->write((due.mid(0, 3).join('\n') + '\n').toUtf8());
    QByteArray firstResults;
    QTRY_VERIFY_WITH_TIMEOUT((firstResults += killed->readAllStandardOutput()).count('\n') == 3, 60000);
    killed->kill();
    QVERIFY(killed->waitForFinished(60000));
    const QString first = copy.scratch() + "/first.jsonl";
    writeFile(first.toStdString(), firstResults.toStdString());

    const Outcome check = copy.run({"--check-results", plan, first});
    QCOMPARE(check.status, 2);
    QCOMPARE(check.output.split('\n', Qt::SkipEmptyParts), due.mid(3));
    QVERIFY2(check.errors.contains("first.jsonl has no summary"), qPrintable(check.errors));

    const QString rest = copy.scratch() + "/rest.list";
    writeFile(rest.toStdString(), check.output.toStdString());
    const Outcome second = copy.run({"--json", "-q", "--no-ledger", "--files-from", rest});
    QCOMPARE(second.status, 1);
    const QString secondResults = copy.scratch() + "/second.jsonl";
    writeFile(secondResults.toStdString(), second.output.toStdString());
    const Outcome recheck = copy.run({"--check-results", rest, secondResults});
    QCOMPARE(recheck.status, 0);
    QCOMPARE(recheck.output, QString());

    QCOMPARE(copy.run({"--import", "--ledger", ledger, first, secondResults}).status, 0);
    const QStringList imported = ledgerRows(ledger);
    // Six archives recorded good, with their faults (none) beside the verdict.
    QCOMPARE(imported.filter(QRegularExpression("\\|good\\|\\{")).size(), 6);
    const Outcome again = copy.run({"--import", "--ledger", ledger, secondResults, first});
    QCOMPARE(again.status, 0);
    QVERIFY2(again.errors.contains("recorded 0 verdicts"), qPrintable(again.errors));
    QCOMPARE(ledgerRows(ledger), imported);
    // Only the damaged archive is due again: the ledger holds every other one as good and recent.
    const Outcome after = copy.run({"--list-due", "--due", "30", "--ledger", ledger, copy.tree()});
    QCOMPARE(after.output, copy.tree() + "/sub/damaged.zip\n");
}

// Two runs over the same archives at once, on one ledger: neither waits in vain nor fails, and the
// history holds one first verdict per archive, whichever run recorded it.
void CommandLineTesterTest::twoRunsAtOnceShareOneLedger() {
    InstalledCopy copy;
    constexpr int Archives = 300;
    for (int index = 0; index < Archives; ++index)
        writeGood(copy.tree() + QString("/shelf%1/kept%2.zip").arg(index % 7).arg(index));
    const QString ledger = copy.scratch() + "/ledger.sqlite";
    const QStringList arguments{"-q", "--ledger", ledger, "--report-dir", copy.scratch(), copy.tree()};
    const std::unique_ptr<QProcess> first = copy.start(arguments);
    const std::unique_ptr<QProcess> second = copy.start(arguments);
    const Outcome firstDone = InstalledCopy::finish(*first);
    const Outcome secondDone = InstalledCopy::finish(*second);
    QCOMPARE(firstDone.status, 0);
    QCOMPARE(secondDone.status, 0);
    QCOMPARE(firstDone.errors + secondDone.errors, QString());
    const QStringList rows = ledgerRows(ledger);
    QCOMPARE(rows.filter(QRegularExpression("\\|good\\|\\{")).size(), Archives);
    QCOMPARE(rows.filter(QRegularExpression("\\|NULL\\|good\\|")).size(), Archives);
}

QTEST_GUILESS_MAIN(CommandLineTesterTest)
#include "command_line_tester_test.moc"
