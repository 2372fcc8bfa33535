#pragma once

#include "core/callerid/LineSource.h"
#include "core/callerid/sources/LineSplitter.h"

#include <QHash>
#include <QTimer>

class QLocalServer;
class QLocalSocket;
class Reconnector;

// One number per line on a local socket in the data folder, for a telephone
// exchange on the same machine, scripts and `zuna --call`. Only so many
// clients at once, none idle for long: held connections cannot take the
// program's file descriptors. Each line is answered "OK" or "ERRO"; a client
// that leaves more than MaxUnreadReplies of answers unread is dropped. A line
// that is not plainly a number is refused (and shown as an unreadable call
// when it holds digits). A listener that stops is said on the display and
// started again.
class LocalSocketSource : public LineSource
{
    Q_OBJECT

public:
    static constexpr int MaxClients = 16;
    static constexpr int IdleMs = 5000;
    static constexpr qint64 MaxUnreadReplies = 16 * 1024;
    static constexpr qint64 Bite = 16 * 1024; // read per client and turn of the event loop

    LocalSocketSource(QString socketPath, QString areaCode, QObject *parent = nullptr);
    ~LocalSocketSource() override;
    void start() override;
    void stop() override;
    QString lineName() const override;

    // How long a client may stay without sending (tests shorten it).
    void setIdleMs(int ms) { m_idleMs = ms; }

    static QString socketPath(const QString &dataDir);
    // Hands a number to the copy of Zuna listening at `socketPath`.
    static bool sendNumber(const QString &socketPath, const QString &number, QString *error);

private:
    void listen();
    void accept();
    void serve(QLocalSocket *client);
    bool readClient(QLocalSocket *client); // true when it delivered a number

    QString m_path;
    QLocalServer *m_server;
    Reconnector *m_reconnect;
    QTimer m_watch; // notices a listener that stopped
    QHash<QLocalSocket *, LineSplitter> m_clients;
    int m_idleMs = IdleMs;
    bool m_running = false;
};
