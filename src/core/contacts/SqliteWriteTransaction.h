#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>

// One write transaction; IMMEDIATE takes the write lock at the start, so a
// file busy with another writer is waited on (busy timeout) rather than
// failing half-way.
class SqliteWriteTransaction
{
public:
    explicit SqliteWriteTransaction(const QSqlDatabase &db)
        : m_query(db)
    {
        m_ok = m_query.exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    ~SqliteWriteTransaction()
    {
        if (m_ok && !m_done)
            m_query.exec(QStringLiteral("ROLLBACK"));
    }
    bool begun() const { return m_ok; }
    bool commit()
    {
        m_done = m_query.exec(QStringLiteral("COMMIT"));
        return m_done;
    }
    const QSqlQuery &query() const { return m_query; }

private:
    QSqlQuery m_query;
    bool m_ok = false;
    bool m_done = false;
};
