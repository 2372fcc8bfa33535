#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <memory>

// A statement of the register prepared once on a connection and kept for the
// connection's life, instead of prepared and freed again at each use (two
// more round trips each time). Qt's driver frees a statement when its query
// goes; the connection's queries are therefore kept here, by connection, and
// dropped only just before the connection closes (forget()).
//
// A preparation the server refused or cancelled (a statement time limit
// hit while it waited for a lock) leaves nothing kept: the statement reports
// the server's error, is not run, and is prepared anew at its next use.
class PostgresStatement
{
public:
    // `sql` with positional parameters (?), prepared on `db` on first use.
    PostgresStatement(const QSqlDatabase &db, const QString &sql);
    ~PostgresStatement();
    PostgresStatement(const PostgresStatement &) = delete;
    PostgresStatement &operator=(const PostgresStatement &) = delete;

    // Its query, for binding values and reading rows (forward only); after
    // a failed preparation, one that holds the server's error.
    QSqlQuery &query() { return *m_query; }
    // Runs it with the values bound; false (the error in query()) when it
    // failed or could not be prepared.
    bool exec();

    // Drops the statements kept for connection `name`; called before that
    // connection is closed, while the server can still be told.
    static void forget(const QString &name);

private:
    QSqlQuery *m_query = nullptr;
    std::unique_ptr<QSqlQuery> m_own; // not kept: failed, or in use already
    bool *m_inUse = nullptr;
    bool m_prepared = false;
};
