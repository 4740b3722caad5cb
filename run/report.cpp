#include "report.h"

#include "escaped_text.h"
#include "number_text.h"

#include <array>

namespace vellum {

namespace {

constexpr const char* lineEnd = "\r\n";

std::string headerLineNow(const RunRecord& record) {
    const std::time_t seconds = std::time(nullptr);
    std::tm now{};
    localtime_r(&seconds, &now);
    return reportHeaderLine(now, record.cancelled ? "Aborted!" : "",
                            record.startedFromCommandLine ? "Command line" : "");
}

std::string pathIn(const std::string& folder, const char* name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

void appendBadArchives(std::string& text, const RunRecord& record) {
    for (const std::string& archive : record.badArchives)
        text += platform::escapedText(archive) + lineEnd;
}

std::string reportText(const RunRecord& record) {
    std::string text = headerLineNow(record) + lineEnd;
    appendBadArchives(text, record);
    return text;
}

std::string logRecord(const RunRecord& record) {
    std::string text = headerLineNow(record) + lineEnd;
    text += reportCountsLine(record.tested, static_cast<std::int32_t>(record.badArchives.size())) + lineEnd;
    text += platform::escapedText(record.inputsLine) + lineEnd;
    appendBadArchives(text, record);
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

ReportOutcome writeRunReport(const RunRecord& record, const ReportPlace& place) {
    platform::ReportFolder folder =
        platform::chooseReportFolder(place.applicationFolder, place.explicitReportFolder, true);
    ReportOutcome outcome{std::move(folder.path), {}, {}};
    if (folder.failure) {
        outcome.failures.push_back(std::move(*folder.failure));
        return outcome;
    }

    if (!record.badArchives.empty()) {
        const std::string reportPath = pathIn(outcome.folder, "errors.txt");
        if (auto failure = platform::replaceFile(reportPath, reportText(record)))
            outcome.failures.push_back(std::move(*failure));
        else
            outcome.replacedReport = reportPath;
    }
    if (auto failure = platform::appendRecord(pathIn(outcome.folder, "errors.log"), logRecord(record)))
        outcome.failures.push_back(std::move(*failure));
    return outcome;
}

std::string reportFailureText(const platform::WriteFailure& failure) {
    return "cannot write " + platform::escapedText(failure.path) + ": " + failure.reason;
}

std::string reportFolderForReading(const ReportPlace& place) {
    return platform::chooseReportFolder(place.applicationFolder, place.explicitReportFolder, false).path;
}

} // namespace vellum
