#pragma once

// The run driver: one test run, from the choice of a folder, through the walk over it and every folder below
// it, to the written report. Everything happens on the window's thread; the walk lets pending window events
// through once per folder and once per archive, so Cancel, Escape and Exit act between two steps, and the
// archive component lets them through while it works.

#include "folder_listing.h"
#include "report.h"
#include "run_observer.h"
#include "run_state.h"
#include "run_window.h"

#include <optional>
#include <string>
#include <vector>

namespace vellum {

struct RunServices {
    std::string applicationFolder;
    // The folder given on the command line; empty for an interactive start.
    std::string commandLine;
    platform::SoundPlayer& sound;
    platform::Launcher& launcher;
    // --report-dir, empty when the reports go to the usual place.
    std::string explicitReportFolder;
    // A display someone can see: only then is the text viewer started on the report.
    bool realDisplay = true;
};

// What an unattended run tests beyond the one folder of the specified run: folders (walked for
// *.zip) and single files (tested whatever their names end in), in the order given, then the files
// a list names.
struct CommandLineInputs {
    std::vector<std::string> paths; // absolute
    std::string fileList;           // absolute, "-" for standard input, empty when none
    bool nullSeparated = false;     // the list's names end in NUL bytes rather than newlines
};

class RunDriver {
public:
    RunDriver(RunState& state, RunWindow& window, RunServices services);

    // An unattended run tests these instead of StartFolderPath. Set before the run starts.
    void setCommandLineInputs(CommandLineInputs inputs) { m_inputs = std::move(inputs); }
    // Told of every archive as it is tested and judged. The observer outlives the run.
    void addObserver(RunObserver& observer) { m_observers.push_back(&observer); }

    // One whole run: folder choice, walk, window back to idle, report, and the close that Exit asked for.
    void Command1_Click();
    // Whether Command1_Click is under way (the walk may already have been told to stop).
    bool isRunning() const { return m_running; }
    void browse_Click();
    // Stops the run under way; does the same when none is.
    void Command2_Click();
    void BrowseDialog1_SelectionChanged(std::string& selection, std::int32_t reserved);
    // Progress of the archive component: moves the progress bar, and the caption while minimised.
    void ZipTester1_Status(const ZipStatus& status);

    // The walk may go on while this is true.
    bool RunActive = false;
    std::string ArchivePattern;
    // The last entry a listing delivered: while an archive is tested, that archive.
    platform::FolderEntry FindRecord;

private:
    // The run handles the events of the controls it drives: the component's progress and yields,
    // and the picker's selection. Connected at the start of each run, so that controls a test put
    // in place are connected too.
    void connectControls();
    // A folder as the walk listed it.
    struct ListedFolder {
        std::string path; // ends in '/'
        std::vector<platform::FolderEntry> archives;
        int error = 0; // why it could not be listed to its end (an errno value), or 0
        std::vector<std::string> archivePaths() const;
    };
    // Lists the last of the folders not yet listed, and puts its sub-folders in its place.
    ListedFolder listArchivesAndFolders(std::vector<std::string>& unlisted) const;
    void SearchFolder(const std::string& root);
    // Tests the archives SearchFolder listed in folder, in their listing order.
    void TestFolder(const std::string& folder, const std::vector<platform::FolderEntry>& archives);
    void TestArchive();
    // The start line of the log record: each path (a folder with '/' at its end), then the list.
    std::string inputsRecordLine() const;
    void testInputs();
    // Archives named by the caller rather than found by the walk: announced, then tested in order.
    void testNamedArchives(const std::vector<std::string>& paths);
    void testFileList();
    // Whether a named path can be reached; one that cannot is told on standard error and leaves
    // the run incomplete.
    bool reachable(const std::string& path);
    // A folder that cannot be listed leaves the run incomplete: it is told on standard error.
    void tellUnreadableFolder(const std::string& folder, int error);
    void recordBadArchive();
    // Reports that did not land are never silent: a line on standard error for an unattended run,
    // a message box after a window run.
    void tellReportFailures(const ReportOutcome& outcome, bool interactive);
    void showCounts();

    RunState& m_state;
    RunWindow& m_window;
    RunServices m_services;
    bool m_running = false;
    std::string m_lastUnreadableFolder;
    std::optional<CommandLineInputs> m_inputs;
    std::vector<RunObserver*> m_observers;
};

} // namespace vellum
