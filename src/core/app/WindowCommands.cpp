#include "core/app/WindowCommands.h"

#include "core/platform/DataFolder.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {
constexpr int WaitMs = 2000;
}

QString WindowCommands::socketPath(const QString &dataDir)
{
    return QDir(dataDir).filePath(QStringLiteral(".zuna-janela.sock"));
}

WindowCommands::WindowCommands(const QString &dataDir, QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    const QString path = socketPath(dataDir);
    QLocalServer::removeServer(path);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server->listen(path))
        DataFolder::makePrivate(path);
    connect(m_server, &QLocalServer::newConnection, this, &WindowCommands::takeConnection);
}

bool WindowCommands::isListening() const
{
    return m_server->isListening();
}

void WindowCommands::takeConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A client that says nothing is let go.
        QTimer::singleShot(WaitMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64)
                    socket->abort();
                return;
            }
            const QString command = QString::fromUtf8(socket->readLine(64)).trimmed();
            if (!isCommand(command)) {
                socket->write("ERRO\n");
                socket->disconnectFromServer();
                return;
            }
            socket->write("OK\n");
            socket->disconnectFromServer();
            // After the answer: the window it opens may run a loop of its own.
            QTimer::singleShot(0, this, [this, command] { emit received(command); });
        });
    }
}

bool WindowCommands::send(const QString &dataDir, const QString &command)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath(dataDir));
    if (!socket.waitForConnected(WaitMs))
        return false;
    socket.write(command.toUtf8() + '\n');
    return socket.waitForBytesWritten(WaitMs) && socket.waitForReadyRead(WaitMs) && socket.readLine().startsWith("OK");
}
