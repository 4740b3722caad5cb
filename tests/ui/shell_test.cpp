// The main window as a user sees it and the shell around a run: layout, Escape and Exit, the
// caption while minimised, the menu commands and the About window.

#include "animated_icon.h"
#include "condition_wait.h"
#include "form2.h"
#include "panel3d.h"
#include "progress_bar.h"
#include "window_fixture.h"
#include "zip_builder.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace vellum;
using namespace vellum::testing;

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void controlsStandAtTheirRectangles_data();
    void controlsStandAtTheirRectangles();
    void freshWindowShowsOnlyCaptionsAndInitials();
    void escapeWhenIdleChangesNothing();
    void exitWhenIdleClosesWithoutReport();
    void exitDuringRunWritesReportThenCloses();
    void systemCloseDuringRunActsAsExit();
    void minimisedRunShowsProgressAndRestoresCaption();
    void openLogOnlyWhenLogExists();
    void menuCommandLines();
    void aboutTwiceGivesOneWindow();
    void panelClickPlaysSynchronouslyThenCloses();
    void aboutWindowClosesOnClicks();
    void secondCopyRestoresTheWindow();
    void folderPickerShowsPromptsAndSelection();
};

void ShellTest::controlsStandAtTheirRectangles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rectangle");
    QTest::newRow("Frame1") << "Frame1" << QRect(8, 2, 294, 184);
    QTest::newRow("Panel2") << "Panel2" << QRect(241, 16, 54, 25);
    QTest::newRow("Label2") << "Label2" << QRect(25, 24, 55, 15);
    QTest::newRow("Label3") << "Label3" << QRect(75, 24, 164, 17);
    QTest::newRow("AniIcon1") << "AniIcon1" << QRect(27, 46, 32, 32);
    QTest::newRow("Label1") << "Label1" << QRect(72, 55, 175, 17);
    QTest::newRow("ProgressBar1") << "ProgressBar1" << QRect(56, 86, 199, 19);
    QTest::newRow("Command1") << "Command1" << QRect(71, 121, 58, 23);
    QTest::newRow("Command2") << "Command2" << QRect(182, 121, 58, 23);
    QTest::newRow("Panel1") << "Panel1" << QRect(22, 159, 263, 18);
    QTest::newRow("Option1") << "Option1" << QRect(75, 212, 57, 19);
}

void ShellTest::controlsStandAtTheirRectangles() {
    QFETCH(QString, name);
    QFETCH(QRect, rectangle);
    Window window;
    QWidget* client = window.form.centralWidget();
    QCOMPARE(client->size(), QSize(310, 192));
    auto* control = client->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(QRect(control->mapTo(client, QPoint(0, 0)), control->size()), rectangle);
}

void ShellTest::freshWindowShowsOnlyCaptionsAndInitials() {
    Window window;
    QCOMPARE(window.form.windowTitle(), QString("Vellum"));
    for (QLabel* label : {window.form.Label1, window.form.Label2, window.form.Label3,
                          static_cast<QLabel*>(window.form.Panel1)})
        QCOMPARE(label->text(), QString());
    QCOMPARE(window.form.Command1->text(), QString("&Browse"));
    QCOMPARE(window.form.Command2->text(), QString("&Cancel"));
    QCOMPARE(window.form.Panel2->text().size(), 3);
    QCOMPARE(window.form.ProgressBar1->value(), 0);
    QCOMPARE(window.form.ProgressBar1->maximum(), 100);
    QStringList menus;
    for (QAction* menu : window.form.menuBar()->actions())
        menus << menu->text();
    QCOMPARE(menus, (QStringList{"&File", "&Help"}));
}

void ShellTest::escapeWhenIdleChangesNothing() {
    Window window;
    window.form.Label1->setText("kept");
    window.form.ProgressBar1->setPosition(30);
    QTest::keyClick(window.form.Command1, Qt::Key_Escape);
    QCOMPARE(window.form.Label1->text(), QString("kept"));
    QCOMPARE(window.form.ProgressBar1->position(), 30);
}

void ShellTest::exitWhenIdleClosesWithoutReport() {
    Window window;
    window.form.exit->trigger();
    QVERIFY(!window.form.isVisible());
    QVERIFY(window.state.ExitWhenDone);
    QVERIFY(!QFile::exists(window.logPath()));
}

void ShellTest::exitDuringRunWritesReportThenCloses() {
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
        window.form.exit->trigger();
        visibleWhenExitReturned = window.form.isVisible();
    };

    QTest::mouseClick(window.form.Command1, Qt::LeftButton);

    QVERIFY(!visibleWhenExitReturned);
    QCOMPARE(component.tested.size(), std::size_t{1});
    QVERIFY(!window.form.isVisible());
    QFile log(window.logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(!log.readLine().contains("Aborted!"));
    QCOMPARE(log.readLine(), QByteArray(" 1 tested - 1 bad\r\n"));
    QCOMPARE(window.launcher.requests.size(), std::size_t{1}); // the report opened in the viewer
}

void ShellTest::systemCloseDuringRunActsAsExit() {
    Window window;
    ScriptedZipTester& component = window.useScriptedComponent();
    QTemporaryDir tree;
    for (const char* name : {"/a.zip", "/b.zip", "/c.zip"})
        writeFile((tree.path() + name).toStdString(), "x");
    window.picker->chosen = tree.path().toStdString();
    component.duringProbe = [&] { window.form.close(); };

    QTest::mouseClick(window.form.Command1, Qt::LeftButton);

    QCOMPARE(component.tested.size(), std::size_t{1});
    QVERIFY(component.abort);
    QVERIFY(window.state.ExitWhenDone);
    QVERIFY(!window.form.isVisible());
    QVERIFY(QFile::exists(window.logPath()));
}

void ShellTest::minimisedRunShowsProgressAndRestoresCaption() {
    Window window;
    QTemporaryDir tree;
    QDir().mkpath(tree.path() + "/Sub");
    writeFile((tree.path() + "/Sub/Big.ZIP").toStdString(),
              buildZip({{"big.bin", std::string(8 << 20, 'b'), 0}}).bytes);
    window.picker->chosen = tree.path().toStdString();
    QStringList captions;
    connect(&window.form, &QWidget::windowTitleChanged, &window.form,
            [&](const QString& title) { captions << title; });
    window.form.showMinimized();

    QTest::mouseClick(window.form.Command1, Qt::LeftButton);

    QVERIFY2(captions.contains("Searching..."), qPrintable(captions.join('|')));
    QVERIFY2(captions.contains(" 100%  big.zip"), qPrintable(captions.join('|')));
    QVERIFY(!window.form.isMinimized());
    QCOMPARE(window.form.windowTitle(), QString("Vellum"));

    window.form.showMinimized();
    window.form.setWindowTitle(" 50%  big.zip");
    window.form.showNormal();
    QCOMPARE(window.form.windowTitle(), QString("Vellum"));
}

void ShellTest::openLogOnlyWhenLogExists() {
    Window window;
    window.form.log->trigger();
    QVERIFY(window.launcher.requests.empty());

    writeFile(window.folder() + "/errors.log", "a record\r\n");
    window.form.log->trigger();
    QCOMPARE(window.launcher.requests.size(), std::size_t{1});
    QCOMPARE(window.launcher.requests[0].commandLine, "notepad.exe " + window.folder() + "/errors.log");
    QVERIFY(window.launcher.requests[0].style == platform::WindowStyle::ShowNormal);
}

void ShellTest::menuCommandLines() {
    Window window;
    window.form.contents->trigger();
    window.form.email->trigger();
    window.form.web->trigger();
    const auto& requests = window.launcher.requests;
    QCOMPARE(requests.size(), std::size_t{3});
    QCOMPARE(requests[0].commandLine, "winhelp.exe " + window.folder() + "/Vellum.hlp");
    QVERIFY(requests[0].style == platform::WindowStyle::ShowNoActivate);
    QVERIFY(requests[1].commandLine.starts_with("webdial.exe >mailto:"));
    QVERIFY(requests[1].commandLine.find(' ', 12) == std::string::npos);
    QVERIFY(requests[2].commandLine.starts_with("webdial.exe $https://"));
    QVERIFY(requests[2].style == platform::WindowStyle::ShowNormal);
}

void ShellTest::aboutTwiceGivesOneWindow() {
    Window window;
    window.form.about->trigger();
    Form2* first = window.shell.aboutWindow();
    QVERIFY(first && first->isVisible());
    window.form.about->trigger();
    QCOMPARE(window.shell.aboutWindow(), first);
    QCOMPARE(window.sound.requests.size(), std::size_t{2});
    QCOMPARE(window.sound.requests[1].path, window.folder() + "/thunder.wav");
    QVERIFY(window.sound.requests[1].mode == platform::SoundMode::Asynchronous);

    // Closing the main window leaves the About window open.
    window.form.close();
    QVERIFY(first->isVisible());
}

void ShellTest::panelClickPlaysSynchronouslyThenCloses() {
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
    RunState state;
    Form1 form;
    Shell shell(form, state,
                ShellServices{window.folder(), {}, player, window.launcher, window.singleInstance});
    player.onPlay = [&] { shownWhilePlaying = shell.aboutWindow() && shell.aboutWindow()->isVisible(); };
    form.show();

    QTest::mouseClick(form.Panel2, Qt::LeftButton);

    QVERIFY(shownWhilePlaying);
    QVERIFY(!shell.aboutWindow() || !shell.aboutWindow()->isVisible());
}

void ShellTest::aboutWindowClosesOnClicks() {
    Window window;
    for (const char* target : {"Form2", "Image1", "Label1", "Label3"}) {
        window.form.about->trigger();
        Form2* about = window.shell.aboutWindow();
        QWidget* clicked = QString(target) == "Form2" ? about : about->findChild<QWidget*>(target);
        QTest::mouseClick(clicked, Qt::LeftButton, {},
                          QString(target) == "Form2" ? QPoint(200, 150) : QPoint(2, 2));
        QVERIFY2(!about->isVisible(), target);
    }
    window.form.about->trigger();
    Form2* about = window.shell.aboutWindow();
    QTest::mouseClick(about->Label4, Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(about->isVisible());
    QCOMPARE(about->size(), QSize(358, 247));
}

void ShellTest::secondCopyRestoresTheWindow() {
    Window window;
    QVERIFY(!window.singleInstance.anotherIsRunning());
    window.form.showMinimized();
    QVERIFY(window.form.isMinimized());

    platform::SingleInstance secondCopy("VellumWindowTest");
    QVERIFY(secondCopy.anotherIsRunning());
    QVERIFY(secondCopy.sendKeys("% R"));

    QVERIFY(waitUntil([&] { return !window.form.isMinimized(); }));
    QCOMPARE(window.form.windowTitle(), QString("Vellum"));
}

void ShellTest::folderPickerShowsPromptsAndSelection() {
    Form1 form;
    form.show();
    std::vector<std::string> selections;
    form.BrowseDialog1().onSelectionChanged = [&](std::string& selection, std::int32_t) {
        selections.push_back(selection);
        // The handler writes the selection back into the picker, which shows it.
        form.BrowseDialog1().setSelectionText(selection);
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
    QTimer::singleShot(0, &form, [&] {
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

    const bool chosen = form.BrowseDialog1().browse();

    QCOMPARE(seen.dialog, QString("BrowseDialog1"));
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

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
