#include "progress_line.h"

#include "amount_text.h"
#include "base/path_open.h"
#include "escaped_text.h"
#include "result_output.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace vellum {

namespace {

constexpr std::chrono::milliseconds RedrawInterval{100};
// An archive is worth watching on its own once it is this large, or once its test takes this long.
constexpr std::uint64_t LargeArchive = std::uint64_t{64} << 20;
constexpr std::chrono::seconds SlowArchive{1};
// An estimate further off than this says nothing a reader can use.
constexpr double LongestEstimate = 100.0 * 3600.0;
// Carriage return, then erase to the end of the line.
constexpr const char* ClearLine = "\r\x1b[K";

std::uint64_t fileSize(const std::string& path) {
    struct stat status {};
    return statusOfPathOfAnyLength(path, status) ? static_cast<std::uint64_t>(status.st_size) : 0;
}

} // namespace

ProgressLine::ProgressLine(std::FILE* terminal, bool sharesTerminalWithResults, bool strict, Clock clock)
    : m_terminal(terminal), m_sharesTerminal(sharesTerminalWithResults), m_strict(strict),
      m_clock(clock ? std::move(clock) : Clock(&std::chrono::steady_clock::now)) {}

void ProgressLine::runStarted() {
    m_start = m_clock();
    // The first archive is shown at once, so that a long first archive is not a silent wait.
    m_lastDrawn = m_start - RedrawInterval;
}

void ProgressLine::archiveStarted(const std::string& path) {
    m_currentName = path.substr(path.rfind('/') + 1);
    m_currentSize = fileSize(path);
    m_currentCompletion = 0;
    m_archiveUnderTest = true;
    m_archiveStart = m_clock();
    m_firstStep.reset();
    m_latestStep.reset();
    drawWhenDue();
}

void ProgressLine::archiveProgress(std::int16_t completion) {
    completion = std::clamp<std::int16_t>(completion, 0, 100);
    // The verify starts again from nothing after the probe, and an archive tested ahead may be done
    // at once: the pace is measured over the operation under way alone.
    if (!m_firstStep || completion < m_currentCompletion) {
        m_firstStep = CompletionStep{m_clock(), completion};
        m_latestStep = m_firstStep;
    } else if (completion > m_currentCompletion) {
        m_latestStep = CompletionStep{m_clock(), completion};
    }
    m_currentCompletion = completion;
    drawWhenDue();
}

void ProgressLine::archiveJudged(const ArchiveOutcome& outcome) {
    m_archiveUnderTest = false;
    ++m_tested;
    if (printedVerdict(outcome.verdict, m_strict) == FullVerdict::Bad)
        ++m_bad;
    m_bytesDone += m_currentSize;
    m_currentSize = 0;
    m_currentCompletion = 0;
    // The archive's result follows on the same terminal: the line is drawn again with the next
    // archive, below the result.
    if (m_sharesTerminal) {
        clear();
        return;
    }
    drawWhenDue();
}

void ProgressLine::runEnded(const RunSummary&) {
    clear();
}

void ProgressLine::unreachable(const Unreachable&) {
    clear();
}

void ProgressLine::linkNotFollowed(const std::string&) {
    clear();
}

void ProgressLine::memoryShortfall(const MemoryShortfall&) {
    clear();
}

void ProgressLine::clear() {
    if (!m_shown)
        return;
    std::fputs(ClearLine, m_terminal);
    std::fflush(m_terminal);
    m_shown = false;
}

std::size_t ProgressLine::terminalWidth() const {
    winsize size{};
    if (::ioctl(::fileno(m_terminal), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::string ProgressLine::archiveCompletionText(std::chrono::steady_clock::time_point now) const {
    if (!m_archiveUnderTest || (m_currentSize < LargeArchive && now - m_archiveStart < SlowArchive))
        return {};
    std::string text = std::to_string(m_currentCompletion) + "%, ";
    if (!m_firstStep || m_latestStep->completion == m_firstStep->completion || m_currentCompletion == 100)
        return text;
    // The pace so far holds for what is left; the time since the latest rise is already spent of it.
    const double spent = std::chrono::duration<double>(m_latestStep->time - m_firstStep->time).count();
    const double risen = m_latestStep->completion - m_firstStep->completion;
    const double left = spent / risen * (100 - m_latestStep->completion) -
                        std::chrono::duration<double>(now - m_latestStep->time).count();
    if (left > LongestEstimate)
        return text;
    return text + clockTimeText(left) + " left, ";
}

void ProgressLine::drawWhenDue() {
    const auto now = m_clock();
    if (now - m_lastDrawn < RedrawInterval)
        return;
    m_lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double bytes =
        static_cast<double>(m_bytesDone) + static_cast<double>(m_currentSize) * m_currentCompletion / 100.0;
    std::array<char, 32> speed{};
    std::snprintf(speed.data(), speed.size(), "%.1f MB/s", seconds > 0 ? bytes / seconds / 1e6 : 0.0);
    // The name comes last: it is what a narrow terminal cuts.
    std::string line = std::to_string(m_tested) + " tested, " + std::to_string(m_bad) + " bad, " +
                       speed.data() + ", " + archiveCompletionText(now) +
                       platform::escapedText(m_currentName);
    // A line longer than the terminal would wrap, and the carriage return could no longer reach
    // its start; one column stays free for the cursor.
    const std::size_t width = terminalWidth();
    if (line.size() >= width) {
        line.resize(width - 1);
        // Not half a character: drop the trailing bytes of a cut UTF-8 sequence and its lead byte.
        while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80)
            line.pop_back();
        if (!line.empty() && static_cast<unsigned char>(line.back()) >= 0xC0)
            line.pop_back();
    }
    std::fputs(ClearLine, m_terminal);
    std::fputs(line.c_str(), m_terminal);
    std::fflush(m_terminal);
    m_shown = true;
}

} // namespace vellum
