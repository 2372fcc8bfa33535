#pragma once

#include "core/contacts/PostgresConnection.h"
#include "core/contacts/Register.h"

#include <QSet>
#include <QSqlDatabase>

#include <functional>
#include <memory>

class PostgresStatement;
class QSqlError;
class QSqlQuery;

// The statements of the server register that take more than a line or
// two: a page of the contact list and of the call log (shared with the
// readers), how their rows are read, and contacts brought in in batches.
class PostgresQueries
{
public:
    static inline const QString Columns = QStringLiteral("cd, a1, a4, a9, a10, a11, a12, a13, a14, ob");
    static inline const QString CallColumns
        = QStringLiteral("id, extract(epoch FROM quando)::bigint, tipo, recebido, chave, numero, nome_linha, fonte, "
                         "linha, cd, nome");

    // Up to `limit` contacts whose names match `pattern`, in name order,
    // after `after` when it is set. `problem` receives what a failure met.
    static bool listPage(QSqlDatabase db, const QString &server, const NamePattern &pattern,
        const Register::ListRow *after, int limit, QList<Register::ListRow> *rows, QString *error,
        PostgresConnection::Problem *problem = nullptr);
    // Up to `limit` calls that pass `filter`, newest first.
    static bool readCalls(QSqlDatabase db, const QString &server, const CallFilter &filter, qint64 beforeId, int limit,
        QList<CallRecord> *rows, QString *error, PostgresConnection::Problem *problem = nullptr);
    // The statement of a page of calls, its values bound, kept on `db`.
    static std::unique_ptr<PostgresStatement> callsQuery(
        QSqlDatabase db, const CallFilter &filter, qint64 beforeId, int limit);
    static void readCallRows(QSqlQuery &query, QList<CallRecord> *rows);
    // A call of the log, its columns as CallColumns names them.
    static CallRecord callAt(const QSqlQuery &query);
    // A contact's nine columns (a1 … ob, as stored: a missing text empty) as
    // literals the driver writes, for a string of statements, which binds
    // no values.
    static QStringList contactLiterals(const QSqlDatabase &db, const ContactRecord &record);
    // Stores `records` as new contacts, a batch of rows per statement, and
    // rewrites stored ones, in one transaction; `failed` receives the error
    // that ended it or, when a contact changed since it was read,
    // `changedError` says which.
    static bool insertAll(QSqlDatabase db, const QList<ContactRecord> &records,
        const QList<Register::Rewrite> &rewrites, const std::function<void(qint64)> &progress, QSqlError *failed,
        QString *changedError);
    // Removes the calls older than `before`, a slice at a time.
    static bool pruneCalls(QSqlDatabase db, const QDateTime &before, qint64 *removed, QSqlError *failed);
    // Which of these telephone keys some contact has, with the oldest such.
    static bool contactsByPhoneKeys(
        QSqlDatabase db, const QStringList &keys, QHash<QString, ContactRecord> *found, QSqlError *failed);
};
