// The ledger across runs on real archives: what a later run tells of an archive that decayed, was
// replaced by a damaged copy or is gone, which archives a run of due ones passes over, and a ledger kept
// by a newer program.

#include "ledger.h"
#include "run_core.h"
#include "zip_builder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <map>

using namespace vellum;
using namespace vellum::testing;

namespace {

// What the observers hear of each judged archive.
// The archives started and those told as due, by name, in order.
struct Order final : RunObserver {
    void archiveStarted(const std::string& path) override { started.push_back(nameOf(path)); }
    void archiveDue(const std::string& path) override { due.push_back(nameOf(path)); }
    static std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }
    std::vector<std::string> started;
    std::vector<std::string> due;
};

struct Changes final : RunObserver {
    void archiveJudged(const ArchiveOutcome& outcome) override {
        change[outcome.path.substr(outcome.path.rfind('/') + 1)] = outcome.change;
    }
    std::map<std::string, VerdictChange> change;
};

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Flips a bit inside the archive's data and puts its modification time back, as decay would.
void decay(const std::string& path) {
    struct stat before {};
    QCOMPARE(::stat(path.c_str(), &before), 0);
    std::string bytes = readFile(path);
    bytes[60] = static_cast<char>(bytes[60] ^ 0x10);
    writeFile(path, bytes);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    QCOMPARE(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class LedgerTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_folder = std::make_unique<QTemporaryDir>();
        m_tree = std::make_unique<QTemporaryDir>();
    }
    void laterRunsTellWhatWentBad();
    void dueRunPassesOverWhatIsRecentAndUnchanged();
    void newerLedgerIsRefused();
    void timeLimitTestsTheMostOverdueFirst();
    void listingTellsWhatIsDueAndTestsNothing();

private:
    RunSummary runOver(std::optional<int> dueDays = std::nullopt, RunObserver* observer = nullptr,
                       const std::function<void(RunSettings&)>& adjust = {}) {
        std::string error;
        const std::unique_ptr<Ledger> ledger =
            Ledger::open(m_folder->path().toStdString() + "/ledger.sqlite", error);
        if (!ledger)
            qFatal("%s", error.c_str());
        RunSettings settings{ReportPlace{m_folder->path().toStdString(), {}}, true};
        settings.ledger = ledger.get();
        settings.dueDays = dueDays;
        if (adjust)
            adjust(settings);
        RunCore run(settings);
        if (observer)
            run.addObserver(*observer);
        return run.run(RunInputs{{tree()}, {}, false});
    }
    std::string tree() const { return m_tree->path().toStdString(); }
    void writeArchive(const std::string& name, char fill) const {
        writeFile(tree() + "/" + name, buildZip({{"data.txt", std::string(3000, fill), 8}}).bytes);
    }

    std::unique_ptr<QTemporaryDir> m_folder; // the ledger and the reports
    std::unique_ptr<QTemporaryDir> m_tree;
};

void LedgerTest::laterRunsTellWhatWentBad() {
    writeArchive("decayed.zip", 'd');
    writeArchive("replaced.zip", 'r');
    writeArchive("kept.zip", 'k');
    writeArchive("removed.zip", 'g');
    QCOMPARE(runOver().newlyBad, 0);
    std::remove((tree() + "/removed.zip").c_str());

    decay(tree() + "/decayed.zip");
    BuiltZip damaged = buildZip({{"data.txt", std::string(5000, 'x'), 0}});
    damaged.bytes[damaged.entries[0].dataOffset + 100] ^= 0x20;
    writeFile(tree() + "/replaced.zip", damaged.bytes);
    Changes changes;
    const RunSummary summary = runOver(std::nullopt, &changes);

    QCOMPARE(summary.newlyBad, 1);
    QCOMPARE(summary.missing, 1);
    QCOMPARE(summary.record.badArchives.size(), std::size_t{2});
    QCOMPARE(changes.change["decayed.zip"], VerdictChange::NewlyBad);
    QCOMPARE(changes.change["replaced.zip"], VerdictChange::Replaced);
    QCOMPARE(changes.change["kept.zip"], VerdictChange::None);
}

void LedgerTest::dueRunPassesOverWhatIsRecentAndUnchanged() {
    writeArchive("kept.zip", 'k');
    writeArchive("touched.zip", 't');
    writeArchive("decayed.zip", 'd');
    writeFile(tree() + "/bad.zip", "not an archive");
    runOver();
    writeArchive("new.zip", 'n');
    ::utimensat(AT_FDCWD, (tree() + "/touched.zip").c_str(), nullptr, 0);
    // Written to with its times put back: only its change time tells.
    decay(tree() + "/decayed.zip");

    Changes tested;
    const RunSummary due = runOver(30, &tested);
    QCOMPARE(due.skipped, 1);
    QCOMPARE(tested.change.size(), std::size_t{4}); // new, touched, decayed and the bad one again
    QCOMPARE(tested.change["decayed.zip"], VerdictChange::NewlyBad);
    QVERIFY(!tested.change.contains("kept.zip"));
    // Everything is due again once its last test is older than the days given.
    QCOMPARE(runOver(0).skipped, 0);
}

void LedgerTest::newerLedgerIsRefused() {
    const std::string path = m_folder->path().toStdString() + "/newer.sqlite";
    sqlite3* database = nullptr;
    QCOMPARE(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    QCOMPARE(sqlite3_exec(database, "PRAGMA user_version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(database);
    std::string error;
    QVERIFY(!Ledger::open(path, error));
    QVERIFY2(error.find("newer Vellum") != std::string::npos, error.c_str());
}

void LedgerTest::timeLimitTestsTheMostOverdueFirst() {
    for (const char* name : {"a.zip", "b.zip", "c.zip"})
        writeArchive(name, name[0]);
    runOver();
    // c was tested longest ago, then a; the new one has never been.
    sqlite3* database = nullptr;
    QCOMPARE(sqlite3_open((m_folder->path().toStdString() + "/ledger.sqlite").c_str(), &database), SQLITE_OK);
    QCOMPARE(sqlite3_exec(database,
                          "UPDATE archive SET tested_at = 1000 WHERE CAST(path AS TEXT) LIKE '%/c.zip';"
                          "UPDATE archive SET tested_at = 2000 WHERE CAST(path AS TEXT) LIKE '%/a.zip';",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    sqlite3_close(database);
    writeArchive("new.zip", 'n');

    Order order;
    const RunSummary all = runOver(std::nullopt, &order,
                                   [](RunSettings& settings) { settings.timeLimit = std::chrono::hours(1); });
    QCOMPARE(order.started, (std::vector<std::string>{"new.zip", "c.zip", "a.zip", "b.zip"}));
    QCOMPARE(all.listed, 4);
    QVERIFY(all.complete());

    // A limit already passed starts nothing: every due archive remains, and the run is incomplete.
    Order none;
    const RunSummary late =
        runOver(0, &none, [](RunSettings& settings) { settings.timeLimit = std::chrono::seconds(0); });
    QVERIFY(none.started.empty());
    QCOMPARE(late.remaining, 4);
    QCOMPARE(late.stop, RunStop::TimeLimit);
    QVERIFY(!late.complete());
    QVERIFY(late.record.cancelled);
}

void LedgerTest::listingTellsWhatIsDueAndTestsNothing() {
    writeArchive("kept.zip", 'k');
    runOver();
    writeArchive("new.zip", 'n');
    const std::string log = m_folder->path().toStdString() + "/errors.log";
    const std::string logBefore = readFile(log);

    Order order;
    const RunSummary listing =
        runOver(30, &order, [](RunSettings& settings) { settings.purpose = RunPurpose::ListDue; });
    QCOMPARE(order.due, std::vector<std::string>{"new.zip"});
    QVERIFY(order.started.empty());
    QCOMPARE(listing.skipped, 1);
    QCOMPARE(readFile(log), logBefore);
    // Nothing was recorded: the new archive is as new as before.
    Order again;
    runOver(30, &again, [](RunSettings& settings) { settings.purpose = RunPurpose::ListDue; });
    QCOMPARE(again.due, std::vector<std::string>{"new.zip"});
}

} // namespace

QTEST_GUILESS_MAIN(LedgerTest)
#include "ledger_test.moc"
