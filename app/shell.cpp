#include "shell.h"

#include "command_line.h"
#include "data_files.h"
#include "form1.h"
#include "form2.h"
#include "identity.h"
#include "launcher.h"
#include "lower_case.h"
#include "message_box.h"
#include "normal_file.h"
#include "panel3d.h"
#include "program_folder.h"
#include "single_instance.h"
#include "sound.h"
#include "wave_sound.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <thread>

namespace vellum {

Shell::Shell(Form1& form, RunState& state, ShellServices services)
    : m_form(form), m_state(state), m_services(std::move(services)),
      m_run(state, form,
            RunServices{m_services.applicationFolder, m_services.commandLine, m_services.sound,
                        m_services.launcher, m_services.explicitReportFolder, m_services.realDisplay}) {
    connectHandlers();
}

Shell::~Shell() {
    delete m_about;
}

void Shell::connectHandlers() {
    connect(m_form.Command1, &QPushButton::clicked, this, [this] { startRunUnlessRunning(); });
    connect(m_form.browse, &QAction::triggered, this, [this] { startRunUnlessRunning(); });
    connect(m_form.Command2, &QPushButton::clicked, this, [this] { m_run.Command2_Click(); });
    connect(m_form.exit, &QAction::triggered, this, [this] { exit_Click(); });
    connect(m_form.log, &QAction::triggered, this, [this] { log_Click(); });
    connect(m_form.contents, &QAction::triggered, this, [this] { contents_Click(); });
    connect(m_form.email, &QAction::triggered, this, [this] { email_Click(); });
    connect(m_form.web, &QAction::triggered, this, [this] { web_Click(); });
    connect(m_form.about, &QAction::triggered, this, [this] { about_Click(); });
    connect(m_form.Panel2, &Panel3D::clicked, this, [this] { Panel2_Click(); });
    connect(&m_form, &Form1::keyDown, this, [this](int keyCode, int shift) { Form_KeyDown(keyCode, shift); });
    connect(&m_form, &Form1::resized, this, [this] { Form_Resize(); });
    connect(&m_form, &Form1::closing, this, [this](QCloseEvent* event) { Form_Unload(event); });
    connect(&m_services.singleInstance, &platform::SingleInstance::keysReceived, this,
            [this](const QString& keys) { restoreOnRequest(keys); });
}

Shell::StartOutcome Shell::Form_Load() {
    m_form.show();
    m_form.repaint();

    if (platform::isInRootDirectory(m_services.applicationFolder)) {
        platform::showStopMessage("Vellum can not be run from\r\na root directory, please reinstall.",
                                  "Vellum error");
        m_form.close();
        return StartOutcome::RefusedRootDirectory;
    }

    // A start with a folder always runs its walk: a scheduled run must never end having tested
    // nothing because a window happened to be open. Only window starts hand over.
    if (!m_services.commandLine.empty()) {
        m_state.StartFolderPath = absolutePath(m_services.commandLine);
        m_state.StartFolder = platform::lowerCase(m_state.StartFolderPath);
        m_run.Command1_Click();
        m_form.close();
        return StartOutcome::RanUnattended;
    }

    if (m_services.singleInstance.anotherIsRunning()) {
        const char* duplicateTitle = "... duplicate instance.";
        QCoreApplication::setApplicationName(duplicateTitle);
        m_form.setCaption(duplicateTitle);
        m_services.singleInstance.sendKeys("% R");
        m_form.close();
        return StartOutcome::HandedOver;
    }

    m_form.focusOption1();
    return StartOutcome::WaitingForUser;
}

void Shell::startRunUnlessRunning() {
    if (!m_run.isRunning())
        m_run.browse_Click();
}

void Shell::Form_Resize() {
    if (m_form.windowState() == Qt::WindowNoState)
        m_form.setCaption(identity::programTitle);
}

void Shell::Form_Unload(QCloseEvent* event) {
    // The system's close command during a run acts as Exit: the walk stops, the run still writes
    // its report, and the window, only hidden meanwhile, is gone once the run has returned.
    if (m_run.isRunning() && !m_state.ExitWhenDone) {
        stopWalk();
        m_state.ExitWhenDone = true;
    }
    event->accept();
}

void Shell::Form_KeyDown(int keyCode, int) {
    if (keyCode != Form1::escapeKeyCode || !m_run.RunActive)
        return;
    stopWalk();
    m_form.setPanel1Caption("");
    m_form.setLabel2Caption("");
}

void Shell::exit_Click() {
    stopWalk();
    m_state.ExitWhenDone = true;
    m_form.closeWindow();
}

void Shell::stopWalk() {
    m_run.RunActive = false;
    m_form.ZipTester1().requestAbort();
    m_form.setLabel1Caption("Aborted");
    m_form.progressBar().setPosition(0);
}

void Shell::log_Click() {
    const std::string logPath =
        reportFolderForReading(m_services.applicationFolder, m_services.explicitReportFolder) + "/errors.log";
    if (platform::normalFileExists(logPath))
        m_services.launcher.start("notepad.exe " + logPath, platform::WindowStyle::ShowNormal);
}

void Shell::contents_Click() {
    m_services.launcher.start("winhelp.exe " +
                                  platform::dataFilePath(m_services.applicationFolder, "Vellum.hlp"),
                              platform::WindowStyle::ShowNoActivate);
}

void Shell::email_Click() {
    m_services.launcher.start(std::string("webdial.exe >mailto:") + identity::authorEmail,
                              platform::WindowStyle::ShowNormal);
}

void Shell::web_Click() {
    m_services.launcher.start(std::string("webdial.exe $") + identity::homePageUrl,
                              platform::WindowStyle::ShowNormal);
}

std::string Shell::thunderSound() const {
    return platform::dataFilePath(m_services.applicationFolder, "thunder.wav");
}

Form2* Shell::aboutWindow() const {
    return m_about;
}

Form2& Shell::loadAboutWindow() {
    // A closed About window deletes itself once the event loop comes round; until then it is only
    // hidden, and the next showing must not bring it back.
    if (!m_about || !m_about->isVisible())
        m_about = new Form2(&m_form);
    return *m_about;
}

void Shell::about_Click() {
    Form2& about = loadAboutWindow();
    m_services.sound.play(thunderSound(), platform::SoundMode::Asynchronous);
    about.show();
}

void Shell::Panel2_Click() {
    // The window shows for as long as the thunder lasts, also when it cannot be heard: without a
    // sound device the synchronous sound returns at once. Meanwhile no event is handled.
    Form2& about = loadAboutWindow();
    about.showDrawn();
    const std::string thunder = thunderSound();
    // No event is handled while the window shows, so a damaged sound file's header must not be
    // able to freeze the program: the thunder shipped lasts under three seconds.
    constexpr std::chrono::milliseconds longestShowing{10000};
    const auto thunderEnds =
        std::chrono::steady_clock::now() + std::min(platform::waveDuration(thunder), longestShowing);
    m_services.sound.play(thunder, platform::SoundMode::Synchronous);
    // A thunder that was heard has taken its length already; only what is left of it is waited for.
    std::this_thread::sleep_until(thunderEnds);
    about.close();
}

void Shell::restoreOnRequest(const QString& keys) {
    // Alt+Space opens the window menu and R picks Restore: the window comes back at its normal size.
    if (keys != "% R")
        return;
    m_form.showNormal();
    m_form.raise();
    m_form.activateWindow();
}

} // namespace vellum
