#include "single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using vellum::platform::SingleInstance;

// Sockets go into the temporary folder; each run points TMPDIR at a folder of its own, so that
// parallel runs and a real copy of the program on this machine cannot interfere.
class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temporary.isValid());
        m_savedTemporaryFolder = qgetenv("TMPDIR");
        qputenv("TMPDIR", m_temporary.path().toLocal8Bit());
        QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(m_temporary.path()).canonicalPath());
    }

    void cleanupTestCase() {
        if (m_savedTemporaryFolder.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTemporaryFolder);
    }

    void secondCopySeesTheFirst() {
        auto first = std::make_unique<SingleInstance>("VellumFirst");
        QVERIFY(!first->anotherIsRunning());
        QVERIFY(socketFilesStartingWith("VellumFirst-") == 1);
        SingleInstance second("VellumFirst");
        QVERIFY(second.anotherIsRunning());
        first.reset();
        QCOMPARE(socketFilesStartingWith("VellumFirst-"), 0);
        SingleInstance third("VellumFirst");
        QVERIFY(!third.anotherIsRunning());
    }

    void otherTitlesDoNotMeet() {
        SingleInstance first("VellumOne");
        QVERIFY(!first.anotherIsRunning());
        SingleInstance other("VellumTwo");
        QVERIFY(!other.anotherIsRunning());
    }

    void unsafeTitleCharactersStayInTheFolder() {
        SingleInstance first("Vellum/../Zip Tester");
        QVERIFY(!first.anotherIsRunning());
        SingleInstance second("Vellum/../Zip Tester");
        QVERIFY(second.anotherIsRunning());
        QCOMPARE(socketFilesStartingWith("Vellum_.._Zip_Tester-"), 1);
    }

    void keysAreDelivered_data() {
        QTest::addColumn<QString>("keys");
        QTest::newRow("start a run") << "% R";
        QTest::newRow("not ASCII") << QString::fromUtf8("% \xc3\x84");
        QTest::newRow("blanks at the ends") << " x ";
    }

    void keysAreDelivered() {
        QFETCH(QString, keys);
        SingleInstance first("VellumKeys");
        QVERIFY(!first.anotherIsRunning());
        QSignalSpy received(&first, &SingleInstance::keysReceived);
        SingleInstance second("VellumKeys");
        QVERIFY(second.anotherIsRunning());
        QVERIFY(second.sendKeys(keys));
        QVERIFY(received.count() == 1 || received.wait(2000));
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toString(), keys);
    }

    void sendingWithoutListenerFailsQuickly() {
        SingleInstance lonely("VellumLonely");
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!lonely.sendKeys("% R"));
        QVERIFY(timer.elapsed() < 1500);
    }

    void listenerThatNeverAnswersTimesOut() {
        // A socket that accepts connections (the kernel does that) but never reads or answers.
        const int descriptor = bindRawSocket("VellumSilent");
        QVERIFY(descriptor >= 0);
        QVERIFY(::listen(descriptor, 4) == 0);
        SingleInstance second("VellumSilent");
        QVERIFY(second.anotherIsRunning());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!second.sendKeys("% R"));
        QVERIFY(timer.elapsed() < 4000);
        ::close(descriptor);
    }

    void staleSocketIsReplaced() {
        // A copy that crashed leaves its socket file behind with nobody listening.
        const int descriptor = bindRawSocket("VellumStale");
        QVERIFY(descriptor >= 0);
        ::close(descriptor);
        QCOMPARE(socketFilesStartingWith("VellumStale-"), 1);
        SingleInstance first("VellumStale");
        QVERIFY(!first.anotherIsRunning());
        SingleInstance second("VellumStale");
        QVERIFY(second.anotherIsRunning());
        QSignalSpy received(&first, &SingleInstance::keysReceived);
        QVERIFY(second.sendKeys("% R"));
        QVERIFY(received.count() == 1 || received.wait(2000));
    }

private:
    int socketFilesStartingWith(const QString& prefix) const {
        return static_cast<int>(
            QDir(m_temporary.path()).entryList({prefix + "*"}, QDir::System | QDir::Files).size());
    }

    // Binds a plain Unix socket at the path the program uses, without Qt, so that a test can
    // leave a stale socket file behind or hold a socket that never answers.
    int bindRawSocket(const QString& title) const {
        const QByteArray path =
            QDir(m_temporary.path()).filePath(SingleInstance(title).socketName()).toLocal8Bit();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
            return -1;
        std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (descriptor < 0)
            return -1;
        if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(descriptor);
            return -1;
        }
        return descriptor;
    }

    QTemporaryDir m_temporary;
    QByteArray m_savedTemporaryFolder;
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
