#pragma once

// One test run, whatever shows it: the walk over folders, named archives and file lists, each
// archive's test and verdict, the counts, and the report files at the end. It owns the archive
// tester and tells its observers what happens; it needs no window and no event loop.
//
// Everything happens on the thread that calls run(). Between two steps (each folder, each archive)
// the run calls its breather, and the tester calls it while it works, at least every 50 ms: a
// window lets its pending events through there, a terminal run looks for stop requests. A stop is
// a call on the run from the breather or from an observer; it takes effect at the next step, and
// the archive under test ends at the tester's next yield.

#include "run_observer.h"
#include "zip/archive_tester.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vellum {

// What a run tests: folders (walked for *.zip, depth first) and single files (tested whatever
// their names end in), in the order given, then the files a list names.
struct RunInputs {
    std::vector<std::string> paths; // absolute
    std::string fileList;           // absolute, "-" for standard input, empty when none
    bool nullSeparated = false;     // the list's names end in NUL bytes rather than newlines
};

// Whether a start path names something other than a folder, and so is tested as an archive. A path
// that cannot be reached is taken for a folder, as the window's run takes the folder it was given,
// so that the walk tells why it cannot be read.
bool namesArchive(const std::string& path);

// What a run does with the archives it finds.
enum class RunPurpose {
    Test,    // tests them, and records the verdicts and the run
    ListDue, // tells which are due, and neither tests nor records anything
};

struct RunSettings {
    ReportPlace reportPlace;
    // The record of a run started from the command line says so in its header.
    bool startedFromCommandLine = false;
    // -L: the walk follows symbolic links to folders, but never into a folder it is already inside.
    bool followLinks = false;
    // Where verdicts are recorded and looked up across runs; none without a ledger. Not owned.
    Ledger* ledger = nullptr;
    // --due DAYS: only archives that are new, changed, not good, or last tested longer ago.
    std::optional<int> dueDays;
    // Why the ledger asked for could not be opened, told with the run's other failures.
    std::string ledgerUnavailable;
    // --time-limit: no archive is started later than this after the run began. The walk then lists
    // every archive first, so that the most overdue are tested first.
    std::optional<std::chrono::seconds> timeLimit;
    RunPurpose purpose = RunPurpose::Test;
};

class RunCore {
public:
    // Without a tester, the run makes the real archive component.
    explicit RunCore(RunSettings settings, std::unique_ptr<ArchiveTester> tester = nullptr);
    ~RunCore();
    RunCore(const RunCore&) = delete;
    RunCore& operator=(const RunCore&) = delete;

    // Told of every step of every run. The observer outlives the run.
    void addObserver(RunObserver& observer) { m_observers.push_back(&observer); }
    void setBreather(std::function<void()> breather) { m_breather = std::move(breather); }

    // One whole run: the walk, then the report files. Not to be called while a run is under way.
    RunSummary run(const RunInputs& inputs);
    bool isRunning() const { return m_running; }
    // Whether the walk under way may go on: false once a stop was asked for.
    bool isWalking() const { return m_walking; }

    // Stops the run under way at once, whose record then says "Aborted!"; the first cause is kept.
    void cancel(RunStop cause = RunStop::User);
    // Stops the walk under way as Escape does: the folder it has listed next still shows before
    // the walk ends. The record says "Aborted!" too.
    void stopWalk();
    // For a program that must end before its run can (a read that never returns): writes the record
    // of what has been judged so far, marked as stopped, unless the run has written its own or is
    // writing it. Safe from any thread. Answers what became of the record it wrote, if it wrote one.
    std::optional<ReportOutcome> writeRecordAsItStands();

    ArchiveTester& tester() { return *m_tester; }
    // Puts another tester in the current one's place, between runs: tests script outcomes with it.
    void useTester(std::unique_ptr<ArchiveTester> tester);

private:
    struct ListedFolder;
    struct WalkRoot;
    struct FolderOnPath;
    // A folder the walk has still to list, with the folders above it when the walk follows links.
    struct UnlistedFolder {
        std::string path;
        std::shared_ptr<const FolderOnPath> above;
    };
    // Lists the last of the folders not yet listed, and puts its sub-folders in its place.
    ListedFolder listArchivesAndFolders(const WalkRoot& root, std::vector<UnlistedFolder>& unlisted) const;
    void walkFolder(const std::string& rootPath);
    // Tests the archives in turn until the run stops or its time is up; answers how many it started.
    std::size_t testArchives(const std::vector<std::string>& paths);
    // Tests what the walk gathered, the longest due first, for as long as the run's time allows.
    void testMostOverdueFirst();
    void testArchive(const std::string& path);
    void testInputs(const RunInputs& inputs);
    // Archives named by the caller rather than found by the walk: announced, then tested in order.
    void testNamedArchives(std::vector<std::string> paths);
    void testFileList(const RunInputs& inputs);
    // Whether a named path can be reached; one that cannot leaves the run incomplete.
    bool reachable(const std::string& path);
    // Tells the archives the ledger holds under the walked folders that are gone from the disk.
    void tellMissingArchives(const RunInputs& inputs);
    // Takes in archives as they are listed: counts them, leaves out those not due as skipped, and
    // in a run that does not test as it walks, takes the due ones away, to gather or to tell them.
    // What is left in `paths` is to be tested now.
    void takeListedArchives(std::vector<std::string>& paths);
    // Since when an archive has been due, or none when it is not.
    // dueBefore: archives last tested before this time are due (--due); none when every one is.
    std::optional<std::int64_t> dueSince(const std::string& path, std::optional<std::int64_t> dueBefore);
    // Tells the archive's verdict, set against its last one, and records it in the ledger.
    void tellJudged(ArchiveOutcome& outcome, double seconds);
    // Whether an archive that could not be opened is simply gone, deleted after it was listed.
    static bool vanished(const std::string& path, std::int16_t probeResult,
                         const std::vector<ZipFault>& faults);
    void tellUnreachable(Unreachable::Kind kind, const std::string& path, const std::string& reason);
    // Counts and tells an unverified archive whose decoder memory could not be had.
    void tellMemoryShortfall(const ArchiveOutcome& outcome);
    void breathe();
    void stop(RunStop cause);
    // Calls each observer in the order they were added.
    template <typename Call> void tell(const Call& call);

    RunSettings m_settings;
    std::unique_ptr<ArchiveTester> m_tester;
    std::vector<RunObserver*> m_observers;
    std::function<void()> m_breather;

    bool m_running = false;
    bool m_walking = false;   // the walk may go on
    bool m_cancelled = false; // not even the folder listed next is shown
    RunSummary m_summary;
    // Guards the record in m_summary, which only the run's thread changes, against another thread's
    // reading it; the run's own thread reads it without.
    std::mutex m_recordMutex;
    // Whether the record of the run under way is written or being written; none is due between runs.
    std::atomic<bool> m_recordClaimed{true};
    std::string m_lastUnreadableFolder;
    std::vector<std::string> m_vanishedPaths; // this run's, which are told as vanished, not missing
    // An archive due, gathered by a run that tests the most overdue first.
    struct DueArchive {
        std::string path;
        std::int64_t dueSince; // seconds since the epoch; the smallest is the most overdue
    };
    std::vector<DueArchive> m_gathered;
    std::optional<std::chrono::steady_clock::time_point> m_lastStart; // none without a time limit
};

} // namespace vellum
