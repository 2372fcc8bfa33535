#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// For the sources that reach out to a device or a server (modem, NCID, SIP):
// after a failure, tries again after 1, 2, 4 ... 30 seconds. A success that
// held for HeldMs starts the count again; one that failed sooner (a server
// that accepts and closes at once) does not.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    static constexpr int HeldMs = 30000;

    Reconnector(std::function<void()> attempt, QObject *parent);

    // The attempt failed, or what it opened was lost: try again later (once,
    // however often this is said).
    void failed();
    // The attempt worked (said again while it keeps working: the first counts).
    void succeeded();
    void stop();
    bool isWaiting() const { return m_timer.isActive(); }
    int nextDelayMs() const { return m_delayMs; }

private:
    std::function<void()> m_attempt;
    QTimer m_timer;
    int m_delayMs = 0;
    QElapsedTimer m_up; // since the last success; invalid while failing
};
