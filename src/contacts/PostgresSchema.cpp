#include "contacts/PostgresSchema.h"

#include "contacts/NameKey.h"
#include "contacts/PostgresConnection.h"
#include "contacts/PostgresQueries.h"
#include "contacts/SqlConnection.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

const QString CallLogSchema = QStringLiteral(":/data/postgres-call-log.sql");
// Rows sent in one statement when a register is copied to the server.
constexpr int CopyBatch = 500;

QString scriptText(const QString &resource, QString *error)
{
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// The schema, with the name functions' letters filled in from the same table
// as the C++ keys.
QString schemaScript(QString *error)
{
    const QString script = scriptText(QStringLiteral(":/data/postgres-schema.sql"), error);
    if (script.isEmpty())
        return {};
    QString accented, bases, uppers, lowers;
    for (const NameKey::Letter &l : NameKey::letters()) {
        accented += QChar(l.upper);
        accented += QChar(l.lower);
        bases += QString(2, QLatin1Char(l.base));
        uppers += QChar(l.upper);
        lowers += QChar(l.lower);
    }
    for (char c = 'A'; c <= 'Z'; ++c) {
        accented += QLatin1Char(c);
        bases += QLatin1Char(char(c + 32));
        uppers += QLatin1Char(c);
        lowers += QLatin1Char(char(c + 32));
    }
    return script.arg(accented, bases, uppers, lowers);
}

} // namespace

bool PostgresSchema::create(const QString &server, QString *error, bool *alreadyThere)
{
    PostgresConnection conn(server);
    if (!conn.isOpen())
        return PostgresConnection::failure(error, PostgresConnection::Unreachable, server, conn.errorText());
    QSqlDatabase db = conn.database();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('cada') IS NOT NULL")) || !query.next())
        return PostgresConnection::failure(
            error, QStringLiteral("Erro ao acessar o servidor do cadastro."), server, query.lastError().text());
    if (alreadyThere)
        *alreadyThere = query.value(0).toBool();
    if (query.value(0).toBool()) {
        return alreadyThere
            || PostgresConnection::failure(
                error, QStringLiteral("O banco de dados já tem um cadastro do Zuna."), server, {});
    }
    QString detail;
    const QString script = schemaScript(&detail);
    const QString callLog = script.isEmpty() ? QString() : scriptText(CallLogSchema, &detail);
    if (callLog.isEmpty() || !db.transaction() || !runSqlText(db, script, &detail) || !runSqlText(db, callLog, &detail)
        || !db.commit()) {
        db.rollback();
        return PostgresConnection::failure(error, QStringLiteral("Não foi possível criar o cadastro no servidor."),
            server, detail.isEmpty() ? db.lastError().text() : detail);
    }
    return true;
}

bool PostgresSchema::addCallLog(QSqlDatabase db, QString *detail)
{
    const QString callLog = scriptText(CallLogSchema, detail);
    if (callLog.isEmpty() || !db.transaction() || !runSqlText(db, callLog, detail) || !db.commit()) {
        if (detail->isEmpty())
            *detail = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool PostgresSchema::copyFrom(Register &source, const QString &server, qint64 *copied, QString *error)
{
    PostgresConnection conn(server);
    if (!conn.isOpen())
        return PostgresConnection::failure(error, PostgresConnection::Unreachable, server, conn.errorText());
    QSqlDatabase db = conn.database();
    QSqlQuery query(db);
    auto failed = [&](const QString &what) {
        const QString detail = query.lastError().text();
        db.rollback();
        return PostgresConnection::failure(error, what, server, detail);
    };
    if (!db.transaction())
        return PostgresConnection::failure(error, PostgresConnection::Unreachable, server, db.lastError().text());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM cada")) || !query.next())
        return failed(
            QStringLiteral("O banco de dados não tem o cadastro do Zuna (crie-o com zuna --init --database)."));
    if (query.value(0).toLongLong() > 0) {
        db.rollback();
        return PostgresConnection::failure(error,
            QStringLiteral("O cadastro no servidor já tem contatos; a cópia só é feita para um "
                           "cadastro vazio."),
            server, {});
    }
    // The count is set once at the end, not row by row; the indexes are made
    // again once all rows are in, which is many times quicker than keeping
    // them row by row.
    QStringList indexes;
    if (!query.exec(QStringLiteral("SELECT indexname, indexdef FROM pg_indexes WHERE tablename = 'cada' "
                                   "AND indexname <> 'cada_pkey'")))
        return failed(QStringLiteral("Não foi possível preparar a cópia."));
    QStringList dropped;
    while (query.next()) {
        dropped << query.value(0).toString();
        indexes << query.value(1).toString();
    }
    for (const QString &index : std::as_const(dropped)) {
        if (!query.exec(QStringLiteral("DROP INDEX %1").arg(index)))
            return failed(QStringLiteral("Não foi possível preparar a cópia."));
    }
    if (!query.exec(QStringLiteral("ALTER TABLE cada DISABLE TRIGGER cada_conta"))
        || !query.exec(QStringLiteral("SET LOCAL maintenance_work_mem = '256MB'")))
        return failed(QStringLiteral("Não foi possível preparar a cópia."));
    QList<ContactRecord> batch;
    qint64 total = 0;
    auto flush = [&] {
        if (batch.isEmpty())
            return true;
        QStringList rowsSql;
        for (qsizetype i = 0; i < batch.size(); ++i)
            rowsSql << QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        query.prepare(QStringLiteral("INSERT INTO cada (%1) VALUES %2")
                          .arg(PostgresQueries::Columns, rowsSql.join(QLatin1Char(','))));
        for (const ContactRecord &r : std::as_const(batch)) {
            query.addBindValue(r.cd);
            // NULL stays NULL in a copy: the source's rows go over as stored.
            for (const QString &f : { r.a1, r.a4, r.a9, r.a10, r.a11, r.a12, r.a13, r.a14, r.ob })
                query.addBindValue(f);
        }
        total += batch.size();
        batch.clear();
        return query.exec();
    };
    QString readError;
    bool written = true;
    const bool read = source.forEachContact(
        [&](const ContactRecord &r) {
            batch << r;
            written = batch.size() < CopyBatch || flush();
            return written;
        },
        &readError);
    if (!written || !flush())
        return failed(QStringLiteral("Não foi possível copiar os contatos."));
    if (!read) {
        db.rollback();
        *error = readError;
        return false;
    }
    QString areaCode;
    if (!source.loadAreaCode(&areaCode, &readError)) {
        db.rollback();
        *error = readError;
        return false;
    }
    query.prepare(QStringLiteral("UPDATE a1 SET a1 = ?"));
    query.addBindValue(areaCode);
    if (!query.exec() || !query.exec(QStringLiteral("UPDATE cada_contagem SET n = (SELECT count(*) FROM cada)"))
        || !query.exec(QStringLiteral("ALTER TABLE cada ENABLE TRIGGER cada_conta"))
        || !std::all_of(indexes.cbegin(), indexes.cend(), [&](const QString &index) { return query.exec(index); })
        // New contacts get codes above the ones brought over.
        || !query.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('cada', 'cd'), "
                                      "greatest((SELECT max(cd) FROM cada), 1))")))
        return failed(QStringLiteral("Não foi possível concluir a cópia."));
    if (!db.commit())
        return failed(QStringLiteral("Não foi possível concluir a cópia."));
    *copied = total;
    return true;
}
