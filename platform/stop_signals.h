#pragma once

// SIGINT, SIGTERM and SIGHUP as requests to stop. The first of them is handed to the event loop
// (stopRequested), so that the program can stop its work and still write what it has; a second one
// ends the program at once with the signal's own default action.

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace vellum::platform {

class StopSignals final : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; only one object may exist at a time.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // The signal that asked to stop, or 0 while none has.
    int received() const { return m_received; }

signals:
    void stopRequested(int signalNumber);

private:
    void readSignal();

    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_received = 0;
};

} // namespace vellum::platform
