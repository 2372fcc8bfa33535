#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A SIP registrar and proxy of the test's own: Debian's kamailio with a
// generated configuration, on 127.0.0.1 (UDP and TCP), accounts kept in
// memory. REGISTER is challenged (digest) and takes one password for every
// account; an INVITE is sent to every registered contact of its user at once,
// as a PBX rings a desk phone and its extra registrations together. Every
// request and reply it sees is in its log.
class KamailioServer
{
public:
    // Null, with the reason in `why`, when kamailio cannot be started.
    static std::unique_ptr<KamailioServer> start(const QByteArray &password, QString *why);
    ~KamailioServer();

    quint16 port() const { return m_port; }
    // What kamailio wrote so far (read as the event loop runs).
    QString log() const { return QString::fromUtf8(m_log); }

    // Gone, as a provider that goes away; back on the same port.
    void stop();
    bool restart(QString *why);

private:
    KamailioServer() = default;
    bool run(QString *why);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QByteArray m_log;
};
