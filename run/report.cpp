#include "report.h"

#include "launcher.h"
#include "sound.h"
#include "system_services.h"
#include "text_file.h"

#include <array>

namespace vellum {

namespace {

std::string headerLineNow(const std::string& abortField, const std::string& sourceField) {
    const std::time_t seconds = std::time(nullptr);
    std::tm now{};
    localtime_r(&seconds, &now);
    return reportHeaderLine(now, abortField, sourceField);
}

void writeLogOnlyRecord(const RunState& state, const std::string& abortField, const std::string& sourceField,
                        const std::string& logPath) {
    platform::TextFile log;
    if (!log.open(logPath, platform::TextFile::Mode::Append))
        return;
    log.writeLine(headerLineNow(abortField, sourceField));
    log.writeLine(reportCountsLine(state.TestedCount - 1, state.BadCount));
    log.writeLine(state.StartFolder);
    log.writeLine("");
    log.close();
}

void writeFullReport(const RunState& state, const std::string& abortField, const std::string& sourceField,
                     const ReportServices& services) {
    const std::string reportPath = services.applicationFolder + "/errors.txt";
    const std::string logPath = services.applicationFolder + "/errors.log";

    services.sound.play(services.applicationFolder + "/error.wav", platform::SoundMode::Asynchronous);

    platform::TextFile report;
    platform::TextFile log;
    const bool reportWritten = report.open(reportPath, platform::TextFile::Mode::Output);
    log.open(logPath, platform::TextFile::Mode::Append);

    // A file that failed to open refuses every write, which skips its steps.
    report.writeLine(headerLineNow(abortField, sourceField));
    log.writeLine(headerLineNow(abortField, sourceField));
    log.writeLine(reportCountsLine(state.TestedCount - 1, state.BadCount));
    log.writeLine(state.StartFolder);
    for (std::int32_t index = 0; index < state.BadCount; ++index) {
        report.writeLine(state.BadArchives[static_cast<std::size_t>(index)]);
        log.writeLine(state.BadArchives[static_cast<std::size_t>(index)]);
    }
    report.close();
    log.writeLine("");
    log.close();

    if (reportWritten && platform::normalFileExists(reportPath))
        services.launcher.start("notepad.exe " + reportPath, platform::WindowStyle::ShowNormal);
}

} // namespace

std::string reportHeaderLine(const std::tm& now, const std::string& abortField,
                             const std::string& sourceField) {
    std::array<char, 32> stamp{};
    std::strftime(stamp.data(), stamp.size(), "%m-%d-%Y %H:%M:%S", &now);
    return std::string(stamp.data()) + " " + abortField + " " + sourceField;
}

std::string reportCountsLine(std::int32_t tested, std::int32_t bad) {
    return platform::numberText(tested) + " tested -" + platform::numberText(bad) + " bad";
}

void writeEndOfRunReport(const RunState& state, const std::string& abortField, const std::string& sourceField,
                         const ReportServices& services) {
    if (state.BadCount >= 1)
        writeFullReport(state, abortField, sourceField, services);
    else
        writeLogOnlyRecord(state, abortField, sourceField, services.applicationFolder + "/errors.log");
}

} // namespace vellum
