#include "run_driver.h"

#include "absolute_path.h"
#include "base/path_open.h"
#include "base/wildcard_match.h"
#include "data_files.h"
#include "escaped_text.h"
#include "file_list.h"
#include "lower_case.h"
#include "message_box.h"
#include "number_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

namespace vellum {

namespace {

std::string withTrailingSeparator(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

// The settings every archive is tested with, announced with the archives so that the component can
// test them ahead the same way.
const ArchiveTestPlan RunTestPlan{"*.diz", "", false};

// Names of a file list handed to the archive component at once, so that it can test ahead.
constexpr std::size_t ListBatchSize = 256;
// How far the walk lists folders ahead of the one it tests: enough archives to keep the
// component's look-ahead busy, or this many folders of few archives.
constexpr std::size_t ArchivesListedAhead = 64;
constexpr std::size_t FoldersListedAhead = 64;

// Whether a start path names something other than a folder, and so is tested as an archive. A
// path that cannot be reached is taken for a folder, as the specified run takes its one argument.
bool namesArchive(const std::string& path) {
    const int descriptor = openPathOfAnyLength(path, O_PATH);
    if (descriptor < 0)
        return false;
    struct stat status {};
    const bool archive = ::fstat(descriptor, &status) == 0 && !S_ISDIR(status.st_mode);
    ::close(descriptor);
    return archive;
}

std::string fileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// The listing of a folder, opened through a descriptor so that a path of any length is reached.
platform::FolderListing listFolder(const std::string& folder, std::string pattern) {
    return platform::FolderListing(openPathOfAnyLength(folder, O_RDONLY | O_DIRECTORY | O_NONBLOCK),
                                   std::move(pattern));
}

} // namespace

RunDriver::RunDriver(RunState& state, RunWindow& window, RunServices services)
    : m_state(state), m_window(window), m_services(std::move(services)) {}

void RunDriver::Command1_Click() {
    m_state.AbortRequested = false;
    std::string abortField;
    std::string sourceField;
    m_state.BadCount = 0;
    m_state.TestedCount = 1;
    m_state.UnreadableFolders = 0;
    m_state.ReportFailures = 0;
    m_lastUnreadableFolder.clear();

    connectControls();
    const bool interactive = m_services.commandLine.empty();
    if (interactive) {
        FolderBrowser& picker = m_window.browseDialog();
        if (!picker.browse()) {
            m_state.StartFolder.clear();
            m_state.StartFolderPath.clear();
            return;
        }
        m_state.StartFolderPath = picker.chosenFolder();
        m_state.StartFolder = platform::lowerCase(m_state.StartFolderPath);
    }

    if (!interactive && m_inputs) {
        m_state.StartFolderPath = inputsRecordLine();
        m_state.StartFolder = platform::lowerCase(m_state.StartFolderPath);
    } else {
        m_state.StartFolder = withTrailingSeparator(m_state.StartFolder);
        m_state.StartFolderPath = withTrailingSeparator(m_state.StartFolderPath);
    }
    ArchivePattern = "*.zip";
    m_running = true;
    m_window.setBusyPointer(true);
    RunActive = true;
    m_window.setAnimationEnabled(true);
    for (RunObserver* observer : m_observers)
        observer->runStarted();
    if (!interactive && m_inputs)
        testInputs();
    else
        SearchFolder(m_state.StartFolderPath);
    // A walk that ended early leaves archives announced that nobody will ask for.
    m_window.zipTester().dropExpectedArchives();
    for (RunObserver* observer : m_observers)
        observer->runEnded();

    if (m_window.isMinimized())
        m_window.showNormalAndRepaint();
    m_window.setAnimationEnabled(false);
    RunActive = false;
    m_window.setBusyPointer(false);
    m_window.setPanel1Caption("");
    if (!m_state.AbortRequested)
        m_window.setLabel1Caption("");
    m_window.setLabel2Caption("Done.");
    m_window.setCaption("Vellum");
    if (m_state.AbortRequested)
        abortField = "Aborted!";
    if (!interactive)
        sourceField = "Command line";

    const ReportOutcome report =
        writeEndOfRunReport(m_state, abortField, sourceField,
                            ReportServices{m_services.applicationFolder, m_services.explicitReportFolder,
                                           platform::dataFilePath(m_services.applicationFolder, "error.wav"),
                                           m_services.sound, m_services.launcher, m_services.realDisplay});
    m_state.ReportFailures = static_cast<std::int32_t>(report.failures.size());
    tellReportFailures(report, interactive);

    m_running = false;
    if (m_state.ExitWhenDone)
        m_window.closeWindow();
}

void RunDriver::browse_Click() {
    Command1_Click();
}

void RunDriver::connectControls() {
    ArchiveTester& tester = m_window.zipTester();
    tester.onYield = [this] { m_window.yieldToEvents(); };
    tester.onStatus = [this](const ZipStatus& status) { ZipTester1_Status(status); };
    m_window.browseDialog().onSelectionChanged = [this](std::string& selection, std::int32_t reserved) {
        BrowseDialog1_SelectionChanged(selection, reserved);
    };
}

void RunDriver::Command2_Click() {
    RunActive = false;
    m_window.zipTester().requestAbort();
    m_window.yieldToEvents();
    m_window.setLabel1Caption("Aborted");
    m_window.progressBar().setPosition(0);
    m_state.AbortRequested = true;
    m_window.focusOption1();
}

void RunDriver::BrowseDialog1_SelectionChanged(std::string& selection, std::int32_t) {
    m_window.browseDialog().setSelectionText(selection);
}

RunDriver::ListedFolder RunDriver::listArchivesAndFolders(std::vector<std::string>& unlisted) const {
    ListedFolder listed{std::move(unlisted.back()), {}, 0};
    unlisted.pop_back();
    // One pass over the listing finds both the sub-folders and the archives, each in the order the
    // file system gives them.
    std::vector<std::string> subFolders;
    platform::FolderListing listing = listFolder(listed.path, "*.*");
    platform::FolderEntry entry;
    while (listing.next(entry)) {
        if (entry.isDirectory && !entry.name.starts_with('.'))
            subFolders.push_back(entry.name);
        if (wildcardMatch(ArchivePattern, entry.name, WildcardRule::FileSearch))
            listed.archives.push_back(entry);
    }
    listed.error = listing.error();
    // The sub-folders are searched next, the first of them first.
    for (auto name = subFolders.rbegin(); name != subFolders.rend(); ++name)
        unlisted.push_back(listed.path + *name + "/");
    return listed;
}

std::vector<std::string> RunDriver::ListedFolder::archivePaths() const {
    std::vector<std::string> paths;
    paths.reserve(archives.size());
    for (const platform::FolderEntry& archive : archives)
        paths.push_back(path + archive.name);
    return paths;
}

void RunDriver::SearchFolder(const std::string& root) {
    // Depth first: each folder's archives, then each of its sub-folders in turn. The archive
    // component is told which archives come next before the first is tested, so that it starts on
    // them while the window's thread goes through them one by one; the folders that follow are
    // listed ahead, so that it goes on across folders instead of running dry at the end of each.
    // A folder listed ahead is still shown, and its failure told, only when the search reaches it.
    std::vector<std::string> unlisted{root}; // the next one last
    std::deque<ListedFolder> listedAhead;    // in search order, their archives announced
    std::size_t archivesAhead = 0;
    while (!m_state.AbortRequested && (!listedAhead.empty() || !unlisted.empty())) {
        const std::string& next = listedAhead.empty() ? unlisted.back() : listedAhead.front().path;
        m_window.setPanel1Caption(platform::lowerCase(next));
        if (m_window.isMinimized())
            m_window.setCaption("Searching...");
        m_window.yieldToEvents();
        if (!RunActive)
            return;

        ListedFolder folder;
        if (listedAhead.empty()) {
            folder = listArchivesAndFolders(unlisted);
            m_window.zipTester().expectArchives(folder.archivePaths(), RunTestPlan);
        } else {
            folder = std::move(listedAhead.front());
            listedAhead.pop_front();
            archivesAhead -= folder.archives.size();
        }
        if (folder.error != 0)
            tellUnreadableFolder(folder.path, folder.error);
        while (archivesAhead < ArchivesListedAhead && listedAhead.size() < FoldersListedAhead &&
               !unlisted.empty()) {
            const ListedFolder& listed = listedAhead.emplace_back(listArchivesAndFolders(unlisted));
            archivesAhead += listed.archives.size();
            if (!listed.archives.empty())
                m_window.zipTester().expectMoreArchives(listed.archivePaths(), RunTestPlan);
        }
        TestFolder(folder.path, folder.archives);
    }
}

void RunDriver::TestFolder(const std::string& folder, const std::vector<platform::FolderEntry>& archives) {
    for (const platform::FolderEntry& archive : archives) {
        FindRecord = archive;
        m_window.yieldToEvents();
        if (!RunActive)
            return;
        m_state.CurrentArchivePath = folder + FindRecord.name;
        m_state.CurrentArchive = platform::lowerCase(m_state.CurrentArchivePath);
        m_window.setLabel1Caption(platform::lowerCase(FindRecord.name));
        m_window.setLabel2Caption("Testing ...");
        TestArchive();
    }
}

void RunDriver::TestArchive() {
    if (m_state.AbortRequested)
        return;
    for (RunObserver* observer : m_observers)
        observer->archiveStarted(m_state.CurrentArchivePath);
    ArchiveTester& tester = m_window.zipTester();
    tester.stopAtFirstFault = RunTestPlan.stopAtFirstFault;
    tester.fileFilter = RunTestPlan.probeFilter;
    tester.archivePath = m_state.CurrentArchivePath;
    tester.archiveName = m_state.CurrentArchive;

    const std::int16_t probeResult = tester.probeArchive();
    std::optional<std::int16_t> verifyResult;
    if (probeGoesOn(probeResult)) {
        tester.archivePath = m_state.CurrentArchivePath;
        tester.archiveName = m_state.CurrentArchive;
        tester.fileFilter = RunTestPlan.verifyFilter;
        verifyResult = tester.verifyArchive();
    }
    const ArchiveVerdict verdict = judgeArchive(probeResult, verifyResult);
    if (verdict != ArchiveVerdict::Aborted && !m_observers.empty()) {
        const ArchiveOutcome outcome{m_state.CurrentArchivePath, probeResult, verifyResult,
                                     judgeArchiveFully(probeResult, verifyResult), tester.lastFaults()};
        for (RunObserver* observer : m_observers)
            observer->archiveJudged(outcome);
    }

    if (verdict == ArchiveVerdict::Aborted) {
        RunActive = false;
        tester.requestAbort();
        m_window.setLabel1Caption("Aborted");
        m_window.setPanel1Caption("");
        m_window.progressBar().setPosition(0);
        m_window.setLabel2Caption("");
    } else {
        if (verdict == ArchiveVerdict::Bad)
            recordBadArchive();
        m_window.progressBar().setPosition(0);
        if (!tester.abort)
            m_window.setLabel1Caption("");
    }
    showCounts();
}

std::string RunDriver::inputsRecordLine() const {
    std::string line;
    for (const std::string& path : m_inputs->paths) {
        if (!line.empty())
            line += ' ';
        line += namesArchive(path) ? path : withTrailingSeparator(path);
    }
    if (!m_inputs->fileList.empty())
        line += (line.empty() ? "--files-from " : " --files-from ") + m_inputs->fileList;
    return line;
}

void RunDriver::testInputs() {
    // Archives given one after the other are announced together, so that the component tests ahead.
    std::vector<std::string> archives;
    for (const std::string& path : m_inputs->paths) {
        if (!RunActive)
            return;
        if (namesArchive(path)) {
            archives.push_back(path);
            continue;
        }
        testNamedArchives(archives);
        archives.clear();
        SearchFolder(withTrailingSeparator(path));
    }
    testNamedArchives(archives);
    if (!m_inputs->fileList.empty() && RunActive)
        testFileList();
}

void RunDriver::testNamedArchives(const std::vector<std::string>& paths) {
    if (paths.empty())
        return;
    m_window.zipTester().expectArchives(paths, RunTestPlan);
    for (const std::string& path : paths) {
        m_window.yieldToEvents();
        if (!RunActive)
            return;
        FindRecord = platform::FolderEntry{fileNameOf(path), false};
        m_state.CurrentArchivePath = path;
        m_state.CurrentArchive = platform::lowerCase(path);
        m_window.setLabel1Caption(platform::lowerCase(FindRecord.name));
        m_window.setLabel2Caption("Testing ...");
        TestArchive();
    }
}

void RunDriver::testFileList() {
    FileList list(m_inputs->fileList, m_inputs->nullSeparated ? '\0' : '\n');
    // While the list is slow to arrive (a pipe), the window's events, Cancel and the stop signals
    // among them, are still handled.
    const std::function<bool()> keepWaiting = [this] {
        m_window.yieldToEvents();
        return RunActive;
    };
    std::vector<std::string> batch;
    std::string name;
    while (RunActive) {
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
            ++m_state.UnreadableFolders;
            std::fprintf(stderr, "vellum: cannot read the file list %s: %s\n",
                         platform::escapedText(m_inputs->fileList).c_str(), std::strerror(list.error()));
            return;
        }
        if (step == FileList::Step::Stopped || (step == FileList::Step::End && list.atEnd()))
            return;
    }
}

bool RunDriver::reachable(const std::string& path) {
    const int descriptor = openPathOfAnyLength(path, O_PATH);
    if (descriptor >= 0) {
        ::close(descriptor);
        return true;
    }
    const int error = errno;
    ++m_state.UnreadableFolders;
    std::fprintf(stderr, "vellum: cannot read %s: %s\n", platform::escapedText(path).c_str(),
                 std::strerror(error));
    return false;
}

void RunDriver::tellUnreadableFolder(const std::string& folder, int error) {
    // The sub-folder listing and the archive listing of one folder fail alike; one line says it.
    if (folder == m_lastUnreadableFolder)
        return;
    m_lastUnreadableFolder = folder;
    ++m_state.UnreadableFolders;
    std::fprintf(stderr, "vellum: cannot read folder %s: %s\n", platform::escapedText(folder).c_str(),
                 std::strerror(error));
}

void RunDriver::tellReportFailures(const ReportOutcome& outcome, bool interactive) {
    if (outcome.failures.empty())
        return;
    std::string message;
    for (const platform::WriteFailure& failure : outcome.failures) {
        const std::string line =
            "cannot write " + platform::escapedText(failure.path) + ": " + failure.reason;
        std::fprintf(stderr, "vellum: %s\n", line.c_str());
        message += "\r\n" + line;
    }
    if (interactive)
        platform::showStopMessage("Vellum could not write its report." + message, "Vellum error");
}

void RunDriver::recordBadArchive() {
    // The report names the file as the file system does; only the window shows it lower-cased.
    std::string name = m_state.CurrentArchivePath;
    const auto index = static_cast<std::size_t>(m_state.BadCount);
    if (index < m_state.BadArchives.size())
        m_state.BadArchives[index] = std::move(name);
    else
        m_state.BadArchives.push_back(std::move(name));
    ++m_state.BadCount;
}

void RunDriver::showCounts() {
    m_window.setLabel3Caption(platform::numberText(m_state.TestedCount) + "  tested    -   " +
                              platform::numberText(m_state.BadCount) + "  bad");
    ++m_state.TestedCount;
}

void RunDriver::ZipTester1_Status(const ZipStatus& status) {
    for (RunObserver* observer : m_observers)
        observer->archiveProgress(status.completion);
    ProgressBar& progressBar = m_window.progressBar();
    if (progressBar.position() != status.completion)
        progressBar.setPosition(status.completion);
    if (m_window.isMinimized())
        m_window.setCaption(platform::numberText(status.completion) + "%  " +
                            platform::lowerCase(FindRecord.name));
}

} // namespace vellum
