#pragma once

#include <QSqlDatabase>

#include <atomic>

// A time limit, kept by the program itself, on what one connection to the
// server does meanwhile. When it passes before the object goes, the
// connection's socket is shut down: a libpq call waiting for an answer
// returns at once, as from a lost connection, and the connection is of no
// further use. The server's own limits (statement_timeout, lock_timeout) end
// a statement that runs or waits too long, but a server that does not run at
// all (a hung host, a pulled cable) answers nothing until TCP gives up,
// minutes later; this ends that wait too.
class PostgresDeadline
{
public:
    // No limit when `ms` is 0 or `db` is not an open QPSQL connection.
    PostgresDeadline(const QSqlDatabase &db, int ms);
    ~PostgresDeadline();
    PostgresDeadline(const PostgresDeadline &) = delete;
    PostgresDeadline &operator=(const PostgresDeadline &) = delete;

    // Lifts the limit now (before the connection is closed: its socket's
    // number may be another's next).
    void end();
    // Whether the limit passed and the connection was given up.
    bool passed() const { return m_passed; }

private:
    quint64 m_id = 0;
    std::atomic<bool> m_passed { false };
};
