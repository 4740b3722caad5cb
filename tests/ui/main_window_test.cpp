// The real main window on the offscreen platform, driven as a user would: Browse with a picker
// that is cancelled or returns a folder, Cancel with no run, Escape during a run; and what the
// window puts on the screen while a run changes its texts: the animated icon, the pace of
// redrawing and where the status texts fall.

#include "about_window.h"
#include "animated_icon.h"
#include "artwork.h"
#include "condition_wait.h"
#include "desktop_services.h"
#include "lower_case.h"
#include "main_window.h"
#include "panel3d.h"
#include "progress_bar.h"
#include "single_instance.h"
#include "sound.h"
#include "window_fixture.h"
#include "window_session.h"
#include "zip_builder.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <set>

using namespace vellum;
using namespace vellum::testing;

namespace {

// What the window last put on the screen over the widget: its backing store, read back through the
// screen. QWidget::grab would paint the widget afresh and hide whatever the screen really shows.
QImage shownOnScreen(const QWidget& widget) {
    QWidget* window = widget.window();
    const QPoint at = widget.mapTo(window, QPoint(0, 0));
    const QPixmap shown =
        window->screen()->grabWindow(window->winId(), at.x(), at.y(), widget.width(), widget.height());
    return shown.toImage().convertToFormat(QImage::Format_RGB32);
}

// The widget painted afresh with what lies behind it, as the screen should show it.
QImage paintedAfresh(const QWidget& widget) {
    return widget.parentWidget()->grab(widget.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
}

// The three animation frames as they look drawn over what lies behind the icon.
std::vector<QImage> iconFramesOnBackground(const QWidget& icon) {
    QImage background(icon.size(), QImage::Format_RGB32);
    icon.parentWidget()->render(&background, QPoint(), QRegion(icon.geometry()),
                                QWidget::DrawWindowBackground);
    std::vector<QImage> frames;
    for (const QPixmap& picture : animationFrames()) {
        QImage frame = background;
        QPainter(&frame).drawPixmap(0, 0, picture);
        frames.push_back(frame);
    }
    return frames;
}

// A label's own text on its own background, without the siblings it overlaps.
QImage labelText(QLabel& label) {
    return label.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int colourCount(const QImage& picture) {
    std::set<QRgb> colours;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            colours.insert(picture.pixel(x, y));
    return static_cast<int>(colours.size());
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The columns and rows of a picture that hold ink: pixels other than its background.
struct Ink {
    int left = -1;
    int right = -1;
    int bottom = -1;
};

Ink inkOf(const QImage& picture) {
    Ink ink;
    const QRgb background = picture.pixel(picture.width() - 1, picture.height() - 1);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.pixel(x, y) == background)
                continue;
            ink.left = ink.left < 0 ? x : std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.bottom = y;
        }
    }
    return ink;
}

// The counts line as the run writes it.
std::string countsText(int tested, int bad) {
    return " " + std::to_string(tested) + "  tested    -   " + " " + std::to_string(bad) + "  bad";
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void browseCancelledChangesNothing();
    void browseNormalisesChosenFolder();
    void browseMenuEntryStartsTheSameRun();
    void cancelWithoutRun();
    void escapeFromFocusedButtonStopsRun();
    void keyboardAndScreenReadersReachTheControls();
    void animatedIconNeverBlankDuringRun();
    void runRedrawsAtPaceAndShowsLastTexts();
    void statusTextsFitTheirLabels_data();
    void statusTextsFitTheirLabels();
    void statusTextsShareOneLineWithoutTouching();
};

void MainWindowTest::browseCancelledChangesNothing() {
    Window window;
    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);

    QCOMPARE(window.picker->browseCalls, 1);
    QVERIFY(!window.session.lastSummary());
    QCOMPARE(window.mainWindow.statusLabel->text(), QString());
    QCOMPARE(window.mainWindow.windowTitle(), QString("Vellum"));
    QVERIFY(!QFile::exists(window.logPath()));
    QVERIFY(window.sound.requests.empty());
}

void MainWindowTest::browseNormalisesChosenFolder() {
    Window window;
    QTemporaryDir tree;
    QDir().mkpath(tree.path() + "/Archive/Old");
    writeFile((tree.path() + "/Archive/Old/Kept.zip").toStdString(), buildZip({{"a.txt", "fine"}}).bytes);
    window.picker->chosen = (tree.path() + "/Archive/Old").toStdString();

    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);

    const RunRecord& record = window.session.lastSummary()->record;
    QCOMPARE(record.inputsLine, tree.path().toStdString() + "/Archive/Old/");
    QCOMPARE(record.tested, 1);
    QVERIFY(record.badArchives.empty());
    QCOMPARE(window.mainWindow.statusLabel->text(), QString("Done."));
    QCOMPARE(window.mainWindow.countsLabel->text(), QString(" 1  tested    -    0  bad"));
    QVERIFY(!window.mainWindow.animatedIcon->isEnabled());
    QVERIFY(QFile::exists(window.logPath()));
}

void MainWindowTest::browseMenuEntryStartsTheSameRun() {
    Window window;
    window.mainWindow.browseAction->trigger();
    QCOMPARE(window.picker->browseCalls, 1);
}

void MainWindowTest::cancelWithoutRun() {
    Window window;
    QVERIFY(QTest::qWaitForWindowActive(&window.mainWindow));
    window.mainWindow.percentageBar->setPosition(40);

    QTest::mouseClick(window.mainWindow.cancelButton, Qt::LeftButton);

    QCOMPARE(window.mainWindow.archiveLabel->text(), QString("Aborted"));
    QCOMPARE(window.mainWindow.percentageBar->position(), 0);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window.mainWindow.focusHolder));

    // The next run starts afresh: its report carries no "Aborted!".
    QTemporaryDir tree;
    window.picker->chosen = tree.path().toStdString();
    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);
    QVERIFY(!window.session.lastSummary()->record.cancelled);
    QFile log(window.logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(!log.readLine().contains("Aborted!"));
}

void MainWindowTest::escapeFromFocusedButtonStopsRun() {
    Window window;
    QVERIFY(QTest::qWaitForWindowActive(&window.mainWindow));
    ScriptedZipTester& component = window.useScriptedComponent();
    QTemporaryDir tree;
    for (const char* name : {"/a.zip", "/b.zip", "/c.zip"})
        writeFile((tree.path() + name).toStdString(), "x");
    window.picker->chosen = tree.path().toStdString();
    // Escape with Shift held goes to the focused button; the window sees it first.
    component.duringProbe = [&] {
        window.mainWindow.browseButton->setFocus();
        QTest::keyClick(window.mainWindow.browseButton, Qt::Key_Escape, Qt::ShiftModifier);
    };

    QTest::mouseClick(window.mainWindow.browseButton, Qt::LeftButton);

    // A stopped run says so, as after Cancel.
    QCOMPARE(component.tested.size(), std::size_t{1});
    QVERIFY(component.abort);
    QCOMPARE(window.session.lastSummary()->stop, RunStop::User);
    QCOMPARE(window.mainWindow.archiveLabel->text(), QString("Aborted"));
    QCOMPARE(window.mainWindow.statusLabel->text(), QString("Done."));
    QFile log(window.logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readLine().contains(" Aborted! "));
}

void MainWindowTest::keyboardAndScreenReadersReachTheControls() {
    Window window;
    MainWindow& main = window.mainWindow;
    QVERIFY(QTest::qWaitForWindowActive(&main));
    // Tab goes round the visible buttons only, from the parked focus too, and Return presses them.
    main.parkFocus();
    std::set<QWidget*> reached;
    for (int press = 0; press < 4; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached.insert(QApplication::focusWidget());
    }
    QCOMPARE(reached, (std::set<QWidget*>{main.browseButton, main.cancelButton}));
    for (QPushButton* button : {main.browseButton, main.cancelButton}) {
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
    }
    QCOMPARE(window.picker->browseCalls, 1);
    QCOMPARE(main.archiveLabel->text(), QString("Aborted"));

    std::set<QString> names{QString()};
    for (QWidget* control :
         {static_cast<QWidget*>(main.percentageBar), static_cast<QWidget*>(main.initialsPanel),
          static_cast<QWidget*>(main.animatedIcon)})
        names.insert(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name));
    QCOMPARE(names.size(), std::size_t{4});
    main.percentageBar->setPosition(40);
    QVERIFY(
        QAccessible::queryAccessibleInterface(main.percentageBar)->text(QAccessible::Value).contains("40"));

    main.aboutAction->trigger();
    QPointer<AboutWindow> about = window.session.aboutWindow();
    QVERIFY(QTest::qWaitForWindowActive(about));
    QTest::keyClick(about, Qt::Key_Escape);
    QVERIFY(about.isNull() || !about->isVisible());
}

void MainWindowTest::animatedIconNeverBlankDuringRun() {
    Window window;
    MainWindow& mainWindow = window.mainWindow;
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    const std::vector<QImage> frames = iconFramesOnBackground(*mainWindow.animatedIcon);

    // A run of small archives: for each the texts and the progress bar change and the run yields.
    // The icon's timer may fall due in any yield; here it does in every one, in the shape of a
    // timer of the test's own that steps the icon. Whatever the screen shows of the icon after
    // each archive must be one of its frames, and each frame must reach the screen.
    QTimer iconTimer;
    iconTimer.setSingleShot(true);
    connect(&iconTimer, &QTimer::timeout, mainWindow.animatedIcon, &AnimatedIcon::advance);
    mainWindow.setBusyPointer(true);
    mainWindow.setAnimationEnabled(true);
    int archives = 0;
    std::set<std::size_t> framesSeen;
    QImage wrong;
    const bool played = waitUntil([&] {
        for (int burst = 0; burst < 100 && wrong.isNull(); ++burst) {
            ++archives;
            mainWindow.setArchiveCaption("archive-" + std::to_string(archives) + ".zip");
            mainWindow.setStatusCaption("Testing ...");
            mainWindow.progressBar().setPosition(archives % 101);
            mainWindow.setCountsCaption(countsText(archives, archives / 7));
            iconTimer.start(0);
            mainWindow.letEventsThrough();
            const QImage shown = shownOnScreen(*mainWindow.animatedIcon);
            const auto match = std::find(frames.begin(), frames.end(), shown);
            if (match == frames.end())
                wrong = shown;
            else
                framesSeen.insert(static_cast<std::size_t>(match - frames.begin()));
        }
        return !wrong.isNull() || (archives >= 1000 && framesSeen.size() == frames.size());
    });
    mainWindow.setAnimationEnabled(false);
    mainWindow.setBusyPointer(false);

    QVERIFY2(wrong.isNull(), qPrintable(QString("after %1 archives the icon showed a picture of %2 "
                                                "colours that is none of its frames")
                                            .arg(archives)
                                            .arg(colourCount(wrong))));
    QVERIFY(played);
}

void MainWindowTest::runRedrawsAtPaceAndShowsLastTexts() {
    Window window;
    MainWindow& mainWindow = window.mainWindow;
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    QVERIFY(waitUntil(
        [&] { return shownOnScreen(*mainWindow.countsLabel) == paintedAfresh(*mainWindow.countsLabel); }));
    PaintCounter counter(mainWindow.countsLabel);

    mainWindow.setBusyPointer(true);
    QElapsedTimer elapsed;
    elapsed.start();
    const int archives = 2000;
    for (int tested = 1; tested <= archives; ++tested) {
        mainWindow.setCountsCaption(countsText(tested, 0));
        mainWindow.letEventsThrough();
    }
    const qint64 milliseconds = elapsed.elapsed();
    mainWindow.setBusyPointer(false);

    // However fast or slow the machine, the counts were not drawn once per archive but at most
    // about once per 40 ms (counted generously, at twice that rate).
    QVERIFY2(counter.paints <= milliseconds / 20 + 2,
             qPrintable(QString("%1 redraws in %2 ms").arg(counter.paints).arg(milliseconds)));
    // The end of the walk lets the last counts through.
    QVERIFY(waitUntil(
        [&] { return shownOnScreen(*mainWindow.countsLabel) == paintedAfresh(*mainWindow.countsLabel); }));
    QCOMPARE(mainWindow.countsLabel->text(), QString::fromStdString(countsText(archives, 0)));
}

void MainWindowTest::statusTextsFitTheirLabels_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::newRow("status while testing") << "statusLabel"
                                          << "Testing ...";
    QTest::newRow("status at the end") << "statusLabel"
                                       << "Done.";
    QTest::newRow("counts of a large run")
        << "countsLabel" << QString::fromStdString(countsText(123456, 1234));
    QTest::newRow("archive name") << "archiveLabel"
                                  << "photos-summer-holiday-2019.zip";
    QTest::newRow("folder") << "folderPanel"
                            << "/srv/backup/projects/2024/clients/";
}

void MainWindowTest::statusTextsFitTheirLabels() {
    QFETCH(QString, label);
    QFETCH(QString, text);
    Window window;
    auto* control = window.mainWindow.findChild<QLabel*>(label);
    QVERIFY(control);
    const QFontMetrics metrics(control->font());
    // A framed label keeps half an x clear inside its frame.
    const int indent = control->indent() >= 0      ? control->indent()
                       : control->frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2
                                                   : 0;
    const int room = control->contentsRect().width() - indent;
    QVERIFY2(metrics.horizontalAdvance(text) <= room,
             qPrintable(QString("%1 px of text in %2 px").arg(metrics.horizontalAdvance(text)).arg(room)));
    QVERIFY(metrics.height() <= control->contentsRect().height());
}

void MainWindowTest::statusTextsShareOneLineWithoutTouching() {
    Window window;
    MainWindow& mainWindow = window.mainWindow;
    mainWindow.setStatusCaption("Testing ...");
    mainWindow.setCountsCaption(countsText(123456, 1234));
    const Ink status = inkOf(labelText(*mainWindow.statusLabel));
    const Ink counts = inkOf(labelText(*mainWindow.countsLabel));
    QVERIFY(status.right >= 0 && counts.left >= 0);
    const int statusEnds = mainWindow.statusLabel->x() + status.right;
    const int countsBegin = mainWindow.countsLabel->x() + counts.left;
    QVERIFY2(
        statusEnds + 1 < countsBegin,
        qPrintable(QString("status ink ends at %1, counts begin at %2").arg(statusEnds).arg(countsBegin)));

    // Texts without descenders end on their baseline: both labels write on the same line.
    mainWindow.setStatusCaption("Done.");
    mainWindow.setCountsCaption(countsText(1, 0));
    const int statusBaseline = mainWindow.statusLabel->y() + inkOf(labelText(*mainWindow.statusLabel)).bottom;
    const int countsBaseline = mainWindow.countsLabel->y() + inkOf(labelText(*mainWindow.countsLabel)).bottom;
    QCOMPARE(statusBaseline, countsBaseline);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
