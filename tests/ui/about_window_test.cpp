// The About window as the main window opens it: where it stands, whose window it is, and how long
// it keeps the program running.

#include "condition_wait.h"
#include "form2.h"
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
        const QRect available = window.form.screen()->availableGeometry();
        window.form.move(position);
        QVERIFY(waitUntil([&] { return window.form.frameGeometry().topLeft() == position; }));

        window.form.about->trigger();
        Form2* about = window.shell.aboutWindow();
        QVERIFY(about && about->isVisible());
        const QRect owner = window.form.frameGeometry();
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
        QCOMPARE(about->parentWidget(), &window.form);
        QVERIFY(about->isWindow());
        QCOMPARE(about->windowHandle()->transientParent(), window.form.windowHandle());
    }

    void keepsProgramRunningAfterMainWindowCloses() {
        Window window;
        window.form.about->trigger();
        QPointer<Form2> about = window.shell.aboutWindow();
        QVERIFY(about);
        bool clickedWhileRunning = false;
        QTimer::singleShot(0, &window.form, [&] {
            window.form.close();
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
};

QTEST_MAIN(AboutWindowTest)
#include "about_window_test.moc"
