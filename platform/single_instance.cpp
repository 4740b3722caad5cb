#include "single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLocalSocket>
#include <QTimer>

#include <pwd.h>
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

QString userName() {
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(::geteuid());
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
    // Only this user may connect: keystrokes from another user must not drive this copy.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (m_server.hasPendingConnections())
            serveConnection();
    });
}

QString SingleInstance::socketName() const {
    // A relative name puts the socket into the temporary folder; it must stay one plain file name.
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
    return name;
}

bool SingleInstance::anotherIsRunning() {
    if (m_server.isListening())
        return false;
    const QString name = socketName();
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(connectTimeoutMs)) {
        probe.abort();
        return true;
    }
    // Nobody answered, so a socket file left there belongs to a copy that ended without cleaning up.
    QLocalServer::removeServer(name);
    m_server.listen(name);
    return false;
}

bool SingleInstance::sendKeys(const QString& keys) {
    QLocalSocket socket;
    socket.connectToServer(socketName());
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    // The text travels as one line, so line breaks inside it cannot be sent.
    QString line = keys;
    line.remove(QLatin1Char('\r'));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    socket.write(line.toUtf8() + '\n');
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
        emit keysReceived(QString::fromUtf8(line));
    });
}

} // namespace vellum::platform
