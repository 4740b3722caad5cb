#pragma once

// The end-of-run report: errors.txt (the bad archives of the last run that found any) and
// errors.log (one record per run, appended), both beside the program, every line ending in CR LF.

#include "run_state.h"

#include <ctime>
#include <string>

namespace vellum {

namespace platform {
class SoundPlayer;
class Launcher;
} // namespace platform

struct ReportServices {
    std::string applicationFolder;
    platform::SoundPlayer& sound;
    platform::Launcher& launcher;
};

// "MM-DD-YYYY HH:MM:SS <abort field> <source field>"
std::string reportHeaderLine(const std::tm& now, const std::string& abortField,
                             const std::string& sourceField);
// " <tested> tested - <bad> bad"
std::string reportCountsLine(std::int32_t tested, std::int32_t bad);

// Writes the report of the run that `state` describes. Each file step that fails is skipped and
// the next one is carried out, so a log that cannot be opened does not cost the report, and the
// other way round. The text viewer opens errors.txt only when this run wrote it.
void writeEndOfRunReport(const RunState& state, const std::string& abortField, const std::string& sourceField,
                         const ReportServices& services);

} // namespace vellum
