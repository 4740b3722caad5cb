// The real main window on the offscreen platform, driven as a user would: Browse with a picker
// that is cancelled or returns a folder, Cancel with no run, Escape during a run.

#include "animated_icon.h"
#include "form1.h"
#include "launcher.h"
#include "lower_case.h"
#include "progress_bar.h"
#include "shell.h"
#include "single_instance.h"
#include "sound.h"
#include "window_fixture.h"
#include "zip_builder.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellum;
using namespace vellum::testing;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void browseCancelledChangesNothing();
    void browseNormalisesChosenFolder();
    void browseMenuEntryStartsTheSameRun();
    void cancelWithoutRun();
    void escapeFromFocusedButtonStopsRun();
};

void MainWindowTest::browseCancelledChangesNothing() {
    Window window;
    QTest::mouseClick(window.form.Command1, Qt::LeftButton);

    QCOMPARE(window.picker->browseCalls, 1);
    QCOMPARE(window.state.StartFolder, std::string());
    QCOMPARE(window.state.TestedCount, 1);
    QCOMPARE(window.form.Label2->text(), QString());
    QCOMPARE(window.form.windowTitle(), QString("Vellum"));
    QVERIFY(!QFile::exists(window.logPath()));
    QVERIFY(window.sound.requests.empty());
}

void MainWindowTest::browseNormalisesChosenFolder() {
    Window window;
    QTemporaryDir tree;
    QDir().mkpath(tree.path() + "/Archive/Old");
    writeFile((tree.path() + "/Archive/Old/Kept.zip").toStdString(), buildZip({{"a.txt", "fine"}}).bytes);
    window.picker->chosen = (tree.path() + "/Archive/Old").toStdString();

    QTest::mouseClick(window.form.Command1, Qt::LeftButton);

    const std::string shown = platform::lowerCase(tree.path().toStdString()) + "/archive/old/";
    QCOMPARE(window.state.StartFolder, shown);
    QCOMPARE(window.state.TestedCount, 2);
    QCOMPARE(window.state.BadCount, 0);
    QCOMPARE(window.form.Label2->text(), QString("Done."));
    QCOMPARE(window.form.Label3->text(), QString(" 1  tested    -    0  bad"));
    QVERIFY(!window.form.AniIcon1->isEnabled());
    QVERIFY(QFile::exists(window.logPath()));
}

void MainWindowTest::browseMenuEntryStartsTheSameRun() {
    Window window;
    window.form.browse->trigger();
    QCOMPARE(window.picker->browseCalls, 1);
}

void MainWindowTest::cancelWithoutRun() {
    Window window;
    QVERIFY(QTest::qWaitForWindowActive(&window.form));
    window.form.ProgressBar1->setPosition(40);

    QTest::mouseClick(window.form.Command2, Qt::LeftButton);

    QCOMPARE(window.form.Label1->text(), QString("Aborted"));
    QCOMPARE(window.form.ProgressBar1->position(), 0);
    QVERIFY(window.state.AbortRequested);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window.form.Option1));

    // The next run starts afresh: its report carries no "Aborted!".
    QTemporaryDir tree;
    window.picker->chosen = tree.path().toStdString();
    QTest::mouseClick(window.form.Command1, Qt::LeftButton);
    QVERIFY(!window.state.AbortRequested);
    QFile log(window.logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(!log.readLine().contains("Aborted!"));
}

void MainWindowTest::escapeFromFocusedButtonStopsRun() {
    Window window;
    QVERIFY(QTest::qWaitForWindowActive(&window.form));
    auto scripted = std::make_unique<ScriptedZipTester>();
    ScriptedZipTester& component = *scripted;
    window.form.replaceZipTester(std::move(scripted));
    QTemporaryDir tree;
    for (const char* name : {"/a.zip", "/b.zip", "/c.zip"})
        writeFile((tree.path() + name).toStdString(), "x");
    window.picker->chosen = tree.path().toStdString();
    // Escape with Shift held goes to the focused button; the window sees it first.
    component.duringProbe = [&] {
        window.form.Command1->setFocus();
        QTest::keyClick(window.form.Command1, Qt::Key_Escape, Qt::ShiftModifier);
    };

    QTest::mouseClick(window.form.Command1, Qt::LeftButton);

    QCOMPARE(component.tested.size(), std::size_t{1});
    QVERIFY(component.abort);
    QVERIFY(!window.state.AbortRequested);
    QCOMPARE(window.form.Label1->text(), QString());
    QCOMPARE(window.form.Label2->text(), QString("Done."));
    QFile log(window.logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(!log.readLine().contains("Aborted!"));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
