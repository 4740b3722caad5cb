#pragma once

// The end-of-run report: errors.txt (the bad archives of the last run that found any) and
// errors.log (one record per run, appended), every line ending in CR LF. They go to the folder given
// on the command line, else beside the program when that folder can take them, else to the user's
// state folder (see chooseReportFolder).

#include "report_file.h"
#include "run_state.h"

#include <ctime>
#include <string>
#include <vector>

namespace vellum {

namespace platform {
class SoundPlayer;
class Launcher;
} // namespace platform

struct ReportServices {
    std::string applicationFolder;
    std::string explicitReportFolder; // --report-dir, empty when not given
    std::string errorSound;           // full path of error.wav
    platform::SoundPlayer& sound;
    platform::Launcher& launcher;
    bool viewerAllowed; // false without a real display: no viewer is started
};

struct ReportOutcome {
    std::string folder;                           // where the reports went (or would have gone)
    std::vector<platform::WriteFailure> failures; // empty when everything landed
};

// "MM-DD-YYYY HH:MM:SS <abort field> <source field>"
std::string reportHeaderLine(const std::tm& now, const std::string& abortField,
                             const std::string& sourceField);
// " <tested> tested - <bad> bad"
std::string reportCountsLine(std::int32_t tested, std::int32_t bad);

// Writes the report of the run that `state` describes. A run with bad archives plays the error
// sound, replaces errors.txt and appends its record to errors.log; a run without any only appends
// its record. Names are written escaped, so that none can break a line. A file that cannot be
// written is named in the outcome and does not keep the other one from being written; a report
// folder that cannot be used is the one failure, and nothing is written. The text viewer opens
// errors.txt only when this run replaced it and a viewer is allowed.
ReportOutcome writeEndOfRunReport(const RunState& state, const std::string& abortField,
                                  const std::string& sourceField, const ReportServices& services);

// The folder File > Open log looks in: the one the next report would go to, created or not.
std::string reportFolderForReading(const std::string& applicationFolder,
                                   const std::string& explicitReportFolder);

} // namespace vellum
