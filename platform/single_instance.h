#pragma once

// One running copy per user. The first copy listens on a local socket; a later copy connects,
// asks it to show itself and ends.
//
// The socket lies in a folder only this user can enter: $XDG_RUNTIME_DIR when it is an absolute
// path to a real folder owned by this user and closed to group and others, otherwise
// "<temporary folder>/vellum-<uid>" ($TMPDIR when absolute, else /tmp), made with mode 0700. A
// vellum-<uid> found there that is a symbolic link, belongs to someone else or is open to group
// or others is not used, and then no hand-over is possible: every copy runs on its own and none
// listens. Both ends also ask the kernel who the other end is: requests are taken only from a
// sender of this user, and a listener of another user is no running copy of ours. Such a listener
// (only the superuser could put one into a private folder) is left alone: the copy neither hands
// over to it nor removes its socket, and it does not listen itself. A socket file of this user
// that nobody listens on any more is replaced.

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace vellum::platform {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString programTitle, QObject* parent = nullptr);

    // True when another copy of this user already listens. Otherwise this copy starts listening,
    // unless there is no private folder or something not of this user (a listener or a file)
    // holds the socket's place.
    bool anotherIsRunning();

    // Asks the running copy to come back to its normal state and to the front, and waits until
    // it has read the request. False when no copy of this user answered.
    bool requestRestore();

    // The local socket's full path: the private folder, then the title and the user name with
    // every character that is not safe in a file name replaced by '_'. Empty when there is no
    // private folder. Finding the folder may create it.
    QString socketPath() const;

signals:
    // A later copy asked this one to come back to its normal state and to the front.
    void restoreRequested();

private:
    void serveConnection();

    QString m_programTitle;
    QLocalServer m_server;
};

} // namespace vellum::platform
