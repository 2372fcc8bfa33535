#include "core/contacts/SqliteSchema.h"

#include "core/contacts/NameKey.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteWriteTransaction.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <functional>

namespace {

const QString Schema = QStringLiteral(":/data/schema-cada.sql");
// What the register holds besides its contacts: a table of its own (named
// here) and the script that makes it; all but the call log are kept from
// CADA by triggers. A register made before one of them gets it the first
// time this version opens it.
struct Companion
{
    const char *table;
    const char *script;
};
constexpr Companion Companions[] = {
    { "CADA_FONES", ":/data/phone-key.sql" }, // telephone keys
    { "CADA_CONTAGEM", ":/data/contact-count.sql" }, // the number of contacts
    { "CADA_BUSCA", ":/data/name-search.sql" }, // names by any part of them
    { "CHAMADAS", ":/data/call-log.sql" }, // the calls that came in
};
QString replaceSql(const QString &inner, char16_t from, QChar to)
{
    return QStringLiteral("replace(%1,'%2','%3')").arg(inner, QChar(from), to);
}

// The indexes the register is read through: names in sort order, and
// telephones by key. CADA_A4, on the telephone's text, served an older lookup.
bool createIndexes(const QSqlDatabase &db, QString *detail)
{
    const QString statements[] = {
        QStringLiteral("CREATE INDEX IF NOT EXISTS CADA_NOME ON CADA (%1)")
            .arg(SqliteSchema::sortKeySql(QStringLiteral("A1"))),
        QStringLiteral("CREATE INDEX IF NOT EXISTS CADA_FONES_CHAVE ON CADA_FONES (CHAVE)"),
        QStringLiteral("DROP INDEX IF EXISTS CADA_A4"),
    };
    for (const QString &sql : statements) {
        QSqlQuery query(db);
        if (!query.exec(sql)) {
            *detail = query.lastError().text();
            return false;
        }
    }
    return true;
}

bool exists(const QSqlDatabase &db, const QString &type, const QString &name, bool *result, QString *detail)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = ? AND name = ?"));
    query.addBindValue(type);
    query.addBindValue(name);
    if (!query.exec() || !query.next()) {
        *detail = query.lastError().text();
        return false;
    }
    *result = query.value(0).toInt() > 0;
    return true;
}

// Runs `fill(after, upTo)` over the rows of CADA above `after`, a slice of
// rows per transaction, the last slice with `upTo` = SqliteSchema::AllRows.
bool inSlices(
    const QSqlDatabase &db, qint64 after, const std::function<bool(qint64, qint64, QString *)> &fill, QString *detail)
{
    for (;;) {
        QElapsedTimer took;
        took.start();
        SqliteWriteTransaction tx(db);
        if (!tx.begun()) {
            *detail = tx.query().lastError().text();
            return false;
        }
        qint64 upTo = SqliteSchema::AllRows;
        {
            QSqlQuery bound(db);
            bound.prepare(QStringLiteral("SELECT CD FROM CADA WHERE CD > ? ORDER BY CD LIMIT 1 OFFSET ?"));
            bound.addBindValue(after);
            bound.addBindValue(SqliteSchema::SliceRows - 1);
            if (!bound.exec()) {
                *detail = bound.lastError().text();
                return false;
            }
            if (bound.next())
                upTo = bound.value(0).toLongLong();
        }
        if (!fill(after, upTo, detail))
            return false;
        if (!tx.commit()) {
            *detail = tx.query().lastError().text();
            return false;
        }
        if (upTo == SqliteSchema::AllRows)
            return true;
        after = upTo;
        QThread::msleep(std::max<qint64>(SqliteSchema::MinPauseMs, took.elapsed()));
    }
}

bool execBound(const QSqlDatabase &db, const QString &sql, const QVariantList &values, QString *detail)
{
    QSqlQuery query(db);
    if (query.prepare(sql)) {
        for (const QVariant &v : values)
            query.addBindValue(v);
        if (query.exec())
            return true;
    }
    *detail = query.lastError().text();
    return false;
}

// Keys the telephones of a register made before the keys' table. Rows written
// meanwhile are keyed by the triggers and skipped here. The index, built in
// the last slice, marks the work as done.
bool fillPhoneKeys(const QSqlDatabase &db, QString *detail)
{
    return inSlices(
        db, -1,
        [&db](qint64 after, qint64 upTo, QString *detail) {
            return execBound(db,
                       QStringLiteral("INSERT OR IGNORE INTO CADA_FONES (CD, CHAVE) SELECT CD, A4 FROM CADA "
                                      "WHERE CD > ? AND CD <= ?"),
                       { after, upTo }, detail)
                && (upTo != SqliteSchema::AllRows || createIndexes(db, detail));
        },
        detail);
}

// Brings the names of a register made before the trigram index into it; the
// triggers index only rows up to the mark that each slice moves on.
bool fillNameSearch(const QSqlDatabase &db, QString *detail)
{
    const qint64 from = SqliteSchema::namesIndexedUpTo(db);
    if (from == SqliteSchema::AllRows)
        return true;
    return inSlices(
        db, from,
        [&db](qint64 after, qint64 upTo, QString *detail) {
            return execBound(db,
                       QStringLiteral("INSERT INTO CADA_BUSCA (rowid, A1) SELECT CD, A1 FROM CADA "
                                      "WHERE CD > ? AND CD <= ?"),
                       { after, upTo }, detail)
                && execBound(db, QStringLiteral("UPDATE CADA_BUSCA_PREPARO SET ATE = ?"), { upTo }, detail);
        },
        detail);
}

} // namespace

QString SqliteSchema::sortKeySql(const QString &column)
{
    QString expr = QStringLiteral("coalesce(%1,'')").arg(column);
    for (const NameKey::Letter &l : NameKey::letters()) {
        expr = replaceSql(expr, l.upper, QLatin1Char(l.base));
        expr = replaceSql(expr, l.lower, QLatin1Char(l.base));
    }
    return QStringLiteral("lower(%1)").arg(expr);
}

QString SqliteSchema::caseFoldSql(const QString &column)
{
    QString expr = QStringLiteral("coalesce(%1,'')").arg(column);
    for (const NameKey::Letter &l : NameKey::letters())
        expr = replaceSql(expr, l.upper, l.lower);
    return QStringLiteral("lower(%1)").arg(expr);
}

qint64 SqliteSchema::namesIndexedUpTo(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT ATE FROM CADA_BUSCA_PREPARO")) && query.next()
        ? query.value(0).toLongLong()
        : -1;
}

bool SqliteSchema::create(const QSqlDatabase &db, QString *detail)
{
    if (!runSqlScript(db, Schema, detail))
        return false;
    for (const Companion &c : Companions) {
        if (!runSqlScript(db, QLatin1String(c.script), detail))
            return false;
    }
    // A new register holds no row that the triggers have not seen.
    return execBound(db, QStringLiteral("UPDATE CADA_BUSCA_PREPARO SET ATE = ?"), { AllRows }, detail)
        && createIndexes(db, detail);
}

bool SqliteSchema::addMissing(const QSqlDatabase &db, const QString &filePath, QString *error)
{
    bool present = false;
    QString detail;
    if (!exists(db, QStringLiteral("table"), QStringLiteral("CADA"), &present, &detail))
        return sqlFailure(error, QStringLiteral("Erro ao acessar o cadastro de contatos."), filePath, detail);
    if (!present)
        return sqlFailure(error, QStringLiteral("O arquivo não contém a tabela de contatos CADA."), filePath, {});
    QStringList missing;
    for (const Companion &c : Companions) {
        if (!exists(db, QStringLiteral("table"), QLatin1String(c.table), &present, &detail))
            return sqlFailure(error, QStringLiteral("Erro ao acessar o cadastro de contatos."), filePath, detail);
        if (!present)
            missing << QLatin1String(c.script);
    }
    if (missing.isEmpty())
        return true;
    SqliteWriteTransaction tx(db);
    bool ok = tx.begun();
    for (const QString &script : std::as_const(missing))
        ok = ok && runSqlScript(db, script, &detail);
    if (!ok || !tx.commit()) {
        if (detail.isEmpty())
            detail = tx.query().lastError().text();
        return sqlFailure(error,
            QStringLiteral("Não foi possível preparar o cadastro de contatos para esta versão do Zuna."), filePath,
            detail);
    }
    return true;
}

bool SqliteSchema::buildIndexes(const QSqlDatabase &db, const QString &filePath, QString *error)
{
    bool keyed = false;
    QString detail;
    // The count is set right too, should a program have replaced rows in a
    // way that bypasses the triggers (INSERT OR REPLACE).
    const bool ok = exists(db, QStringLiteral("index"), QStringLiteral("CADA_FONES_CHAVE"), &keyed, &detail)
        && (keyed || fillPhoneKeys(db, &detail)) && fillNameSearch(db, &detail) && createIndexes(db, &detail)
        && execBound(db,
            QStringLiteral("UPDATE CADA_CONTAGEM SET N = (SELECT count(*) FROM CADA) "
                           "WHERE N <> (SELECT count(*) FROM CADA)"),
            {}, &detail);
    if (!ok)
        return sqlFailure(error, QStringLiteral("Não foi possível criar os índices do cadastro."), filePath, detail);
    return true;
}
