#include "contacts/PostgresQueries.h"

#include "contacts/PostgresStatement.h"
#include "contacts/SqlRows.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Rows or keys sent in one statement.
constexpr int Batch = 500;
const QString SortKey = QStringLiteral("(zuna_chave_nome(a1) COLLATE \"C\")");

// A text for LIKE that matches itself only.
QString likeLiteral(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return out;
}

// The pattern as a POSIX regular expression over the case-folded name,
// anchored at its start.
QString regexOf(const NamePattern &pattern)
{
    QString regex = QStringLiteral("^");
    for (const NamePattern::Piece &p : pattern.pieces) {
        switch (p.kind) {
        case NamePattern::Piece::Kind::AnyRun: regex += QStringLiteral(".*"); break;
        case NamePattern::Piece::Kind::AnyCharacter: regex += QLatin1Char('.'); break;
        case NamePattern::Piece::Kind::Digit: regex += QStringLiteral("[0-9]"); break;
        case NamePattern::Piece::Kind::Literal:
            for (const QChar c : p.text) {
                if (QStringView(u".^$*+?()[]{}|\\").contains(c))
                    regex += QLatin1Char('\\');
                regex += c;
            }
            break;
        }
    }
    return regex;
}

} // namespace

// A call of the log: its time travels as seconds since the epoch, read as
// local time, so no time zone is read wrong.
CallRecord PostgresQueries::callAt(const QSqlQuery &query)
{
    return SqlRows::readCall(query, QDateTime::fromSecsSinceEpoch(query.value(1).toLongLong()));
}

bool PostgresQueries::readCalls(QSqlDatabase db, const QString &server, const CallFilter &filter, qint64 beforeId,
    int limit, QList<CallRecord> *rows, QString *error, PostgresConnection::Problem *problem)
{
    const auto statement = callsQuery(db, filter, beforeId, limit);
    QSqlQuery &query = statement->query();
    if (!statement->exec()) {
        const auto met = PostgresConnection::problemOf(query, false);
        if (problem)
            *problem = met;
        return PostgresConnection::failure(error,
            PostgresConnection::textFor(met, QStringLiteral("Erro ao ler as chamadas.")), server,
            query.lastError().text());
    }
    readCallRows(query, rows);
    return true;
}

std::unique_ptr<PostgresStatement> PostgresQueries::callsQuery(
    QSqlDatabase db, const CallFilter &filter, qint64 beforeId, int limit)
{
    QStringList where;
    QVariantList values;
    if (filter.since.isValid()) {
        where << QStringLiteral("quando >= to_timestamp(?) AND id >= (SELECT min(id) FROM chamadas "
                                "WHERE quando >= to_timestamp(?))");
        values << filter.since.toSecsSinceEpoch() << filter.since.toSecsSinceEpoch();
    }
    if (filter.unknownOnly)
        where << QStringLiteral("cd IS NULL");
    const QString needle = CallFilter::needle(filter.text);
    if (CallFilter::findsNothing(filter.text)) {
        where << QStringLiteral("false");
    } else if (!needle.isEmpty()) {
        where << QStringLiteral("busca LIKE ?");
        values << QLatin1Char('%') + likeLiteral(needle) + QLatin1Char('%');
    }
    if (beforeId > 0) {
        where << QStringLiteral("id < ?");
        values << beforeId;
    }
    QString sql = QStringLiteral("SELECT %1 FROM chamadas").arg(CallColumns);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY id DESC LIMIT ?");
    values << limit;
    auto statement = std::make_unique<PostgresStatement>(db, sql);
    for (const QVariant &v : std::as_const(values))
        statement->query().addBindValue(v);
    return statement;
}

void PostgresQueries::readCallRows(QSqlQuery &query, QList<CallRecord> *rows)
{
    rows->clear();
    while (query.next())
        rows->append(callAt(query));
}

bool PostgresQueries::listPage(QSqlDatabase db, const QString &server, const NamePattern &pattern,
    const Register::ListRow *after, int limit, QList<Register::ListRow> *rows, QString *error,
    PostgresConnection::Problem *problem)
{
    rows->clear();
    if (pattern.matchesNobody())
        return true;
    QStringList where;
    QVariantList values;
    // The sort-key range keeps the search on the name index; the regular
    // expression checks the whole pattern. The trigram index serves only a
    // pattern that starts with a wildcard and holds three letters in a row:
    // offered it otherwise, the planner may join it to the range and sort
    // every name both hold, where the name index read in order finds a page
    // at once.
    if (!pattern.lowKey.isEmpty()) {
        where << QStringLiteral("%1 >= ? AND %1 < ?").arg(SortKey);
        values << pattern.lowKey << pattern.highKey;
    }
    const bool byTrigrams = !pattern.infix.isEmpty();
    if (!pattern.matchesEveryone()) {
        where << (byTrigrams ? QStringLiteral("zuna_dobra_nome(a1) ~ ?")
                             : QStringLiteral("(zuna_dobra_nome(a1) || '') ~ ?"));
        values << regexOf(pattern);
    }
    // The planner cannot tell how many names the expression keeps and may
    // sort every name of the range: a range is read from the name index in
    // order, which finds a page at once.
    QSqlQuery(db).exec(
        pattern.lowKey.isEmpty() ? QStringLiteral("SET enable_sort = on") : QStringLiteral("SET enable_sort = off"));
    if (after) {
        where << QStringLiteral("(%1, cd) > (? COLLATE \"C\", ?)").arg(SortKey);
        values << after->key << after->cd;
    }
    QString sql = QStringLiteral("SELECT cd, a1, a4, a9, a12, a13, %1 FROM cada").arg(SortKey);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY %1, cd LIMIT ?").arg(SortKey);
    values << limit;
    PostgresStatement statement(db, sql);
    QSqlQuery &query = statement.query();
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!statement.exec()) {
        const auto met = PostgresConnection::problemOf(query, false);
        if (problem)
            *problem = met;
        return PostgresConnection::failure(error,
            PostgresConnection::textFor(met, QStringLiteral("Erro ao ler a lista de contatos.")), server,
            query.lastError().text());
    }
    rows->clear();
    while (query.next()) {
        rows->append(SqlRows::readListRow(query));
    }
    return true;
}

bool PostgresQueries::insertAll(QSqlDatabase db, const QList<ContactRecord> &records,
    const QList<Register::Rewrite> &rewrites, const std::function<void(qint64)> &progress, QSqlError *failed,
    QString *changedError)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("BEGIN"))) {
        *failed = query.lastError();
        return false;
    }
    const auto rollBack = [&](const QSqlError &error) {
        *failed = error;
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    for (qsizetype from = 0; from < records.size(); from += Batch) {
        const qsizetype n = std::min<qsizetype>(Batch, records.size() - from);
        QStringList rows(n, QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        query.prepare(QStringLiteral("INSERT INTO cada (a1, a4, a9, a10, a11, a12, a13, a14, ob) VALUES %1")
                          .arg(rows.join(QLatin1Char(','))));
        for (qsizetype i = from; i < from + n; ++i)
            SqlRows::bindContact(query, records.at(i));
        if (!query.exec())
            return rollBack(query.lastError());
        if (progress)
            progress(from + n);
    }
    if (!rewrites.isEmpty()
        && !query.prepare(
            QStringLiteral("UPDATE cada SET a1 = ?, a4 = ?, a9 = ?, a10 = ?, a11 = ?, a12 = ?, a13 = ?, a14 = ?, "
                           "ob = ? WHERE cd = ? AND coalesce(a1, '') = ? AND coalesce(a4, '') = ? "
                           "AND coalesce(a9, '') = ? AND coalesce(a10, '') = ? AND coalesce(a11, '') = ? "
                           "AND coalesce(a12, '') = ? AND coalesce(a13, '') = ? AND coalesce(a14, '') = ? "
                           "AND coalesce(ob, '') = ?")))
        return rollBack(query.lastError());
    for (qsizetype i = 0; i < rewrites.size(); ++i) {
        const Register::Rewrite &r = rewrites.at(i);
        SqlRows::bindContact(query, r.record);
        query.addBindValue(r.record.cd);
        SqlRows::bindContact(query, r.asLoaded);
        if (!query.exec())
            return rollBack(query.lastError());
        if (query.numRowsAffected() < 1) {
            rollBack({});
            return Register::changedSinceRead(rewrites, r.record.cd, changedError);
        }
        if (progress && (i + 1) % 1000 == 0)
            progress(records.size() + i + 1);
    }
    if (query.exec(QStringLiteral("COMMIT")))
        return true;
    *failed = query.lastError();
    return false;
}

bool PostgresQueries::contactsByPhoneKeys(
    QSqlDatabase db, const QStringList &keys, QHash<QString, ContactRecord> *found, QSqlError *failed)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    for (qsizetype from = 0; from < keys.size(); from += Batch) {
        const QStringList part = keys.mid(from, Batch);
        query.prepare(QStringLiteral("SELECT %1, zuna_chave_fone(a4) FROM cada WHERE zuna_chave_fone(a4) IN (%2) "
                                     "ORDER BY cd")
                          .arg(Columns, QStringList(part.size(), QStringLiteral("?")).join(QLatin1Char(','))));
        for (const QString &k : part)
            query.addBindValue(k);
        if (!query.exec()) {
            *failed = query.lastError();
            return false;
        }
        while (query.next()) {
            const QString key = query.value(10).toString();
            if (!found->contains(key))
                found->insert(key, SqlRows::readContact(query));
        }
    }
    return true;
}

bool PostgresQueries::pruneCalls(QSqlDatabase db, const QDateTime &before, qint64 *removed, QSqlError *failed)
{
    // Each slice commits on its own: a desk logging a call meanwhile is not
    // held up by one long delete.
    for (;;) {
        QSqlQuery query(db);
        query.prepare(
            QStringLiteral("DELETE FROM chamadas WHERE id IN (SELECT id FROM chamadas WHERE quando < to_timestamp(?) "
                           "ORDER BY quando LIMIT 10000)"));
        query.addBindValue(before.toSecsSinceEpoch());
        if (!query.exec()) {
            *failed = query.lastError();
            return false;
        }
        const int deleted = query.numRowsAffected();
        *removed += deleted;
        if (deleted < 10000)
            return true;
    }
}
