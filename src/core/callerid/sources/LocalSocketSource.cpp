#include "core/callerid/sources/LocalSocketSource.h"

#include "core/callerid/NumberNormaliser.h"
#include "core/callerid/sources/Reconnector.h"
#include "core/platform/DataFiles.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {
constexpr int WatchMs = 2000;
} // namespace

LocalSocketSource::LocalSocketSource(QString socketPath, QString areaCode, QObject *parent)
    : LineSource(std::move(areaCode), parent)
    , m_path(std::move(socketPath))
    , m_server(new QLocalServer(this))
    , m_reconnect(new Reconnector([this] { listen(); }, this))
{
    m_server->setMaxPendingConnections(MaxClients);
    connect(m_server, &QLocalServer::newConnection, this, &LocalSocketSource::accept);
    m_watch.setInterval(WatchMs);
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (m_running && !m_server->isListening() && !m_reconnect->isWaiting()) {
            reportStatus(
                QStringLiteral("O soquete local %1 parou de receber números; abrindo de novo.").arg(m_path), false);
            listen();
        }
    });
}

LocalSocketSource::~LocalSocketSource()
{
    stop();
}

QString LocalSocketSource::socketPath(const QString &dataDir)
{
    return QDir(dataDir).filePath(DataFiles::CallSocket);
}

void LocalSocketSource::start()
{
    m_running = true;
    m_reconnect->stop();
    listen();
    m_watch.start();
}

void LocalSocketSource::stop()
{
    m_running = false;
    m_reconnect->stop();
    m_watch.stop();
    for (QLocalSocket *client : m_clients.keys())
        client->abort();
    m_clients.clear();
    if (m_server->isListening())
        m_server->close();
}

void LocalSocketSource::listen()
{
    if (!m_running || m_server->isListening())
        return;
    QLocalServer::removeServer(m_path); // left by a copy that crashed
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path)) {
        reportStatus(QStringLiteral("O soquete local %1 não pôde ser aberto; tentando de novo.\nDetalhe: %2")
                         .arg(m_path, m_server->errorString()),
            false);
        m_reconnect->failed();
        return;
    }
    m_reconnect->succeeded();
}

void LocalSocketSource::accept()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        // Full: the client that handed over a number longest ago makes room,
        // so that held connections never lock a caller out.
        if (m_clients.size() >= MaxClients) {
            QLocalSocket *oldest = nullptr;
            int least = std::numeric_limits<int>::max();
            for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
                const auto *idle = it.key()->findChild<QTimer *>();
                const int left = idle ? idle->remainingTime() : 0;
                if (left < least) {
                    least = left;
                    oldest = it.key();
                }
            }
            m_clients.remove(oldest);
            oldest->abort();
            oldest->deleteLater();
        }
        m_clients.insert(client, LineSplitter());
        // What is read ahead for a client is bounded too: a client that
        // sends faster than it is served waits on its own side.
        client->setReadBufferSize(Bite);
        auto *idle = new QTimer(client);
        idle->setSingleShot(true);
        idle->start(m_idleMs);
        connect(idle, &QTimer::timeout, client, &QLocalSocket::abort);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { serve(client); });
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            m_clients.remove(client);
            client->deleteLater();
        });
    }
}

void LocalSocketSource::serve(QLocalSocket *client)
{
    if (!m_clients.contains(client))
        return;
    // Only a number keeps a client: blank lines or garbage do not.
    if (readClient(client)) {
        if (auto *idle = client->findChild<QTimer *>())
            idle->start(m_idleMs);
    }
    // A bite per turn of the event loop: a client sending at full speed
    // never holds the window; the rest is read at the next turn.
    if (m_clients.contains(client) && client->bytesAvailable() > 0)
        QTimer::singleShot(0, client, [this, client] { serve(client); });
}

bool LocalSocketSource::readClient(QLocalSocket *client)
{
    auto lines = m_clients.find(client);
    if (lines == m_clients.end())
        return false;
    bool delivered = false;
    for (const QByteArray &raw : lines->feed(client->read(Bite))) {
        // A client that does not read its answers is let go: what is owed
        // to it cannot grow without bound. (What the system would still
        // take for it is handed over first.)
        if (client->bytesToWrite() > MaxUnreadReplies && (client->flush(), client->bytesToWrite() > MaxUnreadReplies)) {
            m_clients.remove(client);
            client->abort();
            client->deleteLater();
            return false;
        }
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!NumberNormaliser::isReadable(line)) {
            client->write("ERRO: não é um número\n");
            // Digits of any kind: a call all the same, shown as unreadable.
            if (std::any_of(line.cbegin(), line.cend(), [](QChar c) { return c.isDigit(); }))
                deliverNumber(line);
            continue;
        }
        deliverNumber(line);
        client->write("OK\n");
        delivered = true;
    }
    return delivered;
}

bool LocalSocketSource::sendNumber(const QString &socketPath, const QString &number, QString *error)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(2000)) {
        *error = QStringLiteral("O monitor de chamadas do Zuna não está ativo nesta pasta de dados (F1 o ativa).");
        return false;
    }
    socket.write(number.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(2000) || !socket.waitForReadyRead(2000) || !socket.readLine().startsWith("OK")) {
        *error = QStringLiteral("O Zuna não confirmou o número.");
        return false;
    }
    socket.disconnectFromServer();
    return true;
}

QString LocalSocketSource::lineName() const
{
    return m_path;
}
