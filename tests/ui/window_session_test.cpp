// The main window as a user sees it and its life around a run: layout, Escape and Exit, the
// caption while minimised, the menu commands and the About window.

#include "about_window.h"
#include "animated_icon.h"
#include "condition_wait.h"
#include "desktop_services.h"
#include "file_viewer.h"
#include "hung_file_system.h"
#include "panel3d.h"
#include "progress_bar.h"
#include "standard_error_capture.h"
#include "window_fixture.h"
#include "zip_builder.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace vellum;
using namespace vellum::testing;

class WindowSessionTest : public QObject {
    Q_OBJECT
private slots:
    void controlsStandAtTheirRectangles_data();
    void controlsStandAtTheirRectangles();
    void freshWindowShowsOnlyCaptionsAndInitials();
    void escapeWhenIdleChangesNothing();
    void exitWhenIdleClosesWithoutReport();
    void exitDuringRunWritesReportThenCloses();
    void systemCloseDuringRunActsAsExit();
    void unreadableFoldersAreShownAtTheEnd();
    void minimisedRunShowsProgressAndRestoresCaption();
    void openLogOnlyWhenLogExists();
    void viewerShowsWhatTheDesktopCannot_data();
    void viewerShowsWhatTheDesktopCannot();
    void menuCommandsAskTheDesktop();
    void aboutTwiceGivesOneWindow();
    void panelClickPlaysSynchronouslyThenCloses();
    void aboutWindowClosesOnClicks();
    void secondCopyRestoresTheWindow();
    void folderPickerShowsPromptsAndSelection();
};

void WindowSessionTest::controlsStandAtTheirRectangles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rectangle");
    QTest::newRow("frame") << "frame" << QRect(8, 2, 294, 184);
    QTest::newRow("initialsPanel") << "initialsPanel" << QRect(241, 16, 54, 25);
    QTest::newRow("statusLabel") << "statusLabel" << QRect(25, 24, 55, 15);
    QTest::newRow("countsLabel") << "countsLabel" << QRect(75, 24, 164, 17);
    QTest::newRow("animatedIcon") << "animatedIcon" << QRect(27, 46, 32, 32);
    QTest::newRow("archiveLabel") << "archiveLabel" << QRect(72, 55, 175, 17);
    QTest::newRow("percentageBar") << "percentageBar" << QRect(56, 86, 199, 19);
    QTest::newRow("browseButton") << "browseButton" << QRect(71, 121, 58, 23);
    QTest::newRow("cancelButton") << "cancelButton" << QRect(182, 121, 58, 23);
    QTest::newRow("folderPanel") << "folderPanel" << QRect(22, 159, 263, 18);
    QTest::newRow("focusHolder") << "focusHolder" << QRect(75, 212, 57, 19);
}

void WindowSessionTest::controlsStandAtTheirRectangles() {
    QFETCH(QString, name);
    QFETCH(QRect, rectangle);
    Window window;
    QWidget* client = window.mainWindow.centralWidget();
    QCOMPARE(client->size(), QSize(310, 192));
    auto* control = client->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(QRect(control->mapTo(client, QPoint(0, 0)), control->size()), rectangle);
}

void WindowSessionTest::freshWindowShowsOnlyCaptionsAndInitials() {
    Window window;
    QCOMPARE(window.mainWindow.windowTitle(), QString("Vellum"));
    for (QLabel* label : {window.mainWindow.archiveLabel, window.mainWindow.statusLabel,
                          window.mainWindow.countsLabel, static_cast<QLabel*>(window.mainWindow.folderPanel)})
        QCOMPARE(label->text(), QString());
    QCOMPARE(window.mainWindow.browseButton->text(), QString("&Browse"));
    QCOMPARE(window.mainWindow.cancelButton->text(), QString("&Cancel"));
    QCOMPARE(window.mainWindow.initialsPanel->text().size(), 3);
    QCOMPARE(window.mainWindow.percentageBar->value(), 0);
    QCOMPARE(window.mainWindow.percentageBar->maximum(), 100);
    QStringList menus;
    for (QAction* menu : window.mainWindow.menuBar()->actions())
        menus << menu->text();
    QCOMPARE(menus, (QStringList{"&File", "&Help"}));
}

void WindowSessionTest::escapeWhenIdleChangesNothing() {
    Window window;
    window.mainWindow.archiveLabel->setText("kept");
    window.mainWindow.percentageBar->setPosition(30);
    QTest::keyClick(window.mainWindow.browseButton, Qt::Key_Escape);
    QCOMPARE(window.mainWindow.archiveLabel->text(), QString("kept"));
    QCOMPARE(window.mainWindow.percentageBar->position(), 30);
}

void WindowSessionTest::exitWhenIdleClosesWithoutReport() {
    Window window;
    window.mainWindow.exitAction->trigger();
    QVERIFY(!window.mainWindow.isVisible());
    QVERIFY(window.session.exitRequested());
    QVERIFY(!QFile::exists(window.logPath()));
}

void WindowSessionTest::exitDuringRunWritesReportThenCloses() {
    Window window;
    ScriptedZipTester& component = window.useScriptedComponent();
    QTemporaryDir tree;
    for (const char* name : {"/a.zip", "/b.zip"})
        writeFile((tree.path() + name).toStdString(), "x");
    component.scripts["a.zip"] = {101, 0};
    component.scripts["b.zip"] = {101, 0};
    window.picker->chosen = tree.path().toStdString();
    bool visibleWhenExitReturned = true;
    component.duringProbe = [&] {
        window.mainWindow.exitAction->trigger();
        visibleWhenExitReturned = window.mainWindow.isVisible();
    };

    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);

    QVERIFY(!visibleWhenExitReturned);
    QCOMPARE(component.tested.size(), std::size_t{1});
    QVERIFY(!window.mainWindow.isVisible());
    QFile log(window.logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readLine().contains(" Aborted! "));
    QCOMPARE(log.readLine(), QByteArray(" 1 tested - 1 bad\r\n"));
    QCOMPARE(window.desktop.requests.size(), std::size_t{1}); // the report opened in the viewer
}

void WindowSessionTest::systemCloseDuringRunActsAsExit() {
    Window window;
    ScriptedZipTester& component = window.useScriptedComponent();
    QTemporaryDir tree;
    for (const char* name : {"/a.zip", "/b.zip", "/c.zip"})
        writeFile((tree.path() + name).toStdString(), "x");
    window.picker->chosen = tree.path().toStdString();
    component.duringProbe = [&] { window.mainWindow.close(); };

    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);

    QCOMPARE(component.tested.size(), std::size_t{1});
    QVERIFY(component.abort);
    QVERIFY(window.session.exitRequested());
    QVERIFY(!window.mainWindow.isVisible());
    QFile log(window.logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readLine().contains(" Aborted! "));
}

void WindowSessionTest::unreadableFoldersAreShownAtTheEnd() {
    // A file system that fails every listing below its top folders.
    HungFileSystem failing;
    if (!failing.mounted())
        QSKIP("no FUSE file system can be mounted here");
    failing.release();
    Window window;
    window.picker->chosen = (failing.path() + "/folders").toStdString();
    // Without a display the message box goes to standard error, which the test reads from a file.
    QTemporaryFile errors;
    QVERIFY(errors.open());
    const int standardError = ::dup(STDERR_FILENO);
    ::dup2(errors.handle(), STDERR_FILENO);
    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);
    ::dup2(standardError, STDERR_FILENO);
    ::close(standardError);

    QVERIFY(errors.seek(0));
    QCOMPARE(errors.readAll(),
             "Vellum: Vellum could not read 1 folder and did not test the archives in it: " +
                 failing.path().toUtf8() + "/folders/stuck/: Input/output error\n");
}

void WindowSessionTest::minimisedRunShowsProgressAndRestoresCaption() {
    Window window;
    QTemporaryDir tree;
    QDir().mkpath(tree.path() + "/Sub");
    writeFile((tree.path() + "/Sub/Big.ZIP").toStdString(),
              buildZip({{"big.bin", std::string(8 << 20, 'b'), 0}}).bytes);
    window.picker->chosen = tree.path().toStdString();
    QStringList captions;
    connect(&window.mainWindow, &QWidget::windowTitleChanged, &window.mainWindow,
            [&](const QString& title) { captions << title; });
    window.mainWindow.showMinimized();

    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);

    QVERIFY2(captions.contains("Searching..."), qPrintable(captions.join('|')));
    QVERIFY2(captions.contains(" 100%  big.zip"), qPrintable(captions.join('|')));
    QVERIFY(!window.mainWindow.isMinimized());
    QCOMPARE(window.mainWindow.windowTitle(), QString("Vellum"));

    window.mainWindow.showMinimized();
    window.mainWindow.setWindowTitle(" 50%  big.zip");
    window.mainWindow.showNormal();
    QCOMPARE(window.mainWindow.windowTitle(), QString("Vellum"));
}

void WindowSessionTest::openLogOnlyWhenLogExists() {
    Window window;
    {
        const StandardErrorCapture message; // where a message box goes without a display
        window.mainWindow.openLogAction->trigger();
        QCOMPARE(message.text(), "Vellum: There is no log yet: the first run will write it to " +
                                     QByteArray::fromStdString(window.folder()) + "/errors.log\n");
    }
    QVERIFY(window.desktop.requests.empty());

    writeFile(window.folder() + "/errors.log", "a record\r\n");
    window.mainWindow.openLogAction->trigger();
    QCOMPARE(window.desktop.requests.size(), std::size_t{1});
    QCOMPARE(window.desktop.requests[0],
             (platform::RecordingDesktop::Request{platform::DesktopIntent::TextFile,
                                                  window.folder() + "/errors.log"}));
}

// The real desktop services, with a desktop opener that fails or none at all.
void WindowSessionTest::viewerShowsWhatTheDesktopCannot_data() {
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("opener"); // the stand-in opener's command; empty: none on the PATH
    QTest::addColumn<QString>("seen");
    QTest::newRow("report, no opener") << "errors.txt" << QByteArray() << "bad.zip";
    QTest::newRow("log, no program for its type") << "errors.log" << QByteArray("exit 3") << "a record";
    QTest::newRow("manual, opener failed") << "Vellum.html" << QByteArray("exit 4") << "Vellum 1.05";
}

void WindowSessionTest::viewerShowsWhatTheDesktopCannot() {
    QFETCH(QString, shown);
    QFETCH(QByteArray, opener);
    QFETCH(QString, seen);
    QTemporaryDir programs;
    const QByteArray path = qgetenv("PATH");
    const auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });
    qputenv("PATH", QFile::encodeName(programs.path()) + (opener.isEmpty() ? "" : ":" + path));
    if (!opener.isEmpty()) {
        writeFile(programs.filePath("xdg-open").toStdString(), "#!/bin/sh\n" + opener.toStdString());
        QVERIFY(QFile::setPermissions(programs.filePath("xdg-open"), QFile::ExeOwner | QFile::ReadOwner));
    }
    const auto desktop = platform::createDesktopServices();
    Window window(std::nullopt, desktop.get());
    QTemporaryDir tree;
    writeFile(tree.filePath("bad.zip").toStdString(), "not an archive");
    writeFile(window.folder() + "/errors.log", "a record\r\n");
    writeFile(window.folder() + "/Vellum.html", "<h1>Vellum 1.05</h1>");
    window.picker->chosen = tree.path().toStdString();

    if (shown == "errors.txt")
        QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);
    else
        (shown == "errors.log" ? window.mainWindow.openLogAction : window.mainWindow.contentsAction)
            ->trigger();

    QPointer<FileViewer> viewer;
    QVERIFY(waitUntil([&] { return (viewer = window.mainWindow.findChild<FileViewer*>("fileViewer")); }));
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->windowTitle(), shown);
    QVERIFY(viewer->findChild<QWidget*>("fileText")->property("plainText").toString().contains(seen));
    QTest::keyClick(viewer, Qt::Key_Escape);
    QVERIFY(waitUntil([&] { return viewer.isNull(); }));
}

void WindowSessionTest::menuCommandsAskTheDesktop() {
    Window window;
    window.mainWindow.contentsAction->trigger();
    window.mainWindow.sendEmailAction->trigger();
    window.mainWindow.webPageAction->trigger();
    const auto& requests = window.desktop.requests;
    QCOMPARE(requests.size(), std::size_t{3});
    using Request = platform::RecordingDesktop::Request;
    QCOMPARE(requests[0], (Request{platform::DesktopIntent::Manual, window.folder() + "/Vellum.hlp"}));
    QCOMPARE(requests[1], (Request{platform::DesktopIntent::Mail, "vellum@vellum-tester.org"}));
    QCOMPARE(requests[2],
             (Request{platform::DesktopIntent::WebPage, "https://www.vellum-tester.org:443/vellum/"}));
}

void WindowSessionTest::aboutTwiceGivesOneWindow() {
    Window window;
    window.mainWindow.aboutAction->trigger();
    AboutWindow* first = window.session.aboutWindow();
    QVERIFY(first && first->isVisible());
    window.mainWindow.aboutAction->trigger();
    QCOMPARE(window.session.aboutWindow(), first);
    QCOMPARE(window.sound.requests.size(), std::size_t{2});
    QCOMPARE(window.sound.requests[1].path, window.folder() + "/thunder.wav");
    QVERIFY(window.sound.requests[1].mode == platform::SoundMode::Asynchronous);

    // Closing the main window leaves the About window open.
    window.mainWindow.close();
    QVERIFY(first->isVisible());
}

void WindowSessionTest::panelClickPlaysSynchronouslyThenCloses() {
    Window window;
    bool shownWhilePlaying = false;
    struct ObservingPlayer final : platform::SoundPlayer {
        std::function<void()> onPlay;
        void play(const std::string&, platform::SoundMode mode) override {
            if (mode == platform::SoundMode::Synchronous)
                onPlay();
        }
    };
    // The recording player in the fixture cannot look at the window while the sound plays.
    ObservingPlayer player;
    RunCore run(RunSettings{ReportPlace{window.folder(), {}}, false});
    MainWindow mainWindow;
    WindowSession session(
        mainWindow, run,
        WindowSessionServices{window.folder(), player, window.desktop, window.singleInstance});
    player.onPlay = [&] { shownWhilePlaying = session.aboutWindow() && session.aboutWindow()->isVisible(); };
    mainWindow.show();

    QTest::mouseClick(mainWindow.initialsPanel, Qt::LeftButton);

    QVERIFY(shownWhilePlaying);
    QVERIFY(!session.aboutWindow() || !session.aboutWindow()->isVisible());
}

void WindowSessionTest::aboutWindowClosesOnClicks() {
    Window window;
    for (const char* target : {"aboutWindow", "iconImage", "titleLabel", "versionLabel"}) {
        window.mainWindow.aboutAction->trigger();
        AboutWindow* about = window.session.aboutWindow();
        QWidget* clicked = QString(target) == "aboutWindow" ? about : about->findChild<QWidget*>(target);
        QTest::mouseClick(clicked, Qt::LeftButton, {},
                          QString(target) == "aboutWindow" ? QPoint(200, 150) : QPoint(2, 2));
        QVERIFY2(!about->isVisible(), target);
    }
    window.mainWindow.aboutAction->trigger();
    AboutWindow* about = window.session.aboutWindow();
    QTest::mouseClick(about->footerLabel, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(about->isVisible());
    QCOMPARE(about->size(), QSize(358, 247));
}

void WindowSessionTest::secondCopyRestoresTheWindow() {
    Window window;
    QVERIFY(!window.singleInstance.anotherIsRunning());
    window.mainWindow.showMinimized();
    QVERIFY(window.mainWindow.isMinimized());

    platform::SingleInstance secondCopy("VellumWindowTest");
    QVERIFY(secondCopy.anotherIsRunning());
    QVERIFY(secondCopy.requestRestore());

    QVERIFY(waitUntil([&] { return !window.mainWindow.isMinimized(); }));
    QCOMPARE(window.mainWindow.windowTitle(), QString("Vellum"));
}

void WindowSessionTest::folderPickerShowsPromptsAndSelection() {
    MainWindow mainWindow;
    mainWindow.show();
    std::vector<std::string> selections;
    mainWindow.folderPicker().onSelectionChanged = [&](const std::string& selection) {
        selections.push_back(selection);
        // The handler writes the selection back into the picker, which shows it.
        mainWindow.folderPicker().setSelectionText(selection);
    };
    // What the dialog showed, noted while it is open and checked once it has closed: a check that
    // failed inside would leave the modal dialog waiting for a click that never comes. The dialog is
    // closed on every way out of the lambda.
    struct Seen {
        QString dialog;
        QStringList texts;
        QString shownAtOpen;
        bool listed = false;
        QString moved;
        QString shownAfterMove;
    } seen;
    QTimer::singleShot(0, &mainWindow, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        const auto close = qScopeGuard([dialog] { dialog->reject(); });
        seen.dialog = dialog->objectName();
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            seen.texts << label->text();
        auto* shown = dialog->findChild<QLabel*>("selectionText");
        auto* tree = dialog->findChild<QTreeView*>();
        if (!shown || !tree)
            return;
        seen.shownAtOpen = shown->text();
        auto* model = static_cast<QFileSystemModel*>(tree->model());
        const QModelIndex root = model->index("/");
        seen.listed = waitUntil([&] { return model->rowCount(root) > 0; });
        if (!seen.listed)
            return;
        tree->setCurrentIndex(model->index(0, 0, root));
        seen.moved = model->filePath(tree->currentIndex());
        seen.shownAfterMove = shown->text();
    });

    const bool chosen = mainWindow.folderPicker().browse();

    QCOMPARE(seen.dialog, QString("folderPickerDialog"));
    QVERIFY(!chosen);
    QVERIFY(seen.texts.contains("Choose drive or folder of Zip's to test"));
    QVERIFY(seen.texts.contains("Al sub-directories will be checked also"));
    QVERIFY(seen.listed);
    // The opening selection, the root, is reported and shown like the move after it.
    QCOMPARE(selections.size(), std::size_t{2});
    QCOMPARE(selections[0], std::string("/"));
    QCOMPARE(seen.shownAtOpen, QString("/"));
    QCOMPARE(selections[1], seen.moved.toStdString());
    QCOMPARE(seen.shownAfterMove, seen.moved);
}

QTEST_MAIN(WindowSessionTest)
#include "window_session_test.moc"
