#include "single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellum::platform {

namespace {

constexpr int connectTimeoutMs = 500;
constexpr int answerTimeoutMs = 2000;
// A sender that connects and then says nothing is dropped after this long.
constexpr int idleClientTimeoutMs = 5000;
// Keystroke texts are short; a longer line is not one of ours.
constexpr qint64 longestLine = 4096;
const QByteArray acknowledgement = QByteArrayLiteral("ok\n");
// The one request a later copy makes, as one line.
const QByteArray restoreRequest = QByteArrayLiteral("restore");

QString userName() {
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(::geteuid());
}

// lstat, not stat: a symbolic link is refused rather than followed, since whoever can write the
// folder holding it could point it anywhere.
bool isPrivateFolder(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QString temporaryFolder() {
    const QString folder = qEnvironmentVariable("TMPDIR");
    return QDir::isAbsolutePath(folder) ? folder : QStringLiteral("/tmp");
}

// A folder nobody else can enter, so nobody else can take the socket's place or listen in our
// stead. Empty when there is none.
QString privateFolder() {
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtimeFolder) && isPrivateFolder(runtimeFolder))
        return QDir::cleanPath(runtimeFolder);
    const QString ownFolder =
        QDir::cleanPath(temporaryFolder() + QStringLiteral("/vellum-") + QString::number(::geteuid()));
    // mkdir never follows a link and fails on anything already there, so one found there, made by
    // an earlier copy or planted by someone else, has to pass the same test.
    ::mkdir(QFile::encodeName(ownFolder).constData(), S_IRWXU);
    return isPrivateFolder(ownFolder) ? ownFolder : QString();
}

// The kernel records who made the other end of a local connection (for a listening socket, who
// called listen), so neither end can pretend to be someone else.
bool peerIsThisUser(const QLocalSocket& socket) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                        &length) == 0 &&
           credentials.uid == ::geteuid();
}

// Only a socket file this user made is cleared away; anything else at that name is not ours to
// delete.
bool isAbsentOrOwnSocket(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT;
    return S_ISSOCK(status.st_mode) && status.st_uid == ::geteuid();
}

// Waits for the acknowledgement line. With an application object the wait runs a local event loop,
// so a server living in this same thread can still answer; without one it blocks on the socket.
bool waitForLine(QLocalSocket& socket, int timeoutMs) {
    if (QCoreApplication::instance() == nullptr) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!socket.canReadLine()) {
            if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return false;
        }
        return true;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        if (socket.canReadLine())
            loop.quit();
    });
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return socket.canReadLine();
}

} // namespace

SingleInstance::SingleInstance(QString programTitle, QObject* parent)
    : QObject(parent), m_programTitle(std::move(programTitle)) {
    // The private folder already keeps other users out; the socket's own mode still holds should
    // the folder ever be opened up.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (m_server.hasPendingConnections())
            serveConnection();
    });
}

QString SingleInstance::socketPath() const {
    if (m_server.isListening())
        return m_server.fullServerName();
    const QString folder = privateFolder();
    if (folder.isEmpty())
        return {};
    // The title must not lead out of the folder: the name stays one plain file name.
    QString name = m_programTitle + QLatin1Char('-') + userName();
    for (QChar& character : name) {
        const bool safe = (character >= QLatin1Char('a') && character <= QLatin1Char('z')) ||
                          (character >= QLatin1Char('A') && character <= QLatin1Char('Z')) ||
                          (character >= QLatin1Char('0') && character <= QLatin1Char('9')) ||
                          character == QLatin1Char('-') || character == QLatin1Char('_') ||
                          character == QLatin1Char('.');
        if (!safe)
            character = QLatin1Char('_');
    }
    return folder + QLatin1Char('/') + name;
}

bool SingleInstance::anotherIsRunning() {
    if (m_server.isListening())
        return false;
    const QString path = socketPath();
    if (path.isEmpty())
        return false;
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(connectTimeoutMs)) {
        // A listener of another user is no copy to hand over to. Replacing its socket would cover
        // up who put it there, so this copy leaves it alone and runs without listening.
        const bool ours = peerIsThisUser(probe);
        probe.abort();
        return ours;
    }
    if (!isAbsentOrOwnSocket(path))
        return false;
    // Nobody answered, so a socket file left there belongs to a copy that ended without cleaning up.
    QLocalServer::removeServer(path);
    m_server.listen(path);
    return false;
}

bool SingleInstance::requestRestore() {
    const QString path = socketPath();
    if (path.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    if (!peerIsThisUser(socket)) {
        socket.abort();
        return false;
    }
    socket.write(restoreRequest + '\n');
    socket.flush();
    if (!waitForLine(socket, answerTimeoutMs))
        return false;
    const bool acknowledged = socket.readLine() == acknowledgement;
    socket.disconnectFromServer();
    return acknowledged;
}

void SingleInstance::serveConnection() {
    QLocalSocket* connection = m_server.nextPendingConnection();
    if (connection == nullptr)
        return;
    if (!peerIsThisUser(*connection)) {
        connection->abort();
        connection->deleteLater();
        return;
    }
    connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
    QTimer::singleShot(idleClientTimeoutMs, connection, [connection] {
        connection->abort();
        connection->deleteLater();
    });
    connect(connection, &QLocalSocket::readyRead, this, [this, connection] {
        if (!connection->canReadLine()) {
            if (connection->bytesAvailable() > longestLine) {
                connection->abort();
                connection->deleteLater();
            }
            return;
        }
        QByteArray line = connection->readLine();
        line.chop(1);
        connection->write(acknowledgement);
        connection->flush();
        // A request this copy does not know is read and answered, and asks for nothing.
        if (line == restoreRequest)
            emit restoreRequested();
    });
}

} // namespace vellum::platform
