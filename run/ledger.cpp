#include "ledger.h"

#include "report_file.h"
#include "vellum_version.h"

#include <sqlite3.h>
#include <sys/statfs.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace vellum {

namespace {

// Version 1: the archives' last verdicts and the changes of verdict.
constexpr int SchemaVersion = 1;
constexpr const char* Schema = R"(
CREATE TABLE IF NOT EXISTS archive (
    path BLOB PRIMARY KEY,
    device INTEGER NOT NULL,
    inode INTEGER NOT NULL,
    size INTEGER NOT NULL,
    modified_ns INTEGER NOT NULL,
    changed_ns INTEGER NOT NULL,
    verdict TEXT NOT NULL,
    faults TEXT NOT NULL,
    tested_at INTEGER NOT NULL,
    seconds REAL NOT NULL,
    version TEXT NOT NULL
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS verdict_change (
    path BLOB NOT NULL,
    changed_at INTEGER NOT NULL,
    old_verdict TEXT,
    new_verdict TEXT NOT NULL,
    size INTEGER NOT NULL,
    modified_ns INTEGER NOT NULL,
    changed_ns INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS verdict_change_by_path ON verdict_change (path);
)";
// Other runs may hold the ledger for a batch; they are waited for this long.
constexpr int BusyTimeoutMilliseconds = 30000;
// Records are committed in batches: a commit each is a disk sync each. A batch ends after so many
// records or so many seconds, so that a killed run loses little.
constexpr std::size_t BatchRecords = 512;
constexpr auto BatchTime = std::chrono::seconds(2);
// Verdicts waiting for a writer that cannot keep up hold the run back beyond this many.
constexpr std::size_t MostWaiting = 16 * BatchRecords;

constexpr const char* SelectLastVerdict =
    "SELECT device, inode, size, modified_ns, changed_ns, verdict, tested_at FROM archive WHERE path = ?";

// One connection to the ledger file, used by one thread at a time: SQLite's own locks would be waste.
sqlite3* openConnection(const std::string& path, std::string& error) {
    sqlite3* database = nullptr;
    const int opened = sqlite3_open_v2(
        path.c_str(), &database,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        error = path + ": " + (database ? sqlite3_errmsg(database) : sqlite3_errstr(opened));
        sqlite3_close(database);
        return nullptr;
    }
    sqlite3_busy_timeout(database, BusyTimeoutMilliseconds);
    return database;
}

sqlite3_stmt* prepared(sqlite3* database, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    return sqlite3_prepare_v3(database, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) == SQLITE_OK
               ? statement
               : nullptr;
}

// File systems whose locks SQLite cannot rely on.
bool isNetworkFileSystem(const std::string& folder) {
    struct statfs status {};
    if (::statfs(folder.c_str(), &status) != 0)
        return false;
    switch (static_cast<std::uint32_t>(status.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x5346414F: // AFS
    case 0x00C36400: // Ceph
    case 0x73757245: // Coda
    case 0x01021997: // 9P
        return true;
    default:
        return false;
    }
}

// Bound without a copy: every statement is stepped and reset while its values still live.
void bindBytes(sqlite3_stmt* statement, int index, const std::string& bytes) {
    sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::optional<LedgerEntry> entryFound(sqlite3_stmt* select, const std::string& archivePath) {
    sqlite3_reset(select);
    bindBytes(select, 1, archivePath);
    if (sqlite3_step(select) != SQLITE_ROW) {
        sqlite3_reset(select);
        return std::nullopt;
    }
    LedgerEntry entry;
    entry.identity = {static_cast<std::uint64_t>(sqlite3_column_int64(select, 0)),
                      static_cast<std::uint64_t>(sqlite3_column_int64(select, 1)),
                      sqlite3_column_int64(select, 2), sqlite3_column_int64(select, 3),
                      sqlite3_column_int64(select, 4)};
    entry.verdict = reinterpret_cast<const char*>(sqlite3_column_text(select, 5));
    entry.testedAt = sqlite3_column_int64(select, 6);
    sqlite3_reset(select);
    return entry;
}

} // namespace

// The writing side of the ledger: a connection of its own, the verdicts waiting to be written, and
// the thread that writes them in batches, so that a run never waits on the disk or on another
// run's batch. Where no thread can be had, the callers write the batches themselves.
struct Ledger::Batches {
    // A verdict to write, kept until its batch is.
    struct Waiting {
        std::string path;
        FileIdentity identity;
        std::string verdict;
        std::string faultsJson;
        std::int64_t testedAt;
        double seconds;
    };

    Batches(sqlite3* connection, std::string ledgerPath)
        : database(connection), path(std::move(ledgerPath)) {}
    ~Batches() {
        for (sqlite3_stmt* statement : {select, insert, update, updateSame, change})
            sqlite3_finalize(statement);
        sqlite3_close(database);
    }

    bool prepare() {
        select = prepared(database, SelectLastVerdict);
        insert =
            prepared(database, "INSERT INTO archive VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
        update =
            prepared(database, "UPDATE archive SET device = ?2, inode = ?3, size = ?4, modified_ns = ?5, "
                               "changed_ns = ?6, verdict = ?7, faults = ?8, tested_at = ?9, seconds = ?10, "
                               "version = ?11 WHERE path = ?1");
        // Most verdicts repeat the last one: one search of the table records them.
        updateSame =
            prepared(database, "UPDATE archive SET device = ?2, inode = ?3, size = ?4, modified_ns = ?5, "
                               "changed_ns = ?6, faults = ?8, tested_at = ?9, seconds = ?10, version = ?11 "
                               "WHERE path = ?1 AND verdict = ?7");
        change = prepared(database, "INSERT INTO verdict_change VALUES (?, ?, ?, ?, ?, ?, ?)");
        return select && insert && update && updateSame && change;
    }

    // The writer thread: a batch is written once it is full, once its first verdict has waited
    // BatchTime, or when a caller asks for everything to be written.
    void writeInTurn() {
        std::unique_lock lock(mutex);
        while (!(stopping && waiting.empty())) {
            if (waiting.empty()) {
                wake.wait(lock, [this] { return stopping || !waiting.empty(); });
                continue;
            }
            wake.wait_until(lock, firstWaitingSince + BatchTime, [this] {
                return stopping || flushesAsked > 0 || waiting.size() >= BatchRecords;
            });
            std::vector<Waiting> batch;
            batch.swap(waiting);
            writing = true;
            lock.unlock();
            writeBatch(batch);
            lock.lock();
            writing = false;
            moved.notify_all();
        }
    }

    // Without a writer thread: the caller writes what waits, outside the lock it holds.
    bool writeWaitingHere(std::unique_lock<std::mutex>& lock) {
        std::vector<Waiting> batch;
        batch.swap(waiting);
        lock.unlock();
        return writeBatch(batch);
    }

    // Writes the batch as one transaction; after a failure, nothing more.
    bool writeBatch(const std::vector<Waiting>& batch) {
        if (failed || batch.empty())
            return !failed;
        if (sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail();
        for (const Waiting& verdict : batch) {
            if (!write(verdict))
                return fail();
        }
        if (sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail();
        return true;
    }

    bool write(const Waiting& judged) {
        const auto step = [](sqlite3_stmt* statement) {
            const bool done = sqlite3_step(statement) == SQLITE_DONE;
            sqlite3_reset(statement);
            return done;
        };
        const auto bindIdentity = [&](sqlite3_stmt* statement, int first) {
            sqlite3_bind_int64(statement, first, judged.identity.size);
            sqlite3_bind_int64(statement, first + 1, judged.identity.modifiedNs);
            sqlite3_bind_int64(statement, first + 2, judged.identity.changedNs);
        };
        const auto bindVerdict = [&](sqlite3_stmt* statement) {
            bindBytes(statement, 1, judged.path);
            sqlite3_bind_int64(statement, 2, static_cast<std::int64_t>(judged.identity.device));
            sqlite3_bind_int64(statement, 3, static_cast<std::int64_t>(judged.identity.inode));
            bindIdentity(statement, 4);
            bindText(statement, 7, judged.verdict);
            bindText(statement, 8, judged.faultsJson);
            sqlite3_bind_int64(statement, 9, judged.testedAt);
            sqlite3_bind_double(statement, 10, judged.seconds);
            sqlite3_bind_text(statement, 11, VELLUM_VERSION, -1, SQLITE_STATIC);
        };
        bindVerdict(updateSame);
        if (!step(updateSame))
            return false;
        if (sqlite3_changes(database) != 0)
            return true;
        // A new archive or a new verdict. The verdict this one follows is the one the ledger holds
        // now, under the batch's lock: what this run recorded before it (an archive named twice) or
        // another run did since this one looked, so that the history never holds a change twice.
        const std::optional<LedgerEntry> previous = entryFound(select, judged.path);
        bindVerdict(previous ? update : insert);
        if (!step(previous ? update : insert))
            return false;
        if (previous && previous->verdict == judged.verdict)
            return true;
        bindBytes(change, 1, judged.path);
        sqlite3_bind_int64(change, 2, judged.testedAt);
        if (previous)
            bindText(change, 3, previous->verdict);
        else
            sqlite3_bind_null(change, 3);
        bindText(change, 4, judged.verdict);
        bindIdentity(change, 5);
        return step(change);
    }

    bool fail() {
        error = "cannot write the ledger " + path + ": " + sqlite3_errmsg(database);
        sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
        failed = true;
        return false;
    }

    sqlite3* database;
    std::string path;
    sqlite3_stmt* select = nullptr;
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* update = nullptr;
    sqlite3_stmt* updateSame = nullptr;
    sqlite3_stmt* change = nullptr;

    std::mutex mutex;
    std::condition_variable wake;  // the writer has work to do
    std::condition_variable moved; // the writer has taken or written a batch
    std::vector<Waiting> waiting;
    std::chrono::steady_clock::time_point firstWaitingSince;
    bool writing = false;
    int flushesAsked = 0;
    bool stopping = false;
    std::atomic<bool> failed{false};
    std::string error;  // set once, before failed
    std::thread writer; // not joinable when none could be started
};

namespace {

// Sets the file up: WAL, and the tables at this program's version, made in one write transaction
// that reads the version again, so that two runs starting on a new ledger at once do not both make
// them. Some of
// these steps answer "busy" at once, without the busy handler's wait, while another connection
// takes the same steps: they are tried again for as long as that wait would last. Answers what went
// wrong, to follow the ledger's path; empty when nothing did.
std::string setUp(sqlite3* database) {
    const auto giveUpAt =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(BusyTimeoutMilliseconds);
    const auto tryAgain = [&](int result) {
        if ((result != SQLITE_BUSY && result != SQLITE_LOCKED) ||
            std::chrono::steady_clock::now() >= giveUpAt)
            return false;
        sqlite3_sleep(10);
        return true;
    };
    const auto failure = [&] {
        std::string text = std::string(": ") + sqlite3_errmsg(database);
        if (!sqlite3_get_autocommit(database))
            sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
        return text;
    };
    // The version the tables are at; -1 when it cannot be read.
    const auto versionNow = [&] {
        int version = -1;
        int result = SQLITE_OK;
        do {
            sqlite3_stmt* statement = nullptr;
            result = sqlite3_prepare_v2(database, "PRAGMA user_version", -1, &statement, nullptr);
            if (result == SQLITE_OK && (result = sqlite3_step(statement)) == SQLITE_ROW)
                version = sqlite3_column_int(statement, 0);
            sqlite3_finalize(statement);
        } while (version < 0 && tryAgain(result));
        return version;
    };
    const auto newer = [](int version) {
        return " was written by a newer Vellum (ledger version " + std::to_string(version) + ")";
    };
    int result = SQLITE_OK;
    while (tryAgain(result = sqlite3_exec(database, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr))) {
    }
    if (result != SQLITE_OK)
        return failure();
    // A ledger already at this version is only read here, so that one this user may not write can
    // still be looked at.
    int schemaVersion = versionNow();
    if (schemaVersion < 0)
        return failure();
    if (schemaVersion == SchemaVersion)
        return {};
    if (schemaVersion > SchemaVersion)
        return newer(schemaVersion);
    while (tryAgain(result = sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr))) {
    }
    if (result != SQLITE_OK)
        return failure();
    // Another run may have made the tables meanwhile.
    schemaVersion = versionNow();
    if (schemaVersion < 0)
        return failure();
    if (schemaVersion > SchemaVersion) {
        sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
        return newer(schemaVersion);
    }
    if (schemaVersion < SchemaVersion &&
        sqlite3_exec(database,
                     (std::string(Schema) + "PRAGMA user_version = " + std::to_string(SchemaVersion)).c_str(),
                     nullptr, nullptr, nullptr) != SQLITE_OK)
        return failure();
    while (tryAgain(result = sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr))) {
    }
    return result == SQLITE_OK ? std::string() : failure();
}

} // namespace

std::int64_t secondsSinceEpoch() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Ledger::defaultPath() {
    const std::string folder = platform::stateFolder();
    return folder.empty() ? std::string() : folder + "/ledger.sqlite";
}

std::unique_ptr<Ledger> Ledger::open(const std::string& path, std::string& error) {
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    if (folder.size() > 1) {
        // Private like the reports' state folder: the ledger names every archive the user has.
        const std::string made = folder.substr(0, folder.size() - 1);
        if (const int failure = platform::createFolders(made, 0700); failure != 0) {
            error = "cannot create " + made + ": " + std::strerror(failure);
            return nullptr;
        }
    }
    if (isNetworkFileSystem(folder.empty() ? "." : folder)) {
        error = path +
                " is on a network file system, where the ledger's locks are not safe; give a local one "
                "with --ledger FILE, or --no-ledger";
        return nullptr;
    }
    sqlite3* database = openConnection(path, error);
    if (database == nullptr)
        return nullptr;
    std::unique_ptr<Ledger> ledger(new Ledger(database, path));
    if (const std::string failure = setUp(database); !failure.empty()) {
        error = path + failure;
        return nullptr;
    }
    ledger->m_select = prepared(database, SelectLastVerdict);
    sqlite3* writing = ledger->m_select ? openConnection(path, error) : nullptr;
    if (writing == nullptr) {
        if (error.empty())
            error = path + ": " + sqlite3_errmsg(database);
        return nullptr;
    }
    ledger->m_batches = std::make_unique<Batches>(writing, path);
    Batches& batches = *ledger->m_batches;
    // A commit makes the batch safe from a crash of the program; only a crash of the system may
    // lose the last ones, which the next run then tests again.
    if (sqlite3_exec(writing, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK ||
        !batches.prepare()) {
        error = path + ": " + sqlite3_errmsg(writing);
        return nullptr;
    }
    try {
        batches.writer = std::thread(&Batches::writeInTurn, &batches);
    } catch (const std::system_error&) {
        // No thread to be had (a process limit): the callers write the batches themselves.
    }
    return ledger;
}

Ledger::Ledger(sqlite3* database, std::string path) : m_database(database), m_path(std::move(path)) {}

Ledger::~Ledger() {
    if (m_batches) {
        if (m_batches->writer.joinable()) {
            {
                const std::lock_guard lock(m_batches->mutex);
                m_batches->stopping = true;
            }
            m_batches->wake.notify_one();
            m_batches->writer.join();
        } else {
            m_batches->writeBatch(m_batches->waiting);
        }
    }
    m_batches.reset();
    endLookUps();
    sqlite3_finalize(m_select);
    sqlite3_close(m_database);
}

const std::string& Ledger::error() const {
    static const std::string none;
    return m_batches && m_batches->failed ? m_batches->error : none;
}

std::optional<LedgerEntry> Ledger::lastVerdict(const std::string& archivePath) {
    if (m_batches->failed)
        return std::nullopt;
    // Look-ups share a read transaction, each of its own would take and drop the file's locks; it is
    // renewed as the batches are, so that the writer's checkpoints are not held back for long.
    if (m_lookUpsInTransaction == 0) {
        sqlite3_exec(m_database, "BEGIN", nullptr, nullptr, nullptr);
        m_lookUpsSince = std::chrono::steady_clock::now();
    }
    std::optional<LedgerEntry> entry = entryFound(m_select, archivePath);
    if (++m_lookUpsInTransaction >= BatchRecords ||
        std::chrono::steady_clock::now() - m_lookUpsSince >= BatchTime)
        endLookUps();
    return entry;
}

void Ledger::endLookUps() {
    if (m_lookUpsInTransaction == 0)
        return;
    sqlite3_exec(m_database, "COMMIT", nullptr, nullptr, nullptr);
    m_lookUpsInTransaction = 0;
}

void Ledger::forEachArchiveUnder(const std::string& folder,
                                 const std::function<void(const std::string&)>& tell) {
    if (m_batches->failed || folder.empty())
        return;
    // The paths that start with the folder's are those from it up to the same bytes with its
    // last one, the '/', one higher.
    std::string end = folder;
    end.back() = static_cast<char>(end.back() + 1);
    sqlite3_stmt* statement = prepared(m_database, "SELECT path FROM archive WHERE path >= ? AND path < ?");
    if (statement == nullptr)
        return;
    bindBytes(statement, 1, folder);
    bindBytes(statement, 2, end);
    std::string path;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        path.assign(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                    static_cast<std::size_t>(sqlite3_column_bytes(statement, 0)));
        tell(path);
    }
    sqlite3_finalize(statement);
}

bool Ledger::record(const JudgedArchive& judged) {
    Batches& batches = *m_batches;
    if (batches.failed)
        return false;
    Batches::Waiting verdict{judged.path,       judged.identity, judged.verdict,
                             judged.faultsJson, judged.testedAt, judged.seconds};
    std::unique_lock lock(batches.mutex);
    // A writer that cannot keep up holds the run back, rather than the waiting verdicts growing.
    batches.moved.wait(lock, [&] { return batches.waiting.size() < MostWaiting || batches.failed; });
    if (batches.waiting.empty())
        batches.firstWaitingSince = std::chrono::steady_clock::now();
    batches.waiting.push_back(std::move(verdict));
    if (batches.writer.joinable()) {
        if (batches.waiting.size() >= BatchRecords)
            batches.wake.notify_one();
        return !batches.failed;
    }
    if (batches.waiting.size() < BatchRecords &&
        std::chrono::steady_clock::now() - batches.firstWaitingSince < BatchTime)
        return true;
    return batches.writeWaitingHere(lock);
}

bool Ledger::flush() {
    // What is written next is seen by the look-ups that follow.
    endLookUps();
    Batches& batches = *m_batches;
    std::unique_lock lock(batches.mutex);
    if (!batches.writer.joinable())
        return batches.writeWaitingHere(lock);
    ++batches.flushesAsked;
    batches.wake.notify_one();
    batches.moved.wait(lock, [&] { return batches.waiting.empty() && !batches.writing; });
    --batches.flushesAsked;
    return !batches.failed;
}

} // namespace vellum
