#include "window_session.h"

#include "about_window.h"
#include "data_files.h"
#include "desktop_services.h"
#include "escaped_text.h"
#include "file_viewer.h"
#include "identity.h"
#include "main_window.h"
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

WindowSession::WindowSession(MainWindow& window, RunCore& run, WindowSessionServices services,
                             std::optional<RunInputs> unattendedInputs)
    : m_window(window), m_services(std::move(services)), m_unattendedInputs(std::move(unattendedInputs)),
      m_run(run), m_view(m_run, m_window,
                         WindowRunServices{m_services.sound, m_services.desktop,
                                           platform::dataFilePath(m_services.applicationFolder, "error.wav"),
                                           m_services.realDisplay}) {
    connectHandlers();
    // The report, the log and the manual are shown whether or not the desktop has a viewer for them.
    m_services.desktop.whenNotShown(
        [this](const std::string& file) { FileViewer::showFile(file, &m_window); });
}

WindowSession::~WindowSession() {
    m_services.desktop.whenNotShown({});
    delete m_about;
}

void WindowSession::connectHandlers() {
    connect(m_window.browseButton, &QPushButton::clicked, this, [this] { startRun(); });
    connect(m_window.browseAction, &QAction::triggered, this, [this] { startRun(); });
    connect(m_window.cancelButton, &QPushButton::clicked, this, [this] { m_view.cancel(); });
    connect(m_window.exitAction, &QAction::triggered, this, [this] { exitProgram(); });
    connect(m_window.openLogAction, &QAction::triggered, this, [this] { openLog(); });
    connect(m_window.contentsAction, &QAction::triggered, this, [this] { openManual(); });
    connect(m_window.sendEmailAction, &QAction::triggered, this, [this] { sendEmail(); });
    connect(m_window.webPageAction, &QAction::triggered, this, [this] { openWebPage(); });
    connect(m_window.aboutAction, &QAction::triggered, this, [this] { showAbout(); });
    connect(m_window.initialsPanel, &Panel3D::clicked, this, [this] { showAboutWhileThundering(); });
    connect(&m_window, &MainWindow::keyDown, this,
            [this](int keyCode, int shift) { keyPressed(keyCode, shift); });
    connect(&m_window, &MainWindow::resized, this, [this] { restoreTitleWhenNormal(); });
    connect(&m_window, &MainWindow::closing, this, [this](QCloseEvent* event) { closeRequested(event); });
    connect(&m_services.singleInstance, &platform::SingleInstance::restoreRequested, this,
            [this] { restore(); });
}

WindowSession::StartOutcome WindowSession::start() {
    m_window.show();
    m_window.repaint();

    if (platform::refusedInRootDirectory(m_services.applicationFolder)) {
        m_window.close();
        return StartOutcome::RefusedRootDirectory;
    }

    // A start with a folder always runs its walk: a scheduled run must never end having tested
    // nothing because a window happened to be open. Only window starts hand over.
    if (m_unattendedInputs) {
        runAndShow(*m_unattendedInputs);
        m_window.close();
        return StartOutcome::RanUnattended;
    }

    if (m_services.singleInstance.anotherIsRunning()) {
        const char* duplicateTitle = "... duplicate instance.";
        QCoreApplication::setApplicationName(duplicateTitle);
        m_window.setTitle(duplicateTitle);
        m_services.singleInstance.requestRestore();
        m_window.close();
        return StartOutcome::HandedOver;
    }

    m_window.parkFocus();
    return StartOutcome::WaitingForUser;
}

void WindowSession::startRun() {
    if (m_run.isRunning())
        return;
    FolderBrowser& picker = m_window.folderPicker();
    picker.onSelectionChanged = [&picker](const std::string& selection) {
        picker.setSelectionText(selection);
    };
    if (!picker.browse())
        return;
    runAndShow(RunInputs{{picker.chosenFolder()}, {}, false});
}

void WindowSession::runAndShow(const RunInputs& inputs) {
    m_lastSummary = m_run.run(inputs);
    if (m_exitRequested)
        m_window.close();
}

void WindowSession::stopOnSignal() {
    if (!m_run.isRunning())
        return;
    m_view.cancel(RunStop::Signal);
    m_exitRequested = true;
}

void WindowSession::restoreTitleWhenNormal() {
    if (m_window.windowState() == Qt::WindowNoState)
        m_window.setTitle(identity::programTitle);
}

void WindowSession::closeRequested(QCloseEvent* event) {
    // The system's close command during a run acts as Exit: the walk stops, the run still writes
    // its report, and the window, only hidden meanwhile, is gone once the run has returned.
    if (m_run.isRunning() && !m_exitRequested) {
        m_view.stopWalk();
        m_exitRequested = true;
    }
    event->accept();
}

void WindowSession::keyPressed(int keyCode, int) {
    if (keyCode != MainWindow::escapeKeyCode || !m_run.isWalking())
        return;
    m_view.stopWalk();
    m_window.setFolderCaption("");
    m_window.setStatusCaption("");
}

void WindowSession::exitProgram() {
    m_view.stopWalk();
    m_exitRequested = true;
    m_window.close();
}

void WindowSession::openLog() {
    const std::string logPath =
        reportFolderForReading(ReportPlace{m_services.applicationFolder, m_services.explicitReportFolder}) +
        "/errors.log";
    if (platform::normalFileExists(logPath))
        m_services.desktop.openTextFile(logPath);
    else
        platform::showNoteMessage("There is no log yet: the first run will write it to\r\n" +
                                      platform::escapedText(logPath),
                                  "Vellum");
}

void WindowSession::openManual() {
    m_services.desktop.openManual(platform::dataFilePath(m_services.applicationFolder, "Vellum.hlp"));
}

void WindowSession::sendEmail() {
    m_services.desktop.composeMail(identity::authorEmail);
}

void WindowSession::openWebPage() {
    m_services.desktop.openWebPage(identity::homePageUrl);
}

std::string WindowSession::thunderSound() const {
    return platform::dataFilePath(m_services.applicationFolder, "thunder.wav");
}

AboutWindow* WindowSession::aboutWindow() const {
    return m_about;
}

AboutWindow& WindowSession::loadAboutWindow() {
    // A closed About window deletes itself once the event loop comes round; until then it is only
    // hidden, and the next showing must not bring it back.
    if (!m_about || !m_about->isVisible())
        m_about = new AboutWindow(&m_window);
    return *m_about;
}

void WindowSession::showAbout() {
    AboutWindow& about = loadAboutWindow();
    m_services.sound.play(thunderSound(), platform::SoundMode::Asynchronous);
    about.show();
}

void WindowSession::showAboutWhileThundering() {
    // The window shows for as long as the thunder lasts, also when it cannot be heard: without a
    // sound device the synchronous sound returns at once. Meanwhile no event is handled.
    AboutWindow& about = loadAboutWindow();
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

void WindowSession::restore() {
    m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
}

} // namespace vellum
