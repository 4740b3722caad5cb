#include "results_file.h"

#include "result_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace vellum {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The archive line's path, exact: a name that is not UTF-8 is only whole in path_b64.
std::optional<std::string> exactPath(const Json& object) {
    const auto b64 = object.find("path_b64");
    if (b64 != object.end() && b64->is_string())
        return decodedBase64(b64->get<std::string>());
    const auto path = object.find("path");
    if (path == object.end() || !path->is_string())
        return std::nullopt;
    return path->get<std::string>();
}

} // namespace

bool isJudged(std::string_view verdict) {
    return verdict == "good" || verdict == "bad" || verdict == "unverified";
}

ResultsFileEnd readResultsFile(const std::string& path, const std::function<void(const ResultLine&)>& onLine,
                               const std::function<bool()>& interrupted) {
    ResultsFileEnd end;
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rbe"));
    if (!file) {
        end.failure = std::strerror(errno);
        return end;
    }
    char* buffer = nullptr;
    std::size_t capacity = 0;
    ssize_t length = 0;
    errno = 0;
    while ((length = ::getline(&buffer, &capacity, file.get())) > 0) {
        if (interrupted && interrupted()) {
            end.interrupted = true;
            break;
        }
        ++end.lines;
        const std::string_view text(buffer, static_cast<std::size_t>(length));
        Json object = Json::parse(text, nullptr, false);
        // A line after the summary belongs to no run that ended: the file was written to twice.
        if (object.is_discarded() || !object.is_object() || end.hasSummary) {
            ++end.malformedLines;
            continue;
        }
        if (const auto summary = object.find("summary"); summary != object.end() && summary->is_object()) {
            end.hasSummary = true;
            end.complete = summary->value("complete", false);
            end.stopped = summary->value("stopped", "");
            continue;
        }
        const std::optional<std::string> archive = exactPath(object);
        const auto verdict = object.find("verdict");
        if (!archive || verdict == object.end() || !verdict->is_string()) {
            ++end.malformedLines;
            continue;
        }
        std::string word = verdict->get<std::string>();
        // --strict prints an unverified archive as bad, and says so beside it.
        if (word == "bad" && object.value("unverified", false))
            word = "unverified";
        onLine(ResultLine{*archive, std::move(word), object});
    }
    if (std::ferror(file.get()))
        end.failure = std::strerror(errno != 0 ? errno : EIO);
    std::free(buffer);
    return end;
}

std::string resultsFileFault(const ResultsFileEnd& end) {
    if (!end.failure.empty())
        return "cannot be read: " + end.failure;
    // A job slot that never ran leaves its output file empty (GNU parallel does): nothing was lost
    // there, but nothing says the run it was meant for happened either.
    if (end.lines == 0)
        return "is empty: no run wrote to it";
    std::string fault;
    if (!end.hasSummary)
        fault = "has no summary: the run that wrote it did not end";
    else if (!end.complete)
        fault = "is of an incomplete run" +
                (end.stopped.empty() ? std::string() : " (stopped: " + end.stopped + ")");
    if (end.malformedLines != 0)
        fault += (fault.empty() ? "" : "; ") + std::to_string(end.malformedLines) +
                 (end.malformedLines == 1 ? " line is not a result" : " lines are not results");
    return fault;
}

std::optional<std::int64_t> secondsOfIsoUtcTime(const std::string& text) {
    std::tm utc{};
    const char* end = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    if (end == nullptr || *end != '\0')
        return std::nullopt;
    return static_cast<std::int64_t>(::timegm(&utc));
}

} // namespace vellum
