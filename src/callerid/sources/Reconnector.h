#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// For the sources that reach out to a device or a server (modem, NCID, SIP):
// after a failure, tries again after 1, 2, 4 ... 30 seconds; a success starts
// the count again.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    Reconnector(std::function<void()> attempt, QObject *parent);

    // The attempt failed: try again later (once, however often this is said).
    void failed();
    void succeeded();
    void stop();
    bool isWaiting() const { return m_timer.isActive(); }
    int nextDelayMs() const { return m_delayMs; }

private:
    std::function<void()> m_attempt;
    QTimer m_timer;
    int m_delayMs = 0;
};
