#include "window_run_view.h"

#include "desktop_services.h"
#include "escaped_text.h"
#include "fault_text.h"
#include "lower_case.h"
#include "message_box.h"
#include "number_text.h"
#include "run_core.h"
#include "sound.h"

namespace vellum {

WindowRunView::WindowRunView(RunCore& run, RunDisplay& display, WindowRunServices services)
    : m_run(run), m_display(display), m_services(std::move(services)) {
    m_run.addObserver(*this);
    m_run.setBreather([this] { m_display.letEventsThrough(); });
}

void WindowRunView::cancel(RunStop cause) {
    m_run.cancel(cause);
    m_display.letEventsThrough();
    m_display.setArchiveCaption("Aborted");
    m_display.progressBar().setPosition(0);
    m_display.parkFocus();
}

void WindowRunView::stopWalk() {
    m_run.stopWalk();
    m_display.setArchiveCaption("Aborted");
    m_display.progressBar().setPosition(0);
}

void WindowRunView::runStarted() {
    m_unreadableFolders = 0;
    m_unreadableFirst.clear();
    m_wentBad.clear();
    m_display.setBusyPointer(true);
    m_display.setAnimationEnabled(true);
}

void WindowRunView::folderEntered(const std::string& folder) {
    m_display.setFolderCaption(platform::lowerCase(folder));
    if (m_display.isMinimized())
        m_display.setTitle("Searching...");
}

void WindowRunView::unreachable(const Unreachable& what) {
    constexpr std::size_t FoldersNamed = 5;
    if (what.kind != Unreachable::Kind::Folder)
        return;
    ++m_unreadableFolders;
    if (m_unreadableFirst.size() < FoldersNamed)
        m_unreadableFirst.push_back(platform::escapedText(what.path) + ": " + what.reason);
}

void WindowRunView::archiveJudged(const ArchiveOutcome& outcome) {
    constexpr std::size_t ArchivesNamed = 10;
    if (outcome.change == VerdictChange::NewlyBad && m_wentBad.size() < ArchivesNamed)
        m_wentBad.push_back(platform::escapedText(outcome.path) + " (" + verdictChangeText(outcome) + ")");
}

void WindowRunView::archiveStarted(const std::string& path) {
    m_archiveShown = platform::lowerCase(path.substr(path.rfind('/') + 1));
    m_display.setArchiveCaption(m_archiveShown);
    m_display.setStatusCaption("Testing ...");
}

void WindowRunView::archiveProgress(std::int16_t completion) {
    ProgressBar& progressBar = m_display.progressBar();
    if (progressBar.position() != completion)
        progressBar.setPosition(completion);
    if (m_display.isMinimized())
        m_display.setTitle(platform::numberText(completion) + "%  " + m_archiveShown);
}

void WindowRunView::archiveDone(const ArchiveStep& step) {
    if (step.aborted) {
        m_display.setArchiveCaption("Aborted");
        m_display.setFolderCaption("");
        m_display.progressBar().setPosition(0);
        m_display.setStatusCaption("");
    } else {
        m_display.progressBar().setPosition(0);
        // Cancel wrote "Aborted" there while this archive was under test; it stays.
        if (!step.stopRequested)
            m_display.setArchiveCaption("");
    }
    m_display.setCountsCaption(platform::numberText(step.tested) + "  tested    -   " +
                               platform::numberText(step.bad) + "  bad");
}

void WindowRunView::runEnded(const RunSummary& summary) {
    if (m_display.isMinimized())
        m_display.showNormalAndRepaint();
    m_display.setAnimationEnabled(false);
    m_display.setBusyPointer(false);
    m_display.setFolderCaption("");
    if (!summary.record.cancelled)
        m_display.setArchiveCaption("");
    m_display.setStatusCaption("Done.");
    m_display.setTitle("Vellum");

    // The sound tells of bad archives even when no report could be written about them.
    if (!summary.record.badArchives.empty())
        m_services.sound.play(m_services.errorSound, platform::SoundMode::Asynchronous);
    if (!summary.report.replacedReport.empty() && m_services.viewerAllowed)
        m_services.desktop.openTextFile(summary.report.replacedReport);
    // Standard error names each of these too; a window start has nobody reading it.
    if (!m_wentBad.empty() && !summary.record.startedFromCommandLine) {
        std::string message = "These archives went bad although nothing rewrote them since their last test:";
        for (const std::string& archive : m_wentBad)
            message += "\r\n" + archive;
        if (summary.newlyBad > static_cast<int>(m_wentBad.size()))
            message += "\r\n...";
        platform::showStopMessage(message, "Vellum");
    }
    if (m_unreadableFolders > 0 && !summary.record.startedFromCommandLine) {
        const bool one = m_unreadableFolders == 1;
        std::string message = "Vellum could not read " + std::to_string(m_unreadableFolders) +
                              (one ? " folder" : " folders") + " and did not test the archives in " +
                              (one ? "it:" : "them:");
        for (const std::string& folder : m_unreadableFirst)
            message += "\r\n" + folder;
        if (m_unreadableFolders > static_cast<int>(m_unreadableFirst.size()))
            message += "\r\n...";
        platform::showStopMessage(message, "Vellum");
    }
    if (!summary.report.failures.empty() && !summary.record.startedFromCommandLine) {
        std::string message = "Vellum could not write its report.";
        for (const platform::WriteFailure& failure : summary.report.failures)
            message += "\r\n" + reportFailureText(failure);
        platform::showStopMessage(message, "Vellum error");
    }
    if (!summary.ledgerFailure.empty() && !summary.record.startedFromCommandLine)
        platform::showStopMessage("Vellum " + platform::escapedText(summary.ledgerFailure), "Vellum error");
}

} // namespace vellum
