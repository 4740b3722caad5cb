#pragma once

// The ledger: every archive's last verdict and the history of its verdict changes, kept across
// runs in an SQLite database, so that a run can tell what went bad since it was last tested and
// test only what is due. Several runs may share one ledger: it is written in WAL mode and waits
// for the others' writes. A ledger on a network file system is refused, as SQLite's locking is not
// safe there.

#include "zip/file_identity.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vellum {

// The clock of the ledger's test times.
std::int64_t secondsSinceEpoch();

// An archive's last verdict, as the ledger holds it.
struct LedgerEntry {
    FileIdentity identity;
    std::string verdict;       // good, bad or unverified
    std::int64_t testedAt = 0; // seconds since the epoch
};

// One verdict to record.
struct JudgedArchive {
    const std::string& path;
    const FileIdentity& identity;
    const std::string& verdict;
    const std::string& faultsJson;
    std::int64_t testedAt;
    double seconds;
};

class Ledger {
public:
    // The ledger at `path`, created with its folder when missing; null with `error` saying why it
    // cannot be used.
    static std::unique_ptr<Ledger> open(const std::string& path, std::string& error);
    // $XDG_STATE_HOME/vellum/ledger.sqlite; empty when the user has no home.
    static std::string defaultPath();
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    const std::string& path() const { return m_path; }
    std::optional<LedgerEntry> lastVerdict(const std::string& archivePath);
    // The archives the ledger holds in `folder` (ending in '/') and every folder below it.
    // Told one at a time, so that a collection of any size costs no memory here.
    void forEachArchiveUnder(const std::string& folder, const std::function<void(const std::string&)>& tell);
    // Records a verdict, and a change of verdict in the history. Written in batches, on a thread of
    // their own where one can be had; false once a write has failed, which error() then tells, and
    // nothing more is recorded.
    bool record(const JudgedArchive& judged);
    // Writes every verdict recorded so far; false when not all of them could be.
    bool flush();
    // Why a write failed, once record() or flush() has said so; empty before.
    const std::string& error() const;

private:
    struct Batches;
    Ledger(sqlite3* database, std::string path);
    void endLookUps();

    sqlite3* m_database; // the caller's look-ups
    std::string m_path;
    sqlite3_stmt* m_select = nullptr;
    std::unique_ptr<Batches> m_batches;
    std::size_t m_lookUpsInTransaction = 0; // 0: no read transaction is open
    std::chrono::steady_clock::time_point m_lookUpsSince;
};

} // namespace vellum
