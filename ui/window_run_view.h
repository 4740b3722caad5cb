#pragma once

// The main window's view of a test run: the folder, archive, status and counts captions, the
// progress bar, the busy pointer and the animated icon while the run lasts, the percentage in the
// title of a minimised window, and at the end the error sound, the report in the text viewer, and
// a message box for folders that could not be read or reports that could not be written.
// It also lets the window's events through whenever the run breathes, so that Cancel, Escape and
// Exit are heard during a run.

#include "run_display.h"
#include "run_observer.h"

#include <string>
#include <vector>

namespace vellum {

class RunCore;

namespace platform {
class SoundPlayer;
class DesktopServices;
} // namespace platform

struct WindowRunServices {
    platform::SoundPlayer& sound;
    platform::DesktopServices& desktop;
    std::string errorSound; // full path of error.wav
    // A display someone can see: only then is the text viewer started on the report.
    bool viewerAllowed = true;
};

class WindowRunView final : public RunObserver {
public:
    // Observes `run` and becomes its breather; both outlive nothing of each other's runs.
    WindowRunView(RunCore& run, RunDisplay& display, WindowRunServices services);

    // Cancel, or a stop signal: the run stops and its record says "Aborted!". Also when no run is
    // under way.
    void cancel(RunStop cause = RunStop::User);
    // Escape, Exit and closing the window: the walk stops; the record says "Aborted!" as after
    // Cancel.
    void stopWalk();

    void runStarted() override;
    void folderEntered(const std::string& folder) override;
    void unreachable(const Unreachable& what) override;
    void archiveStarted(const std::string& path) override;
    void archiveJudged(const ArchiveOutcome& outcome) override;
    void archiveProgress(std::int16_t completion) override;
    void archiveDone(const ArchiveStep& step) override;
    void runEnded(const RunSummary& summary) override;

private:
    RunCore& m_run;
    RunDisplay& m_display;
    WindowRunServices m_services;
    std::string m_archiveShown; // the archive under test, as its caption shows it
    // The folders of this run that could not be read: how many, and the first few by name.
    int m_unreadableFolders = 0;
    std::vector<std::string> m_unreadableFirst;
    // The first few archives of this run that went bad although nothing rewrote them.
    std::vector<std::string> m_wentBad;
};

} // namespace vellum
