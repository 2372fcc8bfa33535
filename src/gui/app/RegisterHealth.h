#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QLabel;
class Register;

// How the window fares with its register: a notice over the grid while the
// register cannot be read (busy, out of reach), read again until it can;
// another desk's writes followed in place once their burst is over; and the
// end of the program only when the register is gone for good and nothing
// typed would be lost with it.
class RegisterHealth : public QObject
{
    Q_OBJECT

public:
    // What the window does for it.
    struct Window
    {
        // The list (the search in force) and the count read again.
        std::function<bool(QString *error)> readAgain;
        // The list and the count read again in place after another desk's write.
        std::function<bool(QString *error)> follow;
        // Whether the form holds typing that ending now would lose.
        std::function<bool()> holdsTyping;
        // Reports the error and ends the program.
        std::function<void(const QString &error)> fail;
    };

    RegisterHealth(QLabel *notice, Window window, QObject *parent = nullptr);

    // The register watched from now on (its other desks and its server).
    void watch(Register *reg);

    // A read or write failed: said over the grid and retried, or, when the
    // register is gone for good with nothing typed, the end.
    void trouble(const QString &error);
    // The register is busy: said over the grid while a page is waited for.
    void waiting(const QString &why);
    // A page was read after waiting or failing.
    void recovered();
    // The list and the count were read again after a write.
    void readable();

private:
    void showNotice(const QString &error);
    void retry();
    void changedElsewhere();
    void reachabilityChanged(bool reachable, const QString &why);
    void followChanges();

    QLabel *m_notice;
    Window m_window;
    Register *m_register = nullptr;
    QTimer m_retry;
    QTimer m_elsewhere;
};
