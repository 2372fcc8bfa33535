#include "core/contacts/PostgresSchema.h"

#include "core/contacts/NameKey.h"
#include "core/contacts/PostgresConnection.h"
#include "core/contacts/PostgresQueries.h"
#include "core/contacts/Register.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqlRows.h"

#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

#include <libpq-fe.h>

namespace {

const QString CallLogSchema = QStringLiteral(":/data/postgres-call-log.sql");
const QString CountSchema = QStringLiteral(":/data/postgres-count.sql");
const QString FunctionsSchema = QStringLiteral(":/data/postgres-functions.sql");
// Bytes of COPY text gathered before they are handed to libpq.
constexpr qsizetype CopyChunk = 1 << 20;

// The connection under Qt's PostgreSQL driver, for the COPY protocol, which
// QSqlQuery does not speak.
PGconn *nativeHandle(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn *const *>(handle.constData());
}

// The calls of the log, ids kept (the calls name their contacts by code), a
// batch of rows per statement; then new calls get ids above them.
bool copyCalls(QSqlQuery &query, const QList<CallRecord> &calls)
{
    constexpr qsizetype Batch = 500;
    for (qsizetype from = 0; from < calls.size(); from += Batch) {
        const qsizetype n = std::min(Batch, calls.size() - from);
        query.prepare(QStringLiteral("INSERT INTO chamadas (id, quando, tipo, recebido, chave, numero, nome_linha, "
                                     "fonte, linha, cd, nome, busca) VALUES %1")
                          .arg(QStringList(n, QStringLiteral("(?, to_timestamp(?), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
                                   .join(QLatin1Char(','))));
        for (qsizetype i = from; i < from + n; ++i) {
            query.addBindValue(calls.at(i).id);
            // Times travel as seconds since the epoch: no time zone is read wrong.
            query.addBindValue(calls.at(i).when.toSecsSinceEpoch());
            SqlRows::bindCall(query, calls.at(i));
        }
        if (!query.exec())
            return false;
    }
    return query.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('chamadas', 'id'), "
                                     "greatest((SELECT max(id) FROM chamadas), 1))"));
}

// One field in COPY's text format: NULL as \N, an empty text as nothing,
// and the backslash and the characters that end a field or a row escaped.
void appendCopyField(QByteArray &out, const QString &field)
{
    if (field.isNull()) {
        out += "\\N";
        return;
    }
    const QByteArray utf8 = field.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

void appendCopyRow(QByteArray &out, const ContactRecord &r)
{
    out += QByteArray::number(r.cd);
    for (const QString *f : { &r.a1, &r.a4, &r.a9, &r.a10, &r.a11, &r.a12, &r.a13, &r.a14, &r.ob }) {
        out += '\t';
        appendCopyField(out, *f);
    }
    out += '\n';
}

// Sends the rows `source` reads with COPY FROM STDIN on `conn`, inside the
// transaction already open there. `readFailed`: the source could not be
// read (its reason in `readError`), the COPY abandoned.
bool copyRows(PGconn *conn, Register &source, qint64 *total, bool *readFailed, QString *readError, QString *detail)
{
    const QByteArray statement = QStringLiteral("COPY cada (%1) FROM STDIN").arg(PostgresQueries::Columns).toUtf8();
    PGresult *started = PQexec(conn, statement.constData());
    const bool copying = PQresultStatus(started) == PGRES_COPY_IN;
    if (!copying)
        *detail = QString::fromUtf8(PQresultErrorMessage(started));
    PQclear(started);
    if (!copying)
        return false;
    QByteArray buffer;
    buffer.reserve(CopyChunk + 4096);
    bool sent = true;
    auto send = [&] {
        sent = sent && PQputCopyData(conn, buffer.constData(), int(buffer.size())) == 1;
        buffer.clear();
        return sent;
    };
    const bool read = source.forEachContact(
        [&](const ContactRecord &r) {
            appendCopyRow(buffer, r);
            ++*total;
            return buffer.size() < CopyChunk || send();
        },
        readError);
    // A visit ended because the server stopped taking rows is not the
    // source's fault.
    *readFailed = !read && sent;
    if (sent && read)
        send();
    // A COPY ended with an error message is undone by the server.
    const bool ended = PQputCopyEnd(conn, sent && !*readFailed ? nullptr : "leitura interrompida") == 1;
    bool ok = sent && ended && !*readFailed;
    while (PGresult *result = PQgetResult(conn)) {
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            ok = false;
            if (detail->isEmpty())
                *detail = QString::fromUtf8(PQresultErrorMessage(result));
        }
        PQclear(result);
    }
    if (detail->isEmpty() && !ok && !*readFailed)
        *detail = QString::fromUtf8(PQerrorMessage(conn));
    return ok;
}

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

const QString PostgresSchema::FunctionsUpToDate
    = QStringLiteral("(coalesce((SELECT position('pg_backend_pid()' IN prosrc) > 0 OR NOT pg_has_role(proowner, "
                     "'USAGE') FROM pg_proc WHERE oid = to_regproc('zuna_avisa')), true) AND coalesce((SELECT "
                     "position('ON CONFLICT' IN prosrc) > 0 OR NOT pg_has_role(proowner, 'USAGE') FROM pg_proc "
                     "WHERE oid = to_regproc('zuna_conta')), true))");

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
    // The count and the notices as a register made before them is brought
    // to them.
    const QString count = callLog.isEmpty() ? QString() : scriptText(CountSchema, &detail);
    const QString notice = count.isEmpty() ? QString() : scriptText(FunctionsSchema, &detail);
    if (notice.isEmpty() || !db.transaction() || !runSqlText(db, script, &detail) || !runSqlText(db, callLog, &detail)
        || !runSqlText(db, count, &detail) || !runSqlText(db, notice, &detail) || !db.commit()) {
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

namespace {

// Runs scripts that change the register once for every desk: in one
// transaction that first takes `lock` and then asks `isDone` whether another
// desk did it meanwhile.
bool changeOnce(
    QSqlDatabase db, const QStringList &resources, const QString &lock, const QString &isDone, QString *detail)
{
    QString script;
    for (const QString &resource : resources) {
        const QString text = scriptText(resource, detail);
        if (text.isEmpty())
            return false;
        script += text + QStringLiteral(";\n");
    }
    QSqlQuery query(db);
    const bool asked = db.transaction() && query.exec(lock) && query.exec(isDone) && query.next();
    const bool already = asked && query.value(0).toBool();
    query.finish();
    if (!asked || (!already && !runSqlText(db, script, detail)) || !db.commit()) {
        if (detail->isEmpty())
            *detail = query.lastError().isValid() ? query.lastError().text() : db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

} // namespace

bool PostgresSchema::addCountParts(QSqlDatabase db, QString *detail)
{
    // Another desk may have done it while this one waited for the writers.
    return changeOnce(db, { CountSchema, FunctionsSchema },
        QStringLiteral("LOCK TABLE cada IN SHARE ROW EXCLUSIVE MODE"),
        QStringLiteral("SELECT to_regclass('cada_contagem_parte') IS NOT NULL"), detail);
}

bool PostgresSchema::updateFunctions(QSqlDatabase db, QString *detail)
{
    // Desks that start at once replace the function one after the other; a
    // desk that waited finds it done.
    return changeOnce(db, { FunctionsSchema }, QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('zuna_avisa'))"),
        QStringLiteral("SELECT %1").arg(FunctionsUpToDate), detail);
}

bool PostgresSchema::complete(
    const QString &server, bool hasCallLog, bool hasCountParts, bool functionsUpToDate, QString *detail)
{
    const bool tablesDone = hasCallLog && hasCountParts;
    if (tablesDone && functionsUpToDate)
        return true;
    PostgresConnection own(server);
    *detail = own.errorText();
    if (!tablesDone
        && (!own.isOpen() || !(hasCallLog || addCallLog(own.database(), detail))
            || !(hasCountParts || addCountParts(own.database(), detail))))
        return false;
    // Without them the desks work as before (each reading its list once
    // more after its own saves; a save waiting when every count part is
    // held): a failure here stops no desk.
    QString why = own.errorText();
    if (!functionsUpToDate && (!own.isOpen() || !updateFunctions(own.database(), &why)))
        qWarning("As funções do cadastro no servidor não foram atualizadas: %s", qPrintable(why));
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
    // The rows go over by COPY, not by INSERT: one stream, no statement per
    // row or batch to plan and answer.
    PGconn *native = nativeHandle(db);
    if (!native) {
        db.rollback();
        return PostgresConnection::failure(error, QStringLiteral("Não foi possível copiar os contatos."), server,
            QStringLiteral("sem acesso à conexão do libpq"));
    }
    qint64 total = 0;
    bool readFailed = false;
    QString readError, copyDetail;
    if (!copyRows(native, source, &total, &readFailed, &readError, &copyDetail)) {
        db.rollback();
        if (readFailed) {
            *error = readError;
            return false;
        }
        return PostgresConnection::failure(
            error, QStringLiteral("Não foi possível copiar os contatos."), server, copyDetail);
    }
    QString areaCode;
    QList<CallRecord> calls;
    if (!source.loadAreaCode(&areaCode, &readError)
        || !source.forEachCall(
            {}, [&](const CallRecord &c) { return calls << c, true; }, &readError)) {
        db.rollback();
        *error = readError;
        return false;
    }
    if (!copyCalls(query, calls))
        return failed(QStringLiteral("Não foi possível copiar o histórico de chamadas."));
    query.prepare(QStringLiteral("UPDATE a1 SET a1 = ?"));
    query.addBindValue(areaCode);
    if (!query.exec()
        || !query.exec(QStringLiteral("UPDATE cada_contagem_parte SET n = CASE WHEN parte = 0 THEN "
                                      "(SELECT count(*) FROM cada) ELSE 0 END"))
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
