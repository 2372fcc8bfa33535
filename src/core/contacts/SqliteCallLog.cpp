#include "core/contacts/SqliteCallLog.h"

#include "core/contacts/SqlRows.h"
#include "core/contacts/SqliteRegister.h"
#include "core/contacts/SqliteSchema.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

const QString CallColumns
    = QStringLiteral("ID, QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, NOME_LINHA, FONTE, LINHA, CD, NOME");
const QString &CallTimeFormat = SqliteRegister::CallTimeFormat;

// Whether the calls holding this text are few enough to be found by their
// trigrams and sorted, rather than by reading the log newest first.
bool fewCallsHold(const QSqlDatabase &db, const QString &part)
{
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM CHAMADAS_BUSCA WHERE CHAMADAS_BUSCA MATCH ? LIMIT ?)"));
    query.addBindValue(SqliteRegister::trigramQuery(part));
    query.addBindValue(SqliteSchema::DenseMatches + 1);
    return query.exec() && query.next() && query.value(0).toInt() <= SqliteSchema::DenseMatches;
}

// A call of the log, its time as this backend keeps it.
CallRecord callAt(const QSqlQuery &query)
{
    return SqlRows::readCall(query, QDateTime::fromString(query.value(1).toString(), CallTimeFormat));
}

} // namespace

bool SqliteCallLog::readPage(const QSqlDatabase &db, const QString &filePath, const CallFilter &filter, qint64 beforeId,
    int limit, QList<CallRecord> *rows, QString *error, RegisterProblem *problem)
{
    QStringList where;
    QVariantList values;
    if (filter.since.isValid()) {
        // From the first call of that moment on, by id, so that the log is
        // read newest first on its own key and stops there.
        // min(+ID): found through the time index, not by reading the log
        // from its oldest call.
        where << QStringLiteral("QUANDO >= ? AND ID >= (SELECT min(+ID) FROM CHAMADAS WHERE QUANDO >= ?)");
        values << filter.since.toString(CallTimeFormat) << filter.since.toString(CallTimeFormat);
    }
    if (filter.unknownOnly)
        where << QStringLiteral("CD IS NULL");
    const QString needle = CallFilter::needle(filter.text);
    if (CallFilter::findsNothing(filter.text)) {
        where << QStringLiteral("0");
    } else if (!needle.isEmpty()) {
        where << QStringLiteral("instr(BUSCA, ?) > 0");
        values << needle;
        if (needle.size() >= 3 && fewCallsHold(db, needle)) {
            where << QStringLiteral("ID IN (SELECT rowid FROM CHAMADAS_BUSCA WHERE CHAMADAS_BUSCA MATCH ?)");
            values << SqliteRegister::trigramQuery(needle);
        }
    }
    if (beforeId > 0) {
        where << QStringLiteral("ID < ?");
        values << beforeId;
    }
    QString sql = QStringLiteral("SELECT %1 FROM CHAMADAS").arg(CallColumns);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY ID DESC LIMIT ?");
    values << limit;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return SqliteRegister::queryFailure(error, filePath, query, problem);
    for (const QVariant &v : std::as_const(values))
        query.addBindValue(v);
    if (!query.exec())
        return SqliteRegister::queryFailure(error, filePath, query, problem);
    rows->clear();
    while (query.next())
        rows->append(callAt(query));
    return true;
}

bool SqliteCallLog::forEach(const QSqlDatabase &db, const QString &filePath, const QDateTime &since,
    const std::function<bool(const CallRecord &)> &visit, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT %1 FROM CHAMADAS WHERE QUANDO >= ? ORDER BY ID").arg(CallColumns)))
        return SqliteRegister::queryFailure(error, filePath, query);
    query.addBindValue(since.isValid() ? since.toString(CallTimeFormat) : QString(QLatin1String("")));
    if (!query.exec())
        return SqliteRegister::queryFailure(error, filePath, query);
    while (query.next()) {
        if (!visit(callAt(query)))
            return false;
    }
    return true;
}
