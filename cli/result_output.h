#pragma once

// The printed results of an unattended run, on standard output (or any stream a test gives):
//
//   ReasonLines  (-v) one line per bad or unverified archive: "path: bad: reason", and one per
//                archive gone before its test: "path: vanished".
//   JsonLines    (--json) one JSON object per archive as soon as it is judged or found gone, then
//                one summary object; the keys are listed in the README.
//   DueLines     (--list-due) the path of each archive that is due, as found, ended by a newline or
//                with -0 by a NUL byte, exactly as the file system names it, so that the lines
//                make a list for --files-from.
//
// With --strict (`strict`), an unverified archive is printed as bad, with the reason that left it
// unverified; its JSON object says so in "unverified".
//
// Each line goes to a ResultStream, which writes it at once and checks the write.

#include "result_stream.h"
#include "run_observer.h"

#include <chrono>
#include <optional>
#include <string>

namespace vellum {

class ReasonLines final : public RunObserver {
public:
    explicit ReasonLines(ResultStream& output, bool strict = false) : m_output(output), m_strict(strict) {}
    void archiveJudged(const ArchiveOutcome& outcome) override;
    void archiveVanished(const std::string& path) override;
    void archiveMissing(const std::string& path) override;

private:
    ResultStream& m_output;
    bool m_strict;
};

class JsonLines final : public RunObserver {
public:
    explicit JsonLines(ResultStream& output, bool strict = false) : m_output(output), m_strict(strict) {}
    void runStarted() override;
    void archiveJudged(const ArchiveOutcome& outcome) override;
    void archiveVanished(const std::string& path) override;
    void archiveMissing(const std::string& path) override;
    void unreachable(const Unreachable& what) override;
    void runEnded(const RunSummary& summary) override;

private:
    ResultStream& m_output;
    bool m_strict;
    std::chrono::steady_clock::time_point m_start;
    std::int64_t m_tested = 0;
    std::int64_t m_bad = 0;
    std::int64_t m_unverified = 0;
    std::uint64_t m_bytes = 0;
};

class DueLines final : public RunObserver {
public:
    DueLines(ResultStream& output, char separator) : m_output(output), m_separator(separator) {}
    void archiveDue(const std::string& path) override;
    // Names left out because they hold a line break, which would cut a newline-separated list.
    std::int64_t unlisted() const { return m_unlisted; }

private:
    ResultStream& m_output;
    char m_separator;
    std::int64_t m_unlisted = 0;
};

// The verdict printed for an archive: with --strict an unverified archive is bad.
FullVerdict printedVerdict(FullVerdict verdict, bool strict);
// The bytes as base64 (RFC 4648, with padding).
std::string base64(std::string_view bytes);
// The bytes that base64 text (RFC 4648, padded) stands for; nullopt when it is not such text.
std::optional<std::string> decodedBase64(std::string_view text);
// Whether the bytes are valid UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(std::string_view bytes);
// Seconds since the epoch as ISO 8601 in UTC: 2024-12-04T21:07:45Z.
std::string isoUtcTime(std::int64_t seconds);

} // namespace vellum
