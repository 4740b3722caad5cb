#pragma once

// The end-of-run report: errors.txt (the bad archives of the last run that found any) and
// errors.log (one record per run, appended), every line ending in CR LF. They go to the folder given
// on the command line, else beside the program when that folder can take them, else to the user's
// state folder (see chooseReportFolder).

#include "report_file.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vellum {

// What a run's record says.
struct RunRecord {
    // The start line: the folder of a window run, or each path of a command-line run (folders
    // ending in '/') and the file list, joined by blanks.
    std::string inputsLine;
    std::int32_t tested = 0;
    std::vector<std::string> badArchives; // absolute, as the file system names them
    bool cancelled = false;               // the header says "Aborted!"
    bool startedFromCommandLine = false;  // the header says "Command line"
};

// Where the reports go: --report-dir when given, else decided from the program's folder.
struct ReportPlace {
    std::string applicationFolder;
    std::string explicitReportFolder; // empty when not given
};

struct ReportOutcome {
    std::string folder;                           // where the reports went (or would have gone)
    std::vector<platform::WriteFailure> failures; // empty when everything landed
    std::string replacedReport;                   // errors.txt when this run replaced it, else empty
};

// "MM-DD-YYYY HH:MM:SS <abort field> <source field>"
std::string reportHeaderLine(const std::tm& now, const std::string& abortField,
                             const std::string& sourceField);
// " <tested> tested - <bad> bad"
std::string reportCountsLine(std::int32_t tested, std::int32_t bad);

// Writes the record of a run. A run with bad archives replaces errors.txt and appends its record to
// errors.log; a run without any only appends its record. Names are written escaped, so that none
// can break a line. A file that cannot be written is named in the outcome and does not keep the
// other one from being written; a report folder that cannot be used is the one failure, and nothing
// is written.
ReportOutcome writeRunReport(const RunRecord& record, const ReportPlace& place);

// "cannot write PATH: REASON", the path escaped: how a report failure is told, on standard error
// and in the window alike.
std::string reportFailureText(const platform::WriteFailure& failure);

// The folder File > Open log looks in: the one the next report would go to, created or not.
std::string reportFolderForReading(const ReportPlace& place);

} // namespace vellum
