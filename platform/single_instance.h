#pragma once

// One running copy per user. The first copy listens on a local socket named after the program
// title and the user; a later copy connects, hands over a keystroke text and ends.

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace vellum::platform {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString programTitle, QObject* parent = nullptr);

    // True when another copy already listens. Otherwise this copy starts listening.
    bool anotherIsRunning();

    // Sends the keystrokes text (for example "% R") to the running copy and waits until it has
    // been read. False when no copy answered.
    bool sendKeys(const QString& keys);

    // The local socket's name: the title and the user name, with every character that is not safe
    // in a file name replaced by '_'. It lies in the temporary folder (QDir::tempPath()).
    QString socketName() const;

signals:
    // The running copy received keystrokes from a later copy.
    void keysReceived(const QString& keys);

private:
    void serveConnection();

    QString m_programTitle;
    QLocalServer m_server;
};

} // namespace vellum::platform
