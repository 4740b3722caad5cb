#pragma once

// The main window's life: start-up, the runs it starts (Browse, or the folder it was started
// with), Cancel, Escape, Exit and closing, the menu commands and the About window. The run itself
// is a RunCore; the window shows it through a WindowRunView.

#include "run_core.h"
#include "window_run_view.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

class QCloseEvent;

namespace vellum {

class MainWindow;
class AboutWindow;

namespace platform {
class SingleInstance;
}

struct WindowSessionServices {
    std::string applicationFolder;
    platform::SoundPlayer& sound;
    platform::DesktopServices& desktop;
    platform::SingleInstance& singleInstance;
    std::string explicitReportFolder; // --report-dir
    bool realDisplay = true;          // a display someone can see, not the offscreen platform
};

class WindowSession final : public QObject {
public:
    enum class StartOutcome { RefusedRootDirectory, HandedOver, RanUnattended, WaitingForUser };

    // The window shows `run`, which outlives the session. With unattended inputs, start() tests them
    // in the window and closes it; without, the window waits for the user.
    WindowSession(MainWindow& window, RunCore& run, WindowSessionServices services,
                  std::optional<RunInputs> unattendedInputs = std::nullopt);
    ~WindowSession() override;

    // Start-up: show the window, refuse the root directory, run the unattended inputs and close; a
    // window start hands over to a running window copy, or waits for the user.
    StartOutcome start();

    // Browse: the picker, then a run over the chosen folder. Ignored while a run is under way, so
    // that no run is nested inside another.
    void startRun();
    // A stop signal: the run under way stops as Cancel stops it, and the window closes after it.
    void stopOnSignal();

    void restoreTitleWhenNormal();
    void closeRequested(QCloseEvent* event);
    void keyPressed(int keyCode, int shift);
    void exitProgram();
    void openLog();
    void openManual();
    void sendEmail();
    void openWebPage();
    void showAbout();
    // A click on the initials: the About window shows for as long as the thunder lasts.
    void showAboutWhileThundering();

    // The About window while it is open, else null.
    AboutWindow* aboutWindow() const;
    RunCore& run() { return m_run; }
    // The summary of the last run, once one has ended.
    const std::optional<RunSummary>& lastSummary() const { return m_lastSummary; }
    // Exit was chosen, or the window closed, while a run was under way: it closes when the run ends.
    bool exitRequested() const { return m_exitRequested; }

private:
    void connectHandlers();
    void runAndShow(const RunInputs& inputs);
    // A later window start asked for this window: it comes back at its normal size, in front.
    void restore();
    AboutWindow& loadAboutWindow();
    std::string thunderSound() const;

    MainWindow& m_window;
    WindowSessionServices m_services;
    std::optional<RunInputs> m_unattendedInputs;
    RunCore& m_run;
    WindowRunView m_view;
    std::optional<RunSummary> m_lastSummary;
    bool m_exitRequested = false;
    QPointer<AboutWindow> m_about;
};

} // namespace vellum
