#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Lets a second `zuna --abrir chamadas|configuracao` (the desktop entry's
// actions) open a window of the copy that runs on the data folder: the
// running copy listens on `.zuna-janela.sock` in it, for its user alone, and
// takes one command per connection.
class WindowCommands : public QObject
{
    Q_OBJECT

public:
    static inline const QString Calls = QStringLiteral("chamadas");
    static inline const QString Setup = QStringLiteral("configuracao");

    static bool isCommand(const QString &text) { return text == Calls || text == Setup; }
    static QString socketPath(const QString &dataDir);

    // Starts listening; a socket left by a copy that crashed is replaced
    // (only the copy holding the folder's lock gets this far).
    explicit WindowCommands(const QString &dataDir, QObject *parent = nullptr);

    bool isListening() const;

    // Hands `command` to the copy running on `dataDir`. False when none
    // listens or it did not confirm.
    static bool send(const QString &dataDir, const QString &command);

signals:
    void received(const QString &command);

private:
    void takeConnection();

    QLocalServer *m_server;
};
