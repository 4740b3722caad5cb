#include "report.h"

#include "escaped_text.h"
#include "launcher.h"
#include "number_text.h"
#include "sound.h"

#include <array>

namespace vellum {

namespace {

constexpr const char* lineEnd = "\r\n";

std::string headerLineNow(const std::string& abortField, const std::string& sourceField) {
    const std::time_t seconds = std::time(nullptr);
    std::tm now{};
    localtime_r(&seconds, &now);
    return reportHeaderLine(now, abortField, sourceField);
}

std::string pathIn(const std::string& folder, const char* name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

void appendBadArchives(std::string& text, const RunState& state) {
    for (std::int32_t index = 0; index < state.BadCount; ++index)
        text += platform::escapedText(state.BadArchives[static_cast<std::size_t>(index)]) + lineEnd;
}

std::string reportText(const RunState& state, const std::string& abortField, const std::string& sourceField) {
    std::string text = headerLineNow(abortField, sourceField) + lineEnd;
    appendBadArchives(text, state);
    return text;
}

std::string logRecord(const RunState& state, const std::string& abortField, const std::string& sourceField) {
    std::string text = headerLineNow(abortField, sourceField) + lineEnd;
    text += reportCountsLine(state.TestedCount - 1, state.BadCount) + lineEnd;
    text += platform::escapedText(state.StartFolderPath) + lineEnd;
    appendBadArchives(text, state);
    text += lineEnd;
    return text;
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

ReportOutcome writeEndOfRunReport(const RunState& state, const std::string& abortField,
                                  const std::string& sourceField, const ReportServices& services) {
    const bool foundBadArchives = state.BadCount >= 1;
    // The sound tells of bad archives even when no report can be written about them.
    if (foundBadArchives)
        services.sound.play(services.errorSound, platform::SoundMode::Asynchronous);

    platform::ReportFolder folder =
        platform::chooseReportFolder(services.applicationFolder, services.explicitReportFolder, true);
    ReportOutcome outcome{std::move(folder.path), {}};
    if (folder.failure) {
        outcome.failures.push_back(std::move(*folder.failure));
        return outcome;
    }

    bool reportReplaced = false;
    const std::string reportPath = pathIn(outcome.folder, "errors.txt");
    if (foundBadArchives) {
        auto failure = platform::replaceFile(reportPath, reportText(state, abortField, sourceField));
        reportReplaced = !failure;
        if (failure)
            outcome.failures.push_back(std::move(*failure));
    }
    auto failure = platform::appendRecord(pathIn(outcome.folder, "errors.log"),
                                          logRecord(state, abortField, sourceField));
    if (failure)
        outcome.failures.push_back(std::move(*failure));

    if (reportReplaced && services.viewerAllowed)
        services.launcher.start("notepad.exe " + reportPath, platform::WindowStyle::ShowNormal);
    return outcome;
}

std::string reportFolderForReading(const std::string& applicationFolder,
                                   const std::string& explicitReportFolder) {
    return platform::chooseReportFolder(applicationFolder, explicitReportFolder, false).path;
}

} // namespace vellum
