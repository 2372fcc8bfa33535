#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A PostgreSQL server of the test's own: initdb and pg_ctl from Debian's
// postgresql package, a cluster in a temporary folder, reachable only on a
// Unix socket there, trust authentication. When the tests run as root the
// cluster belongs to the postgres user, as the server refuses to run as
// root. One server per test program; each test takes a database of its own.
class PostgresServer
{
public:
    // The program's server, started on first use; null, with the reason in
    // `why`, when no server can be started (no server binary installed).
    static PostgresServer *shared(QString *why);

    ~PostgresServer();

    // A new, empty database: its connection URI. With `withRegister`, the
    // register's schema is created in it as `zuna --init --database` does.
    QString newDatabase(bool withRegister = true);
    // Runs SQL on a database as another program would (psql); fails the
    // program when it cannot.
    void exec(const QString &url, const QString &sql) const;
    // Stops and starts the server under running clients.
    bool stop();
    bool start();

private:
    PostgresServer() = default;
    bool init(QString *why);
    bool run(const QString &program, const QStringList &arguments, QString *output = nullptr) const;

    QString m_bin;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_socketDir;
    int m_port = 0;
    int m_databases = 0;
};
