#pragma once

// The main window's handlers outside a run: start-up, the window's lifecycle and keyboard, and the
// menu commands. The run's own handlers belong to RunDriver; this class connects both to the window.

#include "run_driver.h"
#include "run_state.h"

#include <QObject>
#include <QPointer>
#include <string>

class QCloseEvent;

namespace vellum {

class Form1;
class Form2;

namespace platform {
class SingleInstance;
}

struct ShellServices {
    std::string applicationFolder;
    // The folder to test unattended, as given; empty for a window start.
    std::string commandLine;
    platform::SoundPlayer& sound;
    platform::Launcher& launcher;
    platform::SingleInstance& singleInstance;
    std::string explicitReportFolder; // --report-dir
    bool realDisplay = true;          // a display someone can see, not the offscreen platform
};

class Shell final : public QObject {
public:
    enum class StartOutcome { RefusedRootDirectory, HandedOver, RanUnattended, WaitingForUser };

    Shell(Form1& form, RunState& state, ShellServices services);
    ~Shell() override;

    // Start-up: show the window, refuse the root directory, run the command-line folder unattended
    // and close; a window start hands over to a running window copy, or waits for the user.
    StartOutcome Form_Load();

    void Form_Resize();
    void Form_Unload(QCloseEvent* event);
    void Form_KeyDown(int keyCode, int shift);
    void exit_Click();
    void log_Click();
    void contents_Click();
    void email_Click();
    void web_Click();
    void about_Click();
    void Panel2_Click();

    // The About window while it is open, else null.
    Form2* aboutWindow() const;

    RunDriver& run() { return m_run; }

private:
    void connectHandlers();
    // Browse is ignored while a run is under way, so that no run is nested inside another.
    void startRunUnlessRunning();
    // What Escape and Exit share: the walk and the component's operation stop.
    void stopWalk();
    void restoreOnRequest(const QString& keys);
    Form2& loadAboutWindow();
    std::string thunderSound() const;

    Form1& m_form;
    RunState& m_state;
    ShellServices m_services;
    RunDriver m_run;
    QPointer<Form2> m_about;
};

} // namespace vellum
