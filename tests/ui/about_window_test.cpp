// The About window as the main window opens it: where it stands, whose window it is, how long it
// keeps the program running, and the initials panel's showing of it for the length of the thunder.

#include "../platform/wave_bytes.h"
#include "about_window.h"
#include "condition_wait.h"
#include "panel3d.h"
#include "window_fixture.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QtTest>

using namespace vellum;
using namespace vellum::testing;

Q_DECLARE_METATYPE(Qt::Edges)

namespace {

// Watches every About window for what the display saw of it: whether it was drawn, and how many
// sounds had been asked for when it was first drawn and when it was hidden.
class AboutWindowWatch final : public QObject {
public:
    explicit AboutWindowWatch(const platform::RecordingSoundPlayer& sound) : m_sound(sound) {
        qApp->installEventFilter(this);
    }
    ~AboutWindowWatch() override { qApp->removeEventFilter(this); }

    int soundsWhenFirstDrawn = -1;
    int soundsWhenHidden = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (qobject_cast<AboutWindow*>(watched) != nullptr) {
            const int sounds = static_cast<int>(m_sound.requests.size());
            if (event->type() == QEvent::Paint && soundsWhenFirstDrawn < 0)
                soundsWhenFirstDrawn = sounds;
            if (event->type() == QEvent::Hide)
                soundsWhenHidden = sounds;
        }
        return false;
    }

private:
    const platform::RecordingSoundPlayer& m_sound;
};

} // namespace

class AboutWindowTest : public QObject {
    Q_OBJECT
private slots:
    void standsCentredOverMainWindowOnScreen_data() {
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<Qt::Edges>("heldAt");
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::newRow("well inside the screen") << available.topLeft() + QPoint(150, 120) << Qt::Edges();
        QTest::newRow("past the top-left corner")
            << available.topLeft() - QPoint(250, 180) << (Qt::LeftEdge | Qt::TopEdge);
        QTest::newRow("at the bottom-right corner")
            << available.bottomRight() - QPoint(60, 40) << (Qt::RightEdge | Qt::BottomEdge);
    }

    void standsCentredOverMainWindowOnScreen() {
        QFETCH(QPoint, position);
        QFETCH(Qt::Edges, heldAt);
        Window window;
        const QRect available = window.mainWindow.screen()->availableGeometry();
        window.mainWindow.move(position);
        QVERIFY(waitUntil([&] { return window.mainWindow.frameGeometry().topLeft() == position; }));

        window.mainWindow.aboutAction->trigger();
        AboutWindow* about = window.session.aboutWindow();
        QVERIFY(about && about->isVisible());
        const QRect owner = window.mainWindow.frameGeometry();
        const QRect placed = about->frameGeometry();

        QVERIFY2(available.contains(placed), "the About window lies wholly on the screen");
        if (heldAt.testFlag(Qt::LeftEdge))
            QCOMPARE(placed.left(), available.left());
        else if (heldAt.testFlag(Qt::RightEdge))
            QCOMPARE(placed.right(), available.right());
        else
            QVERIFY(std::abs(placed.center().x() - owner.center().x()) <= 1);
        if (heldAt.testFlag(Qt::TopEdge))
            QCOMPARE(placed.top(), available.top());
        else if (heldAt.testFlag(Qt::BottomEdge))
            QCOMPARE(placed.bottom(), available.bottom());
        else
            QVERIFY(std::abs(placed.center().y() - owner.center().y()) <= 1);

        // The window manager is told that it belongs to the main window.
        QCOMPARE(about->parentWidget(), &window.mainWindow);
        QVERIFY(about->isWindow());
        QCOMPARE(about->windowHandle()->transientParent(), window.mainWindow.windowHandle());
    }

    void keepsProgramRunningAfterMainWindowCloses() {
        Window window;
        window.mainWindow.aboutAction->trigger();
        QPointer<AboutWindow> about = window.session.aboutWindow();
        QVERIFY(about);
        bool clickedWhileRunning = false;
        QTimer::singleShot(0, &window.mainWindow, [&] {
            window.mainWindow.close();
            // Had closing the main window ended the program, the request to quit takes effect here,
            // before the click below comes round.
            QCoreApplication::sendPostedEvents();
            QTimer::singleShot(0, about, [&] {
                clickedWhileRunning = true;
                QTest::mouseClick(about, Qt::LeftButton, {}, QPoint(200, 150));
            });
        });
        QTimer stuck;
        stuck.setSingleShot(true);
        connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        stuck.start(WaitTimeout);

        // The program's own loop, ending when the last window that keeps it running has closed.
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(clickedWhileRunning);
        QVERIFY(waitUntil([&] { return about.isNull(); }));
    }

    void panelShowsDrawnWindowForTheThunder_data() {
        QTest::addColumn<bool>("thunderFile");
        QTest::addColumn<bool>("alreadyOpen");
        QTest::newRow("silent thunder") << true << false;
        QTest::newRow("no thunder file") << false << false;
        QTest::newRow("About window already open") << true << true;
    }

    void panelShowsDrawnWindowForTheThunder() {
        QFETCH(bool, thunderFile);
        QFETCH(bool, alreadyOpen);
        Window window;
        if (thunderFile) {
            // A fifth of a second of silence; the recording player returns at once, as a sound
            // layer without a device does.
            QVERIFY(platform::testing::writeFile(
                window.applicationDir.filePath("thunder.wav"),
                platform::testing::pcmWave(1, 8000, 8, QByteArray(1600, '\x80'))));
        }
        QPointer<AboutWindow> opened;
        if (alreadyOpen) {
            window.mainWindow.aboutAction->trigger();
            opened = window.session.aboutWindow();
            QVERIFY(waitUntil([&] { return opened->windowHandle()->isExposed(); }));
        }
        AboutWindowWatch watch(window.sound);

        QTest::mouseClick(window.mainWindow.initialsPanel, Qt::LeftButton);

        const std::size_t earlier = alreadyOpen ? 1 : 0;
        QCOMPARE(window.sound.requests.size(), earlier + 1);
        QCOMPARE(window.sound.requests.back().path, window.folder() + "/thunder.wav");
        QVERIFY(window.sound.requests.back().mode == platform::SoundMode::Synchronous);
        QCOMPARE(watch.soundsWhenFirstDrawn, static_cast<int>(earlier));
        QCOMPARE(watch.soundsWhenHidden, static_cast<int>(earlier + 1));
        QVERIFY(!window.session.aboutWindow() || !window.session.aboutWindow()->isVisible());
        if (alreadyOpen)
            QVERIFY(opened.isNull() || !opened->isVisible());
    }
};

QTEST_MAIN(AboutWindowTest)
#include "about_window_test.moc"
