#pragma once

// What a test run tells those who show it: the main window, the printers of a terminal run. The
// run calls its observers on its own thread, in the order of its steps and in the order they were
// added. An archive whose test was aborted is started and done, but never judged.

#include "ledger.h"
#include "report.h"
#include "zip/zip_faults.h"
#include "zip/zip_result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vellum {

// How an archive's verdict stands against its last one in the ledger.
enum class VerdictChange {
    None,     // no earlier verdict, or no change for the worse
    NewlyBad, // good before, bad now, and its size and modification time unchanged: decay
    Replaced, // good before, rewritten since, and the new copy is bad
};

// How a verdict stands against the archive's last one. The size and modification time are what a
// rewrite changes; a change time alone moves with a rename or a new owner, which leave the bytes as
// they were. An archive whose identity is not known counts as rewritten.
inline VerdictChange verdictChangeOf(const LedgerEntry& previous, bool badNow, const FileIdentity* identity) {
    if (previous.verdict != "good" || !badNow)
        return VerdictChange::None;
    const bool rewritten = identity == nullptr || identity->size != previous.identity.size ||
                           identity->modifiedNs != previous.identity.modifiedNs;
    return rewritten ? VerdictChange::Replaced : VerdictChange::NewlyBad;
}

// One archive once judged. The faults are those of its last operation: the verify when it ran
// (it checks the structure again, so it holds everything the probe found), else the probe.
struct ArchiveOutcome {
    const std::string& path; // absolute, as the file system names it
    std::int16_t probeCode;
    std::optional<std::int16_t> verifyCode;
    FullVerdict verdict;
    const std::vector<ZipFault>& faults;
    // Its last verdict before this one, when the run keeps a ledger that has one.
    const LedgerEntry* previous = nullptr;
    VerdictChange change = VerdictChange::None;
    bool changedSinceTested = false; // the change time moved, whatever else did
    // What the file system said of it once tested (none when it was gone by then), when and how long.
    const FileIdentity* identity = nullptr;
    std::int64_t testedAt = 0; // seconds since the epoch
    double seconds = 0;
};

// Where an archive's step left the run, after its verdict or its abort.
struct ArchiveStep {
    bool aborted;        // the component's operation was aborted, so there is no verdict
    bool stopRequested;  // the run was told to stop while the archive was under test
    std::int32_t tested; // archives judged so far, this one included unless it was aborted
    std::int32_t bad;
};

// Something the run was asked to test and could not reach: the run is incomplete.
struct Unreachable {
    enum class Kind { Folder, Path, FileList };
    Kind kind;
    const std::string& path;
    const std::string& reason; // in words, as strerror gives it
};

// An archive left unverified because an entry's decoder could not have the memory it needs: its
// verdict is no pass, and the run is incomplete.
struct MemoryShortfall {
    const std::string& path;
    const ZipFault& fault; // the first such entry's
};

// What stopped a run before its walk ended.
enum class RunStop {
    None,
    User,         // Cancel, Escape, Exit or closing the window
    Signal,       // SIGINT, SIGTERM or SIGHUP
    OutputClosed, // the reader of the results went away
    TimeLimit,    // the time given for the run ran out, with due archives still untested
};

// A run as it ended: its record (the report files hold it), what stopped it, what it could not
// reach, and where its reports went.
struct RunSummary {
    RunRecord record;
    RunStop stop = RunStop::None;
    // Archives the walk, the named paths and the list gave, due or not.
    std::int32_t listed = 0;
    std::int32_t unreachable = 0;
    // Archives that were listed but gone by the time their test began: neither tested nor reported.
    std::int32_t vanished = 0;
    // Archives the ledger holds as judged recently and unchanged since, which a run of due archives
    // passes over.
    std::int32_t skipped = 0;
    std::int32_t newlyBad = 0;
    // Archives the ledger holds under the walked folders that no longer exist.
    std::int32_t missing = 0;
    // Due archives that a run testing the most overdue first had not started when it stopped.
    std::int32_t remaining = 0;
    // Why the ledger could not be written, or empty.
    std::string ledgerFailure;
    // Archives left unverified for want of decoder memory: the run is incomplete.
    std::int32_t memoryShortfalls = 0;
    std::int32_t linksNotFollowed = 0; // symbolic links to folders the walk passed over
    ReportOutcome report;

    // Whether the run judged everything it was asked to (or passed it over as not due): it was not
    // stopped, reached every path and had the memory for every entry.
    bool complete() const {
        return stop == RunStop::None && unreachable == 0 && memoryShortfalls == 0 && remaining == 0;
    }
};

class RunObserver {
public:
    virtual ~RunObserver() = default;

    virtual void runStarted() {}
    // The walk reached a folder: it lists it now, or has listed it ahead and tests its archives now.
    virtual void folderEntered(const std::string& /*folder*/) {}
    virtual void unreachable(const Unreachable& /*what*/) {}
    // A symbolic link to a folder that the walk does not follow, told when the walk reaches it.
    virtual void linkNotFollowed(const std::string& /*path*/) {}
    virtual void archiveStarted(const std::string& /*path*/) {}
    // The completion percentage of the archive under test, raised while the component works.
    virtual void archiveProgress(std::int16_t /*completion*/) {}
    virtual void archiveJudged(const ArchiveOutcome& /*outcome*/) {}
    // Instead of archiveJudged, for an archive that was gone when its test began.
    virtual void archiveVanished(const std::string& /*path*/) {}
    // After the walk of a folder to its end, for each archive the ledger holds in it that is gone.
    virtual void archiveMissing(const std::string& /*path*/) {}
    // In a run that only lists what is due, instead of its test.
    virtual void archiveDue(const std::string& /*path*/) {}
    // After archiveJudged, for an archive unverified for want of decoder memory.
    virtual void memoryShortfall(const MemoryShortfall& /*what*/) {}
    virtual void archiveDone(const ArchiveStep& /*step*/) {}
    // After the report files were written, or failed to be.
    virtual void runEnded(const RunSummary& /*summary*/) {}
};

} // namespace vellum
