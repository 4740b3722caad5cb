#include "condition_wait.h"
#include "single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using vellum::platform::SingleInstance;
using vellum::testing::WaitTimeout;
using vellum::testing::waitUntil;

namespace {

// The account the other user's side runs as: "nobody" on Debian.
constexpr uid_t strangerId = 65534;

bool toAddress(const QByteArray& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    return true;
}

// Binds a plain Unix socket at the path, without Qt, so that a test can leave a stale socket file
// behind, hold a socket that never answers, or listen as another user.
int bindRawSocket(const QByteArray& path) {
    sockaddr_un address;
    if (!toAddress(path, address))
        return -1;
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (descriptor < 0)
        return -1;
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

// Reads up to and including a line break, or until the other end closes.
QByteArray readLine(int descriptor) {
    QByteArray line;
    char character = 0;
    while (!line.endsWith('\n') && ::read(descriptor, &character, 1) == 1)
        line.append(character);
    return line;
}

// MSG_NOSIGNAL: a peer that hung up must not end this process.
bool writeAll(int descriptor, const QByteArray& bytes) {
    return ::send(descriptor, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == bytes.size();
}

// Another user's impostor: listens at the path, says so on standard output, and then answers every
// line as a running copy would, until it is killed.
int listenAsStranger(const char* path) {
    const int descriptor = bindRawSocket(path);
    if (descriptor < 0 || ::listen(descriptor, 4) != 0)
        return 1;
    if (::write(STDOUT_FILENO, "listening\n", 10) != 10)
        return 1;
    for (;;) {
        const int connection = ::accept(descriptor, nullptr, nullptr);
        if (connection < 0)
            return 1;
        if (readLine(connection).endsWith('\n'))
            writeAll(connection, "ok\n");
        ::close(connection);
    }
}

// Another user's sender: asks for a restore and copies the answer, if any, to standard output.
// Fails only when it cannot connect at all.
int sendAsStranger(const char* path) {
    sockaddr_un address;
    if (!toAddress(path, address))
        return 1;
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (descriptor < 0 ||
        ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return 1;
    // A copy that keeps the connection open without answering must not keep this process forever.
    const timeval patience{5, 0};
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    writeAll(descriptor, "restore\n");
    const QByteArray answer = readLine(descriptor);
    ::close(descriptor);
    return ::write(STDOUT_FILENO, answer.constData(), answer.size()) == answer.size() ? 0 : 1;
}

mode_t modeOf(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

} // namespace

// Each run points TMPDIR and XDG_RUNTIME_DIR at folders of its own, so that parallel runs and a
// real copy of the program on this machine cannot interfere. A test that changes either gets them
// back before the next one.
class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_temporary.isValid());
        m_savedTemporaryFolder = qgetenv("TMPDIR");
        m_savedRuntimeFolder = qgetenv("XDG_RUNTIME_DIR");
        QVERIFY(QDir().mkdir(runtimeFolder()));
        QVERIFY(::chmod(QFile::encodeName(runtimeFolder()).constData(), 0700) == 0);
    }

    void init() {
        qputenv("TMPDIR", m_temporary.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", runtimeFolder().toLocal8Bit());
    }

    void cleanup() {
        // A link must go by itself: clearing it recursively would empty its target.
        if (QFileInfo(ownFolder()).isSymLink())
            QFile::remove(ownFolder());
        else
            QDir(ownFolder()).removeRecursively();
    }

    void cleanupTestCase() {
        restore("TMPDIR", m_savedTemporaryFolder);
        restore("XDG_RUNTIME_DIR", m_savedRuntimeFolder);
    }

    void secondCopySeesTheFirst() {
        auto first = std::make_unique<SingleInstance>("VellumFirst");
        QVERIFY(!first->anotherIsRunning());
        QCOMPARE(socketFilesStartingWith("VellumFirst-"), 1);
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

    void restoreRequestIsDelivered() {
        SingleInstance first("VellumRestore");
        QVERIFY(!first.anotherIsRunning());
        QSignalSpy received(&first, &SingleInstance::restoreRequested);
        SingleInstance second("VellumRestore");
        QVERIFY(second.anotherIsRunning());
        QVERIFY(second.requestRestore());
        QVERIFY(waitUntil([&] { return received.count() > 0; }));
        QCOMPARE(received.count(), 1);

        // A line that is no request of ours (an older copy's keystroke text) is answered, and
        // asks for nothing.
        QLocalSocket other;
        other.connectToServer(first.socketPath());
        QVERIFY(other.waitForConnected(5000));
        other.write("% R\n");
        QVERIFY(waitUntil([&] { return other.canReadLine(); }));
        QCOMPARE(other.readLine(), QByteArray("ok\n"));
        QCOMPARE(received.count(), 1);
    }

    void sendingWithoutListenerFails() {
        SingleInstance lonely("VellumLonely");
        QVERIFY(!lonely.requestRestore());
    }

    void listenerThatNeverAnswersTimesOut() {
        // A socket that accepts connections (the kernel does that) but never reads or answers.
        const int descriptor = bindRawSocket(QFile::encodeName(SingleInstance("VellumSilent").socketPath()));
        QVERIFY(descriptor >= 0);
        QVERIFY(::listen(descriptor, 4) == 0);
        SingleInstance second("VellumSilent");
        QVERIFY(second.anotherIsRunning());
        QVERIFY(!second.requestRestore());
        // The request went out, and the sender gave up waiting for the answer and hung up: the
        // connections still waiting to be accepted hold the request once, each up to its end.
        QVERIFY(::fcntl(descriptor, F_SETFL, O_NONBLOCK) == 0);
        QByteArray received;
        for (int connection; (connection = ::accept(descriptor, nullptr, nullptr)) >= 0;
             ::close(connection)) {
            char buffer[64];
            for (ssize_t got; (got = ::read(connection, buffer, sizeof buffer)) > 0;)
                received.append(buffer, got);
        }
        QCOMPARE(received, QByteArray("restore\n"));
        ::close(descriptor);
    }

    void staleSocketIsReplaced() {
        // A copy that crashed leaves its socket file behind with nobody listening.
        const int descriptor = bindRawSocket(QFile::encodeName(SingleInstance("VellumStale").socketPath()));
        QVERIFY(descriptor >= 0);
        ::close(descriptor);
        QCOMPARE(socketFilesStartingWith("VellumStale-"), 1);
        SingleInstance first("VellumStale");
        QVERIFY(!first.anotherIsRunning());
        SingleInstance second("VellumStale");
        QVERIFY(second.anotherIsRunning());
        QSignalSpy received(&first, &SingleInstance::restoreRequested);
        QVERIFY(second.requestRestore());
        QVERIFY(waitUntil([&] { return received.count() > 0; }));
    }

    void ownFolderStandsInForTheRuntimeFolder_data() {
        QTest::addColumn<QString>("runtimeFolder");
        QTest::addColumn<int>("runtimeMode");
        QTest::newRow("not set") << QString() << 0;
        QTest::newRow("relative") << "runtime" << 0;
        QTest::newRow("open to the group") << "group-runtime" << 0750;
        QTest::newRow("open to everybody") << "shared-runtime" << 0777;
    }

    void ownFolderStandsInForTheRuntimeFolder() {
        QFETCH(QString, runtimeFolder);
        QFETCH(int, runtimeMode);
        if (runtimeFolder.isNull()) {
            qunsetenv("XDG_RUNTIME_DIR");
        } else if (runtimeMode == 0) {
            qputenv("XDG_RUNTIME_DIR", runtimeFolder.toLocal8Bit());
        } else {
            const QString path = m_temporary.filePath(runtimeFolder);
            QVERIFY(QDir().mkpath(path));
            QVERIFY(::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(runtimeMode)) == 0);
            qputenv("XDG_RUNTIME_DIR", path.toLocal8Bit());
        }
        SingleInstance first("VellumOwnFolder");
        QVERIFY(!first.anotherIsRunning());
        QCOMPARE(QFileInfo(first.socketPath()).path(), ownFolder());
        QCOMPARE(modeOf(ownFolder()), mode_t(0700));
        SingleInstance second("VellumOwnFolder");
        QVERIFY(second.anotherIsRunning());
    }

    void unsafeOwnFolderIsNotUsed_data() {
        QTest::addColumn<bool>("link");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("foreign");
        QTest::newRow("symbolic link to a private folder") << true << 0700 << false;
        QTest::newRow("open to everybody") << false << 0777 << false;
        QTest::newRow("another user's") << false << 0700 << true;
    }

    void unsafeOwnFolderIsNotUsed() {
        QFETCH(bool, link);
        QFETCH(int, mode);
        QFETCH(bool, foreign);
        if (foreign && ::geteuid() != 0)
            QSKIP("Giving a folder to another user needs the superuser");
        qunsetenv("XDG_RUNTIME_DIR");
        QTemporaryDir target(m_temporary.filePath("target-XXXXXX"));
        QVERIFY(target.isValid());
        const QString watched = link ? target.path() : ownFolder();
        if (link) {
            QVERIFY(QFile::link(target.path(), ownFolder()));
        } else {
            const QByteArray path = QFile::encodeName(ownFolder());
            QVERIFY(QDir().mkdir(ownFolder()));
            QVERIFY(::chmod(path.constData(), static_cast<mode_t>(mode)) == 0);
            if (foreign)
                QVERIFY(::chown(path.constData(), strangerId, strangerId) == 0);
        }
        // Without a private folder no copy listens, so each one opens its own window.
        SingleInstance first("VellumUnsafe");
        QVERIFY(!first.anotherIsRunning());
        SingleInstance second("VellumUnsafe");
        QVERIFY(!second.anotherIsRunning());
        QVERIFY(!second.requestRestore());
        QCOMPARE(
            QDir(watched).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
    }

    void strangersListenerIsNoRunningCopy() {
        if (!canActAsStranger())
            QSKIP("Acting as another user needs the superuser and setpriv");
        QTemporaryDir folder(reachableFolderTemplate());
        QVERIFY(folder.isValid());
        qputenv("XDG_RUNTIME_DIR", folder.path().toLocal8Bit());
        const QString path = SingleInstance("VellumStranger").socketPath();
        QVERIFY(!path.isEmpty());

        // The folder is open only while the stranger puts its socket in; from then on it is private
        // again, as if the superuser had planted the socket.
        QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0777) == 0);
        QProcess stranger;
        startAsStranger(stranger, {"--listen-as-stranger", path});
        QVERIFY2(stranger.waitForReadyRead(static_cast<int>(WaitTimeout.count())),
                 stranger.readAllStandardError().constData());
        QCOMPARE(stranger.readLine(), QByteArray("listening\n"));
        QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0700) == 0);

        SingleInstance copy("VellumStranger");
        QVERIFY(!copy.anotherIsRunning());
        QVERIFY(!copy.requestRestore());
        // Neither removed nor replaced by a listener of ours.
        QCOMPARE(QFileInfo(path).ownerId(), strangerId);

        // Its socket, left behind once it is gone, is not this user's to clear away either.
        stranger.kill();
        QVERIFY(stranger.waitForFinished(static_cast<int>(WaitTimeout.count())));
        SingleInstance later("VellumStranger");
        QVERIFY(!later.anotherIsRunning());
        QCOMPARE(QFileInfo(path).ownerId(), strangerId);
    }

    void strangersKeysAreRefused() {
        if (!canActAsStranger())
            QSKIP("Acting as another user needs the superuser and setpriv");
        QTemporaryDir folder(reachableFolderTemplate());
        QVERIFY(folder.isValid());
        qputenv("XDG_RUNTIME_DIR", folder.path().toLocal8Bit());
        SingleInstance first("VellumStranger");
        QVERIFY(!first.anotherIsRunning());
        QSignalSpy received(&first, &SingleInstance::restoreRequested);

        // Opens the folder and the socket to everybody, so that only the check of the sender's
        // user stands between the stranger and this copy.
        QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(first.socketPath()).constData(), 0777) == 0);
        QProcess stranger;
        startAsStranger(stranger, {"--send-as-stranger", first.socketPath()});
        QVERIFY(waitUntil([&] { return stranger.state() == QProcess::NotRunning; }));
        QVERIFY2(stranger.exitStatus() == QProcess::NormalExit && stranger.exitCode() == 0,
                 stranger.readAllStandardError().constData());
        QCOMPARE(stranger.readAllStandardOutput(), QByteArray());
        QCOMPARE(received.count(), 0);
    }

private:
    QString runtimeFolder() const { return m_temporary.filePath("runtime"); }
    QString ownFolder() const { return m_temporary.filePath("vellum-" + QString::number(::geteuid())); }

    int socketFilesStartingWith(const QString& prefix) const {
        return static_cast<int>(
            QDir(runtimeFolder()).entryList({prefix + "*"}, QDir::System | QDir::Files).size());
    }

    static void restore(const char* name, const QByteArray& saved) {
        if (saved.isNull())
            qunsetenv(name);
        else
            qputenv(name, saved);
    }

    static bool canActAsStranger() {
        return ::geteuid() == 0 && !QStandardPaths::findExecutable("setpriv").isEmpty();
    }

    // The stranger has to walk down to its folder, which this run's own temporary folder (mode
    // 0700) would not let it do.
    static QString reachableFolderTemplate() { return QStringLiteral("/tmp/vellum-test-XXXXXX"); }

    // The stranger's side is this program again, started with the other user's ids.
    static void startAsStranger(QProcess& process, const QStringList& arguments) {
        process.start(QStandardPaths::findExecutable("setpriv"),
                      QStringList{"--reuid=" + QString::number(strangerId),
                                  "--regid=" + QString::number(strangerId), "--clear-groups",
                                  QCoreApplication::applicationFilePath()} +
                          arguments);
    }

    QTemporaryDir m_temporary;
    QByteArray m_savedTemporaryFolder;
    QByteArray m_savedRuntimeFolder;
};

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--listen-as-stranger") == 0)
        return listenAsStranger(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--send-as-stranger") == 0)
        return sendAsStranger(argv[2]);
    QCoreApplication application(argc, argv);
    SingleInstanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "single_instance_test.moc"
