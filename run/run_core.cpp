#include "run_core.h"

#include "absolute_path.h"
#include "base/path_open.h"
#include "base/wildcard_match.h"
#include "fault_json.h"
#include "fault_text.h"
#include "file_list.h"
#include "folder_listing.h"
#include "lower_case.h"
#include "zip/zip_tester.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <limits>

namespace vellum {

namespace {

const char* const ArchivePattern = "*.zip";
// The settings every archive is tested with, announced with the archives so that the component can
// test them ahead the same way.
const ArchiveTestPlan RunTestPlan{"*.diz", "", false};
// Names of a file list handed to the archive component at once, so that it can test ahead.
constexpr std::size_t ListBatchSize = 256;
// How far the walk lists folders ahead of the one it tests: enough archives to keep the
// component's look-ahead busy, or this many folders of few archives.
constexpr std::size_t ArchivesListedAhead = 64;
constexpr std::size_t FoldersListedAhead = 64;
// When an archive with no verdict that holds became due: before any that has one.
constexpr std::int64_t NeverTested = std::numeric_limits<std::int64_t>::min();

// 64 bits: among a million paths, two alike by chance are rarer than one in ten million.
std::uint64_t pathHash(const std::string& path) {
    return std::hash<std::string>{}(path);
}

std::string withTrailingSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The start line of the log record: each path (a folder with '/' at its end), then the list.
std::string inputsLine(const RunInputs& inputs) {
    std::string line;
    for (const std::string& path : inputs.paths) {
        if (!line.empty())
            line += ' ';
        line += namesArchive(path) ? path : withTrailingSeparator(path);
    }
    if (!inputs.fileList.empty())
        line += (line.empty() ? "--files-from " : " --files-from ") + inputs.fileList;
    return line;
}

// A listing's entries for the folder itself and its parent; every other folder is walked, hidden
// (dot) folders too.
bool isSelfOrParent(const std::string& name) {
    return name == "." || name == "..";
}

} // namespace

// The folder a walk starts from, held open for the walk: every folder below it is opened from it
// through real folders only, so that a folder swapped for a link during the walk cannot lead it out
// of its tree. Reached by descriptor, so that a path of any length is.
struct RunCore::WalkRoot {
    WalkRoot(const std::string& folder, bool followingLinks)
        : path(folder), followLinks(followingLinks), descriptor(openPathOfAnyLength(folder, FolderFlags)),
          error(descriptor < 0 ? errno : 0) {}
    ~WalkRoot() {
        if (descriptor >= 0)
            ::close(descriptor);
    }
    WalkRoot(const WalkRoot&) = delete;
    WalkRoot& operator=(const WalkRoot&) = delete;

    // A folder below the root, opened for listing; -1 with errno when it cannot be. A walk that
    // follows links (-L) goes wherever they lead, guarded against loops by the walk itself.
    int open(const std::string& folder) const {
        if (descriptor < 0) {
            errno = error;
            return -1;
        }
        if (followLinks)
            return openPathOfAnyLength(folder, FolderFlags);
        return platform::openFolderBeneath(descriptor, std::string_view(folder).substr(path.size()));
    }

    static constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
    std::string path; // ends in '/'
    bool followLinks;
    int descriptor;
    int error;
};

// A folder on the walk's path, from the one being listed up to the start folder.
struct RunCore::FolderOnPath {
    dev_t device;
    ino_t inode;
    std::shared_ptr<const FolderOnPath> above;
};

bool namesArchive(const std::string& path) {
    struct stat status {};
    return statusOfPathOfAnyLength(path, status) && !S_ISDIR(status.st_mode);
}

// A folder as the walk listed it.
struct RunCore::ListedFolder {
    std::string path; // ends in '/'
    std::vector<std::string> archives;
    std::vector<std::string> linksToFolders; // not followed, so that the walk cannot loop or leave its tree
    int error = 0;                           // why it could not be listed to its end (an errno value), or 0
};

RunCore::RunCore(RunSettings settings, std::unique_ptr<ArchiveTester> tester)
    : m_settings(std::move(settings)) {
    useTester(tester ? std::move(tester) : std::make_unique<ZipTester>());
}

void RunCore::useTester(std::unique_ptr<ArchiveTester> tester) {
    m_tester = std::move(tester);
    m_tester->onYield = [this] { breathe(); };
    m_tester->onStatus = [this](const ZipStatus& status) {
        tell([&](RunObserver& observer) { observer.archiveProgress(status.completion); });
    };
}

RunCore::~RunCore() = default;

template <typename Call> void RunCore::tell(const Call& call) {
    for (RunObserver* observer : m_observers)
        call(*observer);
}

void RunCore::breathe() {
    if (m_breather)
        m_breather();
}

RunSummary RunCore::run(const RunInputs& inputs) {
    {
        const std::lock_guard lock(m_recordMutex);
        m_summary = RunSummary{};
        m_summary.record.inputsLine = inputsLine(inputs);
        m_summary.record.startedFromCommandLine = m_settings.startedFromCommandLine;
    }
    m_summary.ledgerFailure = m_settings.ledgerUnavailable;
    const bool testing = m_settings.purpose == RunPurpose::Test;
    // A run that only lists what is due leaves no record.
    m_recordClaimed = !testing;
    m_cancelled = false;
    m_lastUnreadableFolder.clear();
    m_listedPathHashes.clear();
    m_gathered.clear();
    m_lastStart.reset();
    if (m_settings.timeLimit)
        m_lastStart = std::chrono::steady_clock::now() + *m_settings.timeLimit;

    m_running = true;
    m_walking = true;
    tell([](RunObserver& observer) { observer.runStarted(); });
    testInputs(inputs);
    if (testing && m_settings.timeLimit)
        testMostOverdueFirst();
    if (testing && m_walking)
        tellMissingArchives(inputs);
    m_walking = false;
    // A walk that ended early leaves archives announced that nobody will ask for.
    m_tester->dropExpectedArchives();
    if (m_settings.ledger != nullptr && !m_settings.ledger->flush() && m_summary.ledgerFailure.empty())
        m_summary.ledgerFailure = m_settings.ledger->error();

    if (!m_recordClaimed.exchange(true))
        m_summary.report = writeRunReport(m_summary.record, m_settings.reportPlace);
    tell([this](RunObserver& observer) { observer.runEnded(m_summary); });
    m_running = false;
    return m_summary;
}

void RunCore::cancel(RunStop cause) {
    m_cancelled = true;
    stop(cause);
}

void RunCore::stopWalk() {
    stop(RunStop::User);
}

void RunCore::stop(RunStop cause) {
    m_walking = false;
    m_tester->requestAbort();
    if (m_summary.stop == RunStop::None)
        m_summary.stop = cause;
    const std::lock_guard lock(m_recordMutex);
    m_summary.record.cancelled = true;
}

std::optional<ReportOutcome> RunCore::writeRecordAsItStands() {
    if (m_recordClaimed.exchange(true))
        return std::nullopt;
    RunRecord record;
    {
        const std::lock_guard lock(m_recordMutex);
        record = m_summary.record;
    }
    record.cancelled = true;
    return writeRunReport(record, m_settings.reportPlace);
}

void RunCore::testInputs(const RunInputs& inputs) {
    // Archives given one after the other are announced together, so that the component tests ahead.
    std::vector<std::string> archives;
    for (const std::string& path : inputs.paths) {
        if (!m_walking)
            return;
        if (namesArchive(path)) {
            archives.push_back(path);
            continue;
        }
        testNamedArchives(archives);
        archives.clear();
        walkFolder(withTrailingSeparator(path));
    }
    testNamedArchives(archives);
    if (!inputs.fileList.empty() && m_walking)
        testFileList(inputs);
}

RunCore::ListedFolder RunCore::listArchivesAndFolders(const WalkRoot& root,
                                                      std::vector<UnlistedFolder>& unlisted) const {
    UnlistedFolder next = std::move(unlisted.back());
    unlisted.pop_back();
    ListedFolder listed{std::move(next.path), {}, {}, 0};
    const int descriptor = root.open(listed.path);
    if (descriptor >= 0 && platform::isKernelFileSystemBelow(root.descriptor, descriptor)) {
        ::close(descriptor);
        return listed;
    }
    std::shared_ptr<const FolderOnPath> here;
    struct stat status {};
    if (root.followLinks && descriptor >= 0 && ::fstat(descriptor, &status) == 0) {
        for (const FolderOnPath* above = next.above.get(); above != nullptr; above = above->above.get()) {
            if (above->device == status.st_dev && above->inode == status.st_ino) {
                // A link back into the walk's own path: entering it would never end.
                ::close(descriptor);
                listed.linksToFolders.push_back(listed.path.substr(0, listed.path.size() - 1));
                return listed;
            }
        }
        here = std::make_shared<const FolderOnPath>(FolderOnPath{status.st_dev, status.st_ino, next.above});
    }
    // One pass over the listing finds both the sub-folders and the archives, each in the order the
    // file system gives them.
    std::vector<std::string> subFolders;
    platform::FolderListing listing(descriptor, "*.*");
    platform::FolderEntry entry;
    while (listing.next(entry)) {
        const bool archive = wildcardMatch(ArchivePattern, entry.name, WildcardRule::FileSearch);
        if ((entry.isDirectory && !isSelfOrParent(entry.name)) ||
            (root.followLinks && entry.isLinkToFolder && !archive))
            subFolders.push_back(entry.name);
        if (archive)
            listed.archives.push_back(listed.path + entry.name);
        else if (entry.isLinkToFolder && !root.followLinks)
            listed.linksToFolders.push_back(listed.path + entry.name);
    }
    listed.error = listing.error();
    // The sub-folders are searched next, the first of them first.
    for (auto name = subFolders.rbegin(); name != subFolders.rend(); ++name)
        unlisted.push_back({listed.path + *name + "/", here});
    return listed;
}

void RunCore::walkFolder(const std::string& rootPath) {
    // Depth first: each folder's archives, then each of its sub-folders in turn. The archive
    // component is told which archives come next before the first is tested, so that it starts on
    // them while this thread goes through them one by one; the folders that follow are listed
    // ahead, so that it goes on across folders instead of running dry at the end of each. A folder
    // listed ahead is still entered, and its failure told, only when the walk reaches it.
    const WalkRoot root(rootPath, m_settings.followLinks);
    std::vector<UnlistedFolder> unlisted{{rootPath, nullptr}}; // the next one last
    std::deque<ListedFolder> listedAhead;                      // in walk order, their archives announced
    std::size_t archivesAhead = 0;
    while (!m_cancelled && (!listedAhead.empty() || !unlisted.empty())) {
        const std::string& next = listedAhead.empty() ? unlisted.back().path : listedAhead.front().path;
        tell([&](RunObserver& observer) { observer.folderEntered(next); });
        breathe();
        if (!m_walking)
            return;

        ListedFolder folder;
        if (listedAhead.empty()) {
            folder = listArchivesAndFolders(root, unlisted);
            takeListedArchives(folder.archives);
            m_tester->expectArchives(folder.archives, RunTestPlan);
        } else {
            folder = std::move(listedAhead.front());
            listedAhead.pop_front();
            archivesAhead -= folder.archives.size();
        }
        if (folder.error != 0 && folder.path != m_lastUnreadableFolder) {
            // The sub-folder listing and the archive listing of one folder fail alike; one line says it.
            m_lastUnreadableFolder = folder.path;
            tellUnreachable(Unreachable::Kind::Folder, folder.path, std::strerror(folder.error));
        }
        for (const std::string& link : folder.linksToFolders) {
            ++m_summary.linksNotFollowed;
            tell([&](RunObserver& observer) { observer.linkNotFollowed(link); });
        }
        while (archivesAhead < ArchivesListedAhead && listedAhead.size() < FoldersListedAhead &&
               !unlisted.empty()) {
            ListedFolder& listed = listedAhead.emplace_back(listArchivesAndFolders(root, unlisted));
            takeListedArchives(listed.archives);
            archivesAhead += listed.archives.size();
            if (!listed.archives.empty())
                m_tester->expectMoreArchives(listed.archives, RunTestPlan);
        }
        testArchives(folder.archives);
    }
}

std::size_t RunCore::testArchives(const std::vector<std::string>& paths) {
    std::size_t started = 0;
    for (const std::string& path : paths) {
        breathe();
        if (!m_walking)
            break;
        if (m_lastStart && std::chrono::steady_clock::now() >= *m_lastStart) {
            stop(RunStop::TimeLimit);
            break;
        }
        testArchive(path);
        ++started;
    }
    return started;
}

void RunCore::testMostOverdueFirst() {
    std::stable_sort(
        m_gathered.begin(), m_gathered.end(),
        [](const DueArchive& one, const DueArchive& other) { return one.dueSince < other.dueSince; });
    // Announced a batch ahead of the one under test, so that the component's look-ahead never runs dry.
    const auto batchFrom = [this](std::size_t first) {
        std::vector<std::string> batch;
        for (std::size_t next = first; next < m_gathered.size() && batch.size() < ListBatchSize; ++next)
            batch.push_back(std::move(m_gathered[next].path));
        return batch;
    };
    std::size_t started = 0;
    std::vector<std::string> batch = batchFrom(0);
    m_tester->expectArchives(batch, RunTestPlan);
    while (!batch.empty()) {
        std::vector<std::string> following = batchFrom(started + batch.size());
        if (!following.empty())
            m_tester->expectMoreArchives(following, RunTestPlan);
        const std::size_t startedNow = testArchives(batch);
        started += startedNow;
        if (startedNow < batch.size())
            break;
        batch = std::move(following);
    }
    m_summary.remaining = static_cast<std::int32_t>(m_gathered.size() - started);
    m_gathered = {};
}

void RunCore::testArchive(const std::string& path) {
    if (m_cancelled)
        return;
    tell([&](RunObserver& observer) { observer.archiveStarted(path); });
    ArchiveTester& tester = *m_tester;
    tester.stopAtFirstFault = RunTestPlan.stopAtFirstFault;
    tester.fileFilter = RunTestPlan.probeFilter;
    // The name as the caller shows it, which the component keeps alongside the path.
    const std::string shownName = platform::lowerCase(path);
    tester.archivePath = path;
    tester.archiveName = shownName;

    const auto started = std::chrono::steady_clock::now();
    const std::int16_t probeResult = tester.probeArchive();
    std::optional<std::int16_t> verifyResult;
    if (probeGoesOn(probeResult)) {
        tester.archivePath = path;
        tester.archiveName = shownName;
        tester.fileFilter = RunTestPlan.verifyFilter;
        verifyResult = tester.verifyArchive();
    }
    const ArchiveVerdict verdict = judgeArchive(probeResult, verifyResult);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const bool aborted = verdict == ArchiveVerdict::Aborted;
    if (aborted) {
        // An archive whose test was cut short has no verdict, so it is not counted as tested: the
        // record and the JSON summary count the same archives.
        m_walking = false;
        tester.requestAbort();
    } else if (vanished(path, probeResult, tester.lastFaults())) {
        // Deleted since its folder was listed: absent, not damaged.
        ++m_summary.vanished;
        tell([&](RunObserver& observer) { observer.archiveVanished(path); });
    } else {
        ArchiveOutcome outcome{path, probeResult, verifyResult, judgeArchiveFully(probeResult, verifyResult),
                               tester.lastFaults()};
        tellJudged(outcome, took.count());
        const std::lock_guard lock(m_recordMutex);
        ++m_summary.record.tested;
        // The report names the file as the file system does; only the window shows it lower-cased.
        if (verdict == ArchiveVerdict::Bad)
            m_summary.record.badArchives.push_back(path);
    }
    const ArchiveStep step{aborted, tester.abort, m_summary.record.tested,
                           static_cast<std::int32_t>(m_summary.record.badArchives.size())};
    tell([&](RunObserver& observer) { observer.archiveDone(step); });
}

void RunCore::testNamedArchives(std::vector<std::string> paths) {
    takeListedArchives(paths);
    if (paths.empty())
        return;
    m_tester->expectArchives(paths, RunTestPlan);
    testArchives(paths);
}

void RunCore::testFileList(const RunInputs& inputs) {
    FileList list(inputs.fileList, inputs.nullSeparated ? '\0' : '\n');
    // While the list is slow to arrive (a pipe), the breather still runs, so that a stop is heard.
    const std::function<bool()> keepWaiting = [this] {
        breathe();
        return m_walking;
    };
    std::vector<std::string> batch;
    std::string name;
    while (m_walking) {
        batch.clear();
        FileList::Step step = list.next(name, true, keepWaiting);
        // What has arrived is tested at once; the list is not waited for while archives are ready.
        while (step == FileList::Step::Name) {
            std::string path = absolutePath(name);
            if (reachable(path))
                batch.push_back(std::move(path));
            if (batch.size() >= ListBatchSize)
                break;
            step = list.next(name, false, keepWaiting);
        }
        testNamedArchives(batch);
        if (step == FileList::Step::Failed) {
            tellUnreachable(Unreachable::Kind::FileList, inputs.fileList, list.failure());
            return;
        }
        if (step == FileList::Step::Stopped || (step == FileList::Step::End && list.atEnd()))
            return;
    }
}

bool RunCore::reachable(const std::string& path) {
    const int descriptor = openPathOfAnyLength(path, O_PATH);
    if (descriptor >= 0) {
        ::close(descriptor);
        return true;
    }
    tellUnreachable(Unreachable::Kind::Path, path, std::strerror(errno));
    return false;
}

void RunCore::tellMissingArchives(const RunInputs& inputs) {
    if (m_settings.ledger == nullptr)
        return;
    std::sort(m_listedPathHashes.begin(), m_listedPathHashes.end());
    for (const std::string& start : inputs.paths) {
        if (namesArchive(start))
            continue;
        m_settings.ledger->forEachArchiveUnder(withTrailingSeparator(start), [this](const std::string& path) {
            if (std::binary_search(m_listedPathHashes.begin(), m_listedPathHashes.end(), pathHash(path)))
                return;
            struct stat status {};
            // Only what is certainly gone: an archive in a folder that could not be read is not.
            if (statusOfPathOfAnyLength(path, status) || (errno != ENOENT && errno != ENOTDIR))
                return;
            ++m_summary.missing;
            tell([&](RunObserver& observer) { observer.archiveMissing(path); });
        });
    }
}

void RunCore::takeListedArchives(std::vector<std::string>& paths) {
    m_summary.listed += static_cast<std::int32_t>(paths.size());
    if (m_settings.ledger != nullptr && m_settings.purpose == RunPurpose::Test) {
        for (const std::string& path : paths)
            m_listedPathHashes.push_back(pathHash(path));
    }
    const bool listing = m_settings.purpose == RunPurpose::ListDue;
    const bool gathering = !listing && m_settings.timeLimit;
    const bool choosing = m_settings.dueDays && m_settings.ledger != nullptr;
    if (!listing && !gathering && !choosing)
        return;
    std::optional<std::int64_t> dueBefore;
    if (choosing)
        dueBefore = secondsSinceEpoch() - std::int64_t{*m_settings.dueDays} * 86400;
    std::vector<std::string> testedNow;
    for (std::string& path : paths) {
        // Only the order of a gathering run needs what the ledger says of an archive that is due anyway.
        const std::optional<std::int64_t> since =
            choosing || gathering ? dueSince(path, dueBefore) : NeverTested;
        if (!since)
            ++m_summary.skipped;
        else if (listing && m_walking)
            tell([&](RunObserver& observer) { observer.archiveDue(path); });
        else if (gathering)
            m_gathered.push_back({std::move(path), *since});
        else if (!listing)
            testedNow.push_back(std::move(path));
    }
    paths = std::move(testedNow);
}

std::optional<std::int64_t> RunCore::dueSince(const std::string& path,
                                              std::optional<std::int64_t> dueBefore) {
    Ledger* ledger = m_settings.ledger;
    const std::optional<LedgerEntry> last = ledger != nullptr ? ledger->lastVerdict(path) : std::nullopt;
    if (!last)
        return NeverTested;
    if (last->verdict != "good" || (dueBefore && last->testedAt <= *dueBefore))
        return last->testedAt;
    // A verdict on other bytes than those on disk now says nothing of them. A change time that moved
    // says something wrote to the file, or renamed it or changed its owner, since: reason enough to
    // look again, even with its size and modification time as they were.
    const std::optional<FileIdentity> identity = fileIdentityOf(path);
    if (!identity || identity->differsFrom(last->identity) || identity->changedNs != last->identity.changedNs)
        return NeverTested;
    if (!dueBefore)
        return last->testedAt;
    return std::nullopt;
}

void RunCore::tellJudged(ArchiveOutcome& outcome, double seconds) {
    Ledger* ledger = m_settings.ledger;
    const std::optional<LedgerEntry> previous =
        ledger != nullptr ? ledger->lastVerdict(outcome.path) : std::optional<LedgerEntry>();
    // What the tester saw when it read the archive saves looking again; a stand-in tester says nothing.
    std::optional<FileIdentity> identity = m_tester->lastFileIdentity();
    if (!identity)
        identity = fileIdentityOf(outcome.path);
    outcome.identity = identity ? &*identity : nullptr;
    outcome.testedAt = secondsSinceEpoch();
    outcome.seconds = seconds;
    if (previous) {
        outcome.previous = &*previous;
        outcome.changedSinceTested = identity && identity->changedNs != previous->identity.changedNs;
        outcome.change = verdictChangeOf(*previous, outcome.verdict == FullVerdict::Bad, outcome.identity);
        if (outcome.change == VerdictChange::NewlyBad)
            ++m_summary.newlyBad;
    }
    tell([&](RunObserver& observer) { observer.archiveJudged(outcome); });
    tellMemoryShortfall(outcome);
    if (ledger == nullptr || !identity || !m_summary.ledgerFailure.empty())
        return;
    const std::string verdict = verdictWord(outcome.verdict);
    const std::string faults = faultsAndNotesText(outcome.path, outcome.faults);
    if (!ledger->record({outcome.path, *identity, verdict, faults, outcome.testedAt, seconds}))
        m_summary.ledgerFailure = ledger->error();
}

bool RunCore::vanished(const std::string& path, std::int16_t probeResult,
                       const std::vector<ZipFault>& faults) {
    if (probeResult != ZipResult::CannotOpen || faults.empty() ||
        faults.front().kind != ZipFaultKind::CannotOpen)
        return false;
    struct stat status {};
    // A folder above it replaced by a file is as gone.
    return !statusOfPathOfAnyLength(path, status) && (errno == ENOENT || errno == ENOTDIR);
}

void RunCore::tellUnreachable(Unreachable::Kind kind, const std::string& path, const std::string& reason) {
    ++m_summary.unreachable;
    const Unreachable what{kind, path, reason};
    tell([&](RunObserver& observer) { observer.unreachable(what); });
}

void RunCore::tellMemoryShortfall(const ArchiveOutcome& outcome) {
    // A bad archive's verdict stands whatever its other entries would have shown.
    if (outcome.verdict != FullVerdict::Unverified)
        return;
    const ZipFault* fault = memoryShortfallIn(outcome.faults);
    if (!fault)
        return;
    ++m_summary.memoryShortfalls;
    const MemoryShortfall what{outcome.path, *fault};
    tell([&](RunObserver& observer) { observer.memoryShortfall(what); });
}

} // namespace vellum
