#pragma once

// The state of a test run that lives as long as the process: zero, false or empty at start.

#include <cstdint>
#include <string>
#include <vector>

namespace vellum {

struct RunState {
    // The folder a run starts from, lower-cased for display, and absolute as the file system names
    // it, for file access and the report. After normalisation both end in '/'.
    std::string StartFolder;
    std::string StartFolderPath;

    bool AbortRequested = false; // Cancel was pressed during this run
    bool ExitWhenDone = false;   // Exit was chosen; the run closes the window when it ends

    // BadArchives holds the bad archives of the current run at indices 0 to BadCount - 1. It is
    // never cleared: a run writes its entries over those of earlier runs, and only the first
    // BadCount are ever read. It has no fixed size, so no run stops early because it is full.
    std::vector<std::string> BadArchives;
    std::int32_t BadCount = 0;
    std::int32_t TestedCount = 0; // the ordinal the next archive to be tested will get
    // Folders of this run's walk that could not be listed, and named files or file lists that could
    // not be reached: the run did not see all it was asked to test.
    std::int32_t UnreadableFolders = 0;
    // Report files of this run that could not be written.
    std::int32_t ReportFailures = 0;

    // The archive under test: lower-cased for display, and as listed, for access and the report.
    std::string CurrentArchive;
    std::string CurrentArchivePath;
};

} // namespace vellum
