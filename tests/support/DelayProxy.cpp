#include "DelayProxy.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QPointer>
#include <QQueue>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>

// The proxy's work on its thread: the listening port and every connection.
class DelayProxy::Pipes : public QObject
{
public:
    Pipes(QString socketFile, int oneWayMs)
        : m_delayMs(oneWayMs)
        , m_socketFile(std::move(socketFile))
    {
        m_clock.start();
    }

    int listen()
    {
        if (!m_server.listen(QHostAddress::LocalHost))
            return 0;
        connect(&m_server, &QTcpServer::newConnection, this, &Pipes::accept);
        return m_server.serverPort();
    }

private:
    // Bytes read from one side, due at the other at `dueMs` on m_clock.
    struct Chunk
    {
        qint64 dueMs;
        QByteArray bytes;
    };
    // One direction of one connection: read from `from`, written to `to`
    // once due; `to` is closed once `from` closed and all is written.
    struct Direction
    {
        QPointer<QIODevice> to;
        QQueue<Chunk> pending;
        QTimer timer;
        bool fromClosed = false;
        std::function<void()> close;
    };

    void accept()
    {
        while (QTcpSocket *client = m_server.nextPendingConnection()) {
            client->setParent(this);
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            auto *server = new QLocalSocket(this);
            server->connectToServer(m_socketFile);
            if (!server->waitForConnected(5000)) {
                client->abort();
                client->deleteLater();
                server->deleteLater();
                continue;
            }
            auto *up = new Direction;
            auto *down = new Direction;
            up->to = server;
            up->close = [server] { server->disconnectFromServer(); };
            down->to = client;
            down->close = [client] { client->disconnectFromHost(); };
            wire(client, up);
            wire(server, down);
            // Both directions go when both sides are closed.
            auto gone = std::make_shared<int>(0);
            auto done = [=, this] {
                if (++*gone == 2) {
                    delete up;
                    delete down;
                    client->deleteLater();
                    server->deleteLater();
                }
            };
            connect(client, &QTcpSocket::disconnected, this, done);
            connect(server, &QLocalSocket::disconnected, this, done);
        }
    }

    void wire(QIODevice *from, Direction *d)
    {
        d->timer.setSingleShot(true);
        d->timer.setTimerType(Qt::PreciseTimer);
        connect(&d->timer, &QTimer::timeout, this, [=, this] { deliver(d); });
        connect(from, &QIODevice::readyRead, this, [=, this] {
            d->pending.enqueue({ m_clock.elapsed() + m_delayMs, from->readAll() });
            if (!d->timer.isActive())
                deliver(d);
        });
        auto closed = [=, this] {
            d->fromClosed = true;
            if (!d->timer.isActive())
                deliver(d);
        };
        if (auto *tcp = qobject_cast<QTcpSocket *>(from))
            connect(tcp, &QTcpSocket::disconnected, this, closed);
        else if (auto *local = qobject_cast<QLocalSocket *>(from))
            connect(local, &QLocalSocket::disconnected, this, closed);
    }

    void deliver(Direction *d)
    {
        const qint64 now = m_clock.elapsed();
        while (!d->pending.isEmpty() && d->pending.head().dueMs <= now) {
            const QByteArray bytes = d->pending.dequeue().bytes;
            if (d->to)
                d->to->write(bytes);
        }
        if (!d->pending.isEmpty())
            d->timer.start(int(d->pending.head().dueMs - now));
        else if (d->fromClosed && d->close)
            std::exchange(d->close, {})();
    }

public:
    std::atomic<int> m_delayMs;

private:
    QString m_socketFile;
    QElapsedTimer m_clock;
    QTcpServer m_server { this }; // moves to the proxy's thread with it
};

DelayProxy::DelayProxy(const QString &socketFile, int oneWayMs)
    : m_thread(new QThread)
    , m_pipes(new Pipes(socketFile, oneWayMs))
{
    m_thread->setObjectName(QStringLiteral("proxy"));
    m_pipes->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(
        m_pipes, [this] { m_port = m_pipes->listen(); }, Qt::BlockingQueuedConnection);
}

void DelayProxy::setDelay(int oneWayMs)
{
    m_pipes->m_delayMs = oneWayMs;
}

DelayProxy::~DelayProxy()
{
    QMetaObject::invokeMethod(
        m_pipes, [this] { delete m_pipes; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}
