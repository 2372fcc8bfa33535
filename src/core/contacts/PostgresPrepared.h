#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

// A write that a connection prepares once, in SQL (PREPARE), and runs by
// name (EXECUTE) in a string of statements: BEGIN and the write travel in
// one round trip, and the server parses and plans the write once per
// connection instead of at every save. The PREPARE goes first in the same
// string on a connection that has not made it yet.
class PostgresPrepared
{
public:
    // `types`: the parameters' types ("text, bigint"); `statement` uses
    // them as $1, $2...
    PostgresPrepared(QString name, QString types, QString statement);

    // Runs `before` (empty, or "BEGIN") and the statement with `arguments`
    // (literals as the driver writes them). On success the query stands on
    // the statement's result. When the server no longer holds the statement
    // (a session reset), it is prepared again and asked once more; a
    // transaction `before` opened is then rolled back first.
    bool exec(QSqlQuery &query, const QSqlDatabase &db, const QString &before, const QStringList &arguments) const;

private:
    bool run(QSqlQuery &query, const QString &sql) const;

    QString m_name;
    QString m_types;
    QString m_statement;
};
