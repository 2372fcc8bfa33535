#include "core/contacts/PostgresCallLog.h"

#include "core/contacts/PostgresDeadline.h"
#include "core/contacts/PostgresQueries.h"
#include "core/contacts/PostgresRegister.h"
#include "core/contacts/PostgresStatement.h"
#include "core/contacts/SqlRows.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <limits>

bool PostgresCallLog::log(CallRecord *call, QString *error)
{
    QSqlDatabase db = m_register.connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, m_register.answerMs());
    PostgresStatement statement(db,
        QStringLiteral("INSERT INTO chamadas (quando, tipo, recebido, chave, numero, nome_linha, fonte, "
                       "linha, cd, nome, busca) VALUES (to_timestamp(?), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    QSqlQuery &query = statement.query();
    // Times travel as seconds since the epoch: no time zone is read wrong.
    query.addBindValue(call->when.toSecsSinceEpoch());
    SqlRows::bindCall(query, *call);
    if (!statement.exec() || !query.next())
        return m_register.fail(error, QStringLiteral("Erro ao registrar a chamada."), query, limit);
    call->id = query.value(0).toLongLong();
    return true;
}

bool PostgresCallLog::readPage(
    const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error)
{
    QSqlDatabase db = m_register.connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline answer(db, m_register.answerMs());
    const auto statement = PostgresQueries::callsQuery(db, filter, beforeId, limit);
    if (!statement->exec())
        return m_register.fail(error, QStringLiteral("Erro ao ler as chamadas."), statement->query(), answer);
    PostgresQueries::readCallRows(statement->query(), rows);
    return true;
}

bool PostgresCallLog::forEach(
    const QDateTime &since, const std::function<bool(const CallRecord &)> &visit, QString *error)
{
    QSqlDatabase db = m_register.connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, m_register.answerMs());
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM chamadas WHERE quando >= to_timestamp(?) ORDER BY id")
                      .arg(PostgresQueries::CallColumns));
    query.addBindValue(since.isValid() ? since.toSecsSinceEpoch() : std::numeric_limits<qint32>::min());
    if (!query.exec())
        return m_register.fail(error, QStringLiteral("Erro ao ler as chamadas."), query, limit);
    while (query.next()) {
        if (!visit(PostgresQueries::callAt(query)))
            return false;
    }
    return true;
}

bool PostgresCallLog::prune(const QDateTime &before, qint64 *removed, QString *error)
{
    *removed = 0;
    QSqlDatabase db = m_register.connection(error);
    if (!db.isOpen())
        return false;
    PostgresDeadline limit(db, m_register.answerMs());
    QSqlError failed;
    return PostgresQueries::pruneCalls(db, before, removed, &failed)
        || m_register.fail(error, QStringLiteral("Erro ao apagar as chamadas antigas."), failed, db.driver(), limit);
}
