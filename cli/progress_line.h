#pragma once

// The progress of an unattended run on a terminal: one line on standard error, rewritten in place
// at most ten times a second ("1234 tested, 5 bad, 87.3 MB/s, name.zip") and cleared when the run
// ends. Results printed on the same terminal clear it first, so that none is written over it.
// An archive large or slow enough to be waited for also shows how far its test has got and how
// long it has still to go: "1234 tested, 5 bad, 87.3 MB/s, 45%, 0:12 left, name.zip".

#include "run_observer.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace vellum {

class ProgressLine final : public RunObserver {
public:
    // terminal: the stream the line goes to (a terminal); sharesTerminalWithResults: results are
    // printed to the same terminal, so the line is cleared before each archive's result; strict:
    // an unverified archive counts as bad, as --strict prints it.
    // clock: the time now; a test's own clock stands in for the steady clock.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    ProgressLine(std::FILE* terminal, bool sharesTerminalWithResults, bool strict = false, Clock clock = {});

    void runStarted() override;
    void archiveStarted(const std::string& path) override;
    void archiveProgress(std::int16_t completion) override;
    void archiveJudged(const ArchiveOutcome& outcome) override;
    void runEnded(const RunSummary& summary) override;
    // What the notes tell on standard error starts on a cleared line; the progress is drawn again
    // below it.
    void unreachable(const Unreachable& what) override;
    void linkNotFollowed(const std::string& path) override;
    void memoryShortfall(const MemoryShortfall& what) override;

private:
    // When the completion of the archive under test was last seen to rise, and from what.
    struct CompletionStep {
        std::chrono::steady_clock::time_point time;
        std::int16_t completion;
    };

    void drawWhenDue();
    // "45%, 0:12 left, " for an archive worth watching, else nothing.
    std::string archiveCompletionText(std::chrono::steady_clock::time_point now) const;
    void clear();
    std::size_t terminalWidth() const;

    std::FILE* m_terminal;
    bool m_sharesTerminal;
    bool m_strict;
    Clock m_clock;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDrawn;
    std::int64_t m_tested = 0;
    std::int64_t m_bad = 0;
    std::uint64_t m_bytesDone = 0;
    std::uint64_t m_currentSize = 0;
    std::int16_t m_currentCompletion = 0;
    bool m_archiveUnderTest = false;
    std::chrono::steady_clock::time_point m_archiveStart;
    // The first completion seen of the operation under way, and the latest rise since.
    std::optional<CompletionStep> m_firstStep;
    std::optional<CompletionStep> m_latestStep;
    std::string m_currentName;
    bool m_shown = false;
};

} // namespace vellum
