#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

// A SIP phone driven by the test: Debian's baresip with one account, no
// sound, commanded and watched through its ctrl_tcp module (netstrings of
// JSON). It calls and hangs up as told, or, as a desk phone, registers and
// answers by itself.
class BaresipPhone
{
public:
    // `account` is a baresip account line, e.g.
    // "Padaria" <sip:1133334444@127.0.0.1>;regint=0
    static std::unique_ptr<BaresipPhone> start(const QString &account, QString *why);
    ~BaresipPhone();

    void dial(const QString &uri);
    void hangUp();
    // Event types seen so far ("CALL_RINGING", "CALL_CLOSED", ...).
    QStringList events() const { return m_events; }
    // The reason of the last CALL_CLOSED, e.g. "487 Request Terminated".
    QString closedReason() const { return m_closedReason; }
    QString output() const { return QString::fromUtf8(m_output); }

private:
    BaresipPhone() = default;
    static std::unique_ptr<BaresipPhone> launch(const QString &program, const QString &account, QString *why);
    void send(const QByteArray &json);
    void readEvents();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QTcpSocket m_control;
    QByteArray m_pending;
    QByteArray m_output;
    QStringList m_events;
    QString m_closedReason;
};
