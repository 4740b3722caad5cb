#include "ledger.h"

#include "report_file.h"
#include "vellum_version.h"

#include <sqlite3.h>
#include <sys/statfs.h>

#include <cerrno>
#include <chrono>
#include <cstring>

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
constexpr int BatchRecords = 512;
constexpr std::int64_t BatchSeconds = 2;

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
    sqlite3* database = nullptr;
    const int opened = sqlite3_open_v2(
        path.c_str(), &database,
        // One thread uses the connection: SQLite's own locks would be waste.
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<Ledger> ledger(new Ledger(database, path));
    if (opened != SQLITE_OK) {
        error = path + ": " + (database ? sqlite3_errmsg(database) : sqlite3_errstr(opened));
        return nullptr;
    }
    sqlite3_busy_timeout(database, BusyTimeoutMilliseconds);
    sqlite3_stmt* version = nullptr;
    int schemaVersion = -1;
    if (sqlite3_exec(database, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                     nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(database, "PRAGMA user_version", -1, &version, nullptr) == SQLITE_OK &&
        sqlite3_step(version) == SQLITE_ROW)
        schemaVersion = sqlite3_column_int(version, 0);
    sqlite3_finalize(version);
    if (schemaVersion > SchemaVersion) {
        error =
            path + " was written by a newer Vellum (ledger version " + std::to_string(schemaVersion) + ")";
        return nullptr;
    }
    if (schemaVersion < 0 ||
        (schemaVersion < SchemaVersion &&
         sqlite3_exec(database,
                      (std::string("BEGIN IMMEDIATE;") + Schema +
                       "PRAGMA user_version = " + std::to_string(SchemaVersion) + "; COMMIT;")
                          .c_str(),
                      nullptr, nullptr, nullptr) != SQLITE_OK)) {
        error = path + ": " + sqlite3_errmsg(database);
        return nullptr;
    }
    ledger->m_select = ledger->prepare("SELECT device, inode, size, modified_ns, changed_ns, verdict, "
                                       "tested_at FROM archive WHERE path = ?");
    // An archive the ledger holds is updated and a new one inserted, each a single search of the
    // table. One that another run inserted meanwhile is not inserted; see record().
    ledger->m_insert = ledger->prepare(
        "INSERT INTO archive VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11) ON CONFLICT (path) DO "
        "NOTHING");
    ledger->m_update =
        ledger->prepare("UPDATE archive SET device = ?2, inode = ?3, size = ?4, modified_ns = ?5, changed_ns "
                        "= ?6, verdict = ?7, "
                        "faults = ?8, tested_at = ?9, seconds = ?10, version = ?11 WHERE path = ?1");
    ledger->m_change = ledger->prepare("INSERT INTO verdict_change VALUES (?, ?, ?, ?, ?, ?, ?)");
    if (!ledger->m_select || !ledger->m_insert || !ledger->m_update || !ledger->m_change) {
        error = path + ": " + sqlite3_errmsg(database);
        return nullptr;
    }
    return ledger;
}

Ledger::Ledger(sqlite3* database, std::string path) : m_database(database), m_path(std::move(path)) {}

Ledger::~Ledger() {
    flush();
    for (sqlite3_stmt* statement : {m_select, m_insert, m_update, m_change})
        sqlite3_finalize(statement);
    sqlite3_close(m_database);
}

sqlite3_stmt* Ledger::prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    return sqlite3_prepare_v3(m_database, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) ==
                   SQLITE_OK
               ? statement
               : nullptr;
}

bool Ledger::fail(const char* doing) {
    if (m_error.empty())
        m_error =
            std::string("cannot ") + doing + " the ledger " + m_path + ": " + sqlite3_errmsg(m_database);
    if (m_inBatch > 0)
        sqlite3_exec(m_database, "ROLLBACK", nullptr, nullptr, nullptr);
    m_inBatch = 0;
    return false;
}

std::optional<LedgerEntry> Ledger::lastVerdict(const std::string& archivePath) {
    if (!m_error.empty())
        return std::nullopt;
    sqlite3_reset(m_select);
    bindBytes(m_select, 1, archivePath);
    if (sqlite3_step(m_select) != SQLITE_ROW)
        return std::nullopt;
    LedgerEntry entry;
    entry.identity = {static_cast<std::uint64_t>(sqlite3_column_int64(m_select, 0)),
                      static_cast<std::uint64_t>(sqlite3_column_int64(m_select, 1)),
                      sqlite3_column_int64(m_select, 2), sqlite3_column_int64(m_select, 3),
                      sqlite3_column_int64(m_select, 4)};
    entry.verdict = reinterpret_cast<const char*>(sqlite3_column_text(m_select, 5));
    entry.testedAt = sqlite3_column_int64(m_select, 6);
    sqlite3_reset(m_select);
    return entry;
}

void Ledger::forEachArchiveUnder(const std::string& folder,
                                 const std::function<void(const std::string&)>& tell) {
    if (!m_error.empty() || folder.empty())
        return;
    // The paths that start with the folder's are those from it up to the same bytes with its
    // last one, the '/', one higher.
    std::string end = folder;
    end.back() = static_cast<char>(end.back() + 1);
    sqlite3_stmt* statement = prepare("SELECT path FROM archive WHERE path >= ? AND path < ?");
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

bool Ledger::begin() {
    if (m_inBatch > 0)
        return true;
    // Taken for writing at once, so that two runs never both read and then both fail to write.
    if (sqlite3_exec(m_database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("write");
    m_batchStartedAt = secondsSinceEpoch();
    return true;
}

bool Ledger::record(const JudgedArchive& judged) {
    if (!m_error.empty())
        return false;
    const LedgerEntry* previous = judged.previous;
    if (!begin())
        return false;
    std::optional<LedgerEntry> recordedMeanwhile;
    const auto bindIdentity = [&](sqlite3_stmt* statement, int first) {
        sqlite3_bind_int64(statement, first, judged.identity.size);
        sqlite3_bind_int64(statement, first + 1, judged.identity.modifiedNs);
        sqlite3_bind_int64(statement, first + 2, judged.identity.changedNs);
    };
    const auto write = [&](sqlite3_stmt* statement) {
        bindBytes(statement, 1, judged.path);
        sqlite3_bind_int64(statement, 2, static_cast<std::int64_t>(judged.identity.device));
        sqlite3_bind_int64(statement, 3, static_cast<std::int64_t>(judged.identity.inode));
        bindIdentity(statement, 4);
        bindText(statement, 7, judged.verdict);
        bindText(statement, 8, judged.faultsJson);
        sqlite3_bind_int64(statement, 9, judged.testedAt);
        sqlite3_bind_double(statement, 10, judged.seconds);
        sqlite3_bind_text(statement, 11, VELLUM_VERSION, -1, SQLITE_STATIC);
        const bool written = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
        return written;
    };
    if (!previous) {
        if (!write(m_insert))
            return fail("write");
        // Another run recorded the archive between this one's look and its write, which this
        // batch's lock now keeps out: that verdict is the one this one follows, so that the
        // history holds one first verdict, not two.
        if (sqlite3_changes(m_database) == 0) {
            recordedMeanwhile = lastVerdict(judged.path);
            previous = recordedMeanwhile ? &*recordedMeanwhile : nullptr;
        }
    }
    if (previous && !write(m_update))
        return fail("write");
    if (!previous || previous->verdict != judged.verdict) {
        sqlite3_reset(m_change);
        bindBytes(m_change, 1, judged.path);
        sqlite3_bind_int64(m_change, 2, judged.testedAt);
        if (previous)
            bindText(m_change, 3, previous->verdict);
        else
            sqlite3_bind_null(m_change, 3);
        bindText(m_change, 4, judged.verdict);
        bindIdentity(m_change, 5);
        const bool changeWritten = sqlite3_step(m_change) == SQLITE_DONE;
        sqlite3_reset(m_change);
        if (!changeWritten)
            return fail("write");
    }
    if (++m_inBatch >= BatchRecords || secondsSinceEpoch() - m_batchStartedAt >= BatchSeconds)
        return flush();
    return true;
}

bool Ledger::flush() {
    if (m_inBatch == 0)
        return m_error.empty();
    if (sqlite3_exec(m_database, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("write");
    m_inBatch = 0;
    return true;
}

} // namespace vellum
