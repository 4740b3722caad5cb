#include "progress_line.h"

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
// Carriage return, then erase to the end of the line.
constexpr const char* ClearLine = "\r\x1b[K";

std::uint64_t fileSize(const std::string& path) {
    struct stat status {};
    return statusOfPathOfAnyLength(path, status) ? static_cast<std::uint64_t>(status.st_size) : 0;
}

} // namespace

ProgressLine::ProgressLine(std::FILE* terminal, bool sharesTerminalWithResults, bool strict)
    : m_terminal(terminal), m_sharesTerminal(sharesTerminalWithResults), m_strict(strict) {}

void ProgressLine::runStarted() {
    m_start = std::chrono::steady_clock::now();
    // The first archive is shown at once, so that a long first archive is not a silent wait.
    m_lastDrawn = m_start - RedrawInterval;
}

void ProgressLine::archiveStarted(const std::string& path) {
    m_currentName = path.substr(path.rfind('/') + 1);
    m_currentSize = fileSize(path);
    m_currentCompletion = 0;
    drawWhenDue();
}

void ProgressLine::archiveProgress(std::int16_t completion) {
    m_currentCompletion = std::clamp<std::int16_t>(completion, 0, 100);
    drawWhenDue();
}

void ProgressLine::archiveJudged(const ArchiveOutcome& outcome) {
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

void ProgressLine::drawWhenDue() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDrawn < RedrawInterval)
        return;
    m_lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double bytes =
        static_cast<double>(m_bytesDone) + static_cast<double>(m_currentSize) * m_currentCompletion / 100.0;
    std::array<char, 32> speed{};
    std::snprintf(speed.data(), speed.size(), "%.1f MB/s", seconds > 0 ? bytes / seconds / 1e6 : 0.0);
    std::string line = std::to_string(m_tested) + " tested, " + std::to_string(m_bad) + " bad, " +
                       speed.data() + ", " + platform::escapedText(m_currentName);
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
