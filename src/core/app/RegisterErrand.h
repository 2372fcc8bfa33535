#pragma once

#include <QObject>

#include <functional>

class QThread;
class Register;

// Register work the window hands to a thread of its own, when the register
// is a server across town whose answers would hold the window: the thread
// waits on the server no longer than the window would, and the work's end
// runs back on the window's thread. Errands run one at a time, in the order
// given.
class RegisterErrand : public QObject
{
    Q_OBJECT

public:
    explicit RegisterErrand(Register &reg, QObject *parent = nullptr);
    // Lets the errand running finish; those not started are dropped.
    ~RegisterErrand() override;

    // `work` on the errand's thread, then `done` on this object's thread,
    // unless this object is gone by then.
    void run(std::function<void()> work, std::function<void()> done);

private:
    void start();

    Register &m_register;
    QThread *m_thread = nullptr; // started at the first errand
    QObject *m_context = nullptr; // lives on m_thread
};
