#pragma once

#include <QString>
#include <QTemporaryDir>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A PostgreSQL server of the test's own: initdb and pg_ctl from Debian's
// postgresql package, a cluster in a temporary folder, reachable only on a
// Unix socket there (and on localhost with TLS after serveTls()), trust
// authentication. When the tests run as root the
// cluster belongs to the postgres user, as the server refuses to run as
// root. One server per test program; each test takes a database of its own.
// A benchmark starts one of its own that writes as a real server does.
class PostgresServer
{
public:
    // Throwaway: nothing is flushed to disk (fsync, synchronous commit and
    // full-page writes off), which keeps the tests quick. Durable: the
    // server's own defaults, every commit flushed, as at a real site.
    enum class Durability { Throwaway, Durable };

    // The program's server, started on first use; null, with the reason in
    // `why`, when no server can be started (no server binary installed).
    static PostgresServer *shared(QString *why);
    // A server of the caller's own, stopped and removed when it is destroyed.
    static std::unique_ptr<PostgresServer> startNew(Durability durability, QString *why);

    ~PostgresServer();

    // A new, empty database: its connection URI. With `withRegister`, the
    // register's schema is created in it as `zuna --init --database` does.
    QString newDatabase(bool withRegister = true);
    // Runs SQL on a database as another program would (psql); fails the
    // program when it cannot.
    void exec(const QString &url, const QString &sql) const;
    // The one value (one row, one column) a query returns, as text, read as
    // another program would (psql); fails the program when it cannot.
    QString value(const QString &url, const QString &sql) const;
    // Stops and starts the server under running clients.
    bool stop();
    bool start();
    // Freezes the server and every process of it (SIGSTOP), as a host that
    // hangs: connections stay open and nothing answers. It thaws at
    // resume(), or by itself after `atMostMs`, so that a client that never
    // gives up cannot hang the test program for good.
    bool suspend(int atMostMs);
    // Kills the server and every process of it at once (SIGKILL), as a
    // machine that loses its power; start() recovers it from its log.
    bool crash();
    void resume();
    // Makes every commit on database `url`'s new sessions wait, after it is
    // written, for a standby that never comes: the commit is stored, its
    // answer never sent. Released at releaseCommits(), or after `atMostMs`.
    void holdCommits(const QString &url, int atMostMs);
    void releaseCommits();
    // Restarts the server listening on TCP too, on localhost at a free port,
    // with TLS on: the certificate and key given (PEM files), as a server
    // reached over the internet is. Connections over TCP must use TLS. False,
    // with the reason in `why`, when it does not start so.
    bool serveTls(const QString &certificateFile, const QString &keyFile, QString *why);
    // The TCP port, once serveTls() succeeded.
    int tcpPort() const { return m_tls ? m_port : 0; }
    // The Unix socket's file, for a program that forwards connections to it.
    QString socketFile() const;

private:
    explicit PostgresServer(Durability durability)
        : m_durability(durability)
    {
    }
    bool init(QString *why);
    // Stops the servers of test programs that ended without stopping them.
    void stopAbandoned() const;
    bool run(const QString &program, const QStringList &arguments, QString *output = nullptr) const;
    // The server's processes: the postmaster first.
    QList<qint64> processes() const;
    void signalAll(int signal) const;
    // Runs `undo` after `atMostMs` unless undoNow() comes first.
    void undoLater(int atMostMs, std::function<void()> undo);
    void undoNow();
    QString adminUrl() const;

    Durability m_durability;
    QString m_bin;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_socketDir;
    int m_port = 0;
    bool m_tls = false;
    int m_databases = 0;
    std::mutex m_undoMutex;
    std::condition_variable m_undoWake;
    bool m_undoDue = false;
    std::function<void()> m_undo;
    std::thread m_undoThread;
};
