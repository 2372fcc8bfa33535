#include "core/contacts/SqliteContactWriter.h"

#include "core/contacts/SqlRows.h"
#include "core/contacts/SqliteRegister.h"

#include <QSqlError>

SqliteContactWriter::SqliteContactWriter(const QString &filePath, Codes codes)
    : m_filePath(filePath)
    , m_codes(codes)
{
}

SqliteContactWriter::~SqliteContactWriter()
{
    for (QSqlQuery *q : { m_update.get(), m_call.get() }) {
        if (q)
            q->finish();
    }
    if (m_open)
        m_insert->exec(QStringLiteral("ROLLBACK"));
    m_insert.reset(); // before their connection
    m_update.reset();
    m_call.reset();
}

bool SqliteContactWriter::begin(QString *error)
{
    m_conn = std::make_unique<SqlConnection>(m_filePath, SqlConnection::Mode::OpenExisting);
    if (!m_conn->isOpen())
        return SqliteRegister::openFailure(error, m_filePath, *m_conn);
    m_insert = std::make_unique<QSqlQuery>(m_conn->database());
    if (!m_insert->exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(error, *m_insert);
    m_open = true;
    const bool kept = m_codes == Codes::Kept;
    if (!m_insert->prepare(
            QStringLiteral("INSERT INTO CADA (%1A1, A4, A9, A10, A11, A12, A13, A14, OB) "
                           "VALUES (%2?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .arg(kept ? QStringLiteral("CD, ") : QString(), kept ? QStringLiteral("?, ") : QString())))
        return fail(error, *m_insert);
    return true;
}

bool SqliteContactWriter::add(const ContactRecord &record, QString *error)
{
    if (m_codes == Codes::Kept) {
        // A copy keeps NULL apart from empty text, as the source stored it.
        m_insert->addBindValue(record.cd);
        for (const QString *f : { &record.a1, &record.a4, &record.a9, &record.a10, &record.a11, &record.a12,
                 &record.a13, &record.a14, &record.ob })
            m_insert->addBindValue(*f);
    } else {
        SqlRows::bindContact(*m_insert, record);
    }
    return m_insert->exec() || fail(error, *m_insert);
}

bool SqliteContactWriter::rewrite(const QList<Register::Rewrite> &rewrites, qsizetype index, QString *error)
{
    if (!m_update) {
        m_update = std::make_unique<QSqlQuery>(m_conn->database());
        if (!m_update->prepare(
                QStringLiteral("UPDATE CADA SET A1 = ?, A4 = ?, A9 = ?, A10 = ?, A11 = ?, A12 = ?, A13 = ?, A14 = ?, "
                               "OB = ? WHERE CD = ? AND coalesce(A1, '') = ? AND coalesce(A4, '') = ? "
                               "AND coalesce(A9, '') = ? AND coalesce(A10, '') = ? AND coalesce(A11, '') = ? "
                               "AND coalesce(A12, '') = ? AND coalesce(A13, '') = ? AND coalesce(A14, '') = ? "
                               "AND coalesce(OB, '') = ?")))
            return fail(error, *m_update);
    }
    const Register::Rewrite &r = rewrites.at(index);
    SqlRows::bindContact(*m_update, r.record);
    m_update->addBindValue(r.record.cd);
    SqlRows::bindContact(*m_update, r.asLoaded);
    if (!m_update->exec())
        return fail(error, *m_update);
    return m_update->numRowsAffected() > 0 || Register::changedSinceRead(rewrites, r.record.cd, error);
}

bool SqliteContactWriter::addCall(const CallRecord &call, QString *error)
{
    if (!m_call) {
        m_call = std::make_unique<QSqlQuery>(m_conn->database());
        if (!m_call->prepare(QStringLiteral("INSERT INTO CHAMADAS (ID, QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, "
                                            "NOME_LINHA, FONTE, LINHA, CD, NOME, BUSCA) "
                                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
            return fail(error, *m_call);
    }
    m_call->addBindValue(call.id);
    m_call->addBindValue(call.when.toString(SqliteRegister::CallTimeFormat));
    SqlRows::bindCall(*m_call, call);
    return m_call->exec() || fail(error, *m_call);
}

bool SqliteContactWriter::addAreaCode(const QString &areaCode, QString *error)
{
    QSqlQuery query(m_conn->database());
    if (!query.exec(QStringLiteral("CREATE TABLE DDD_LOCAL (DDD TEXT)"))
        || !query.prepare(QStringLiteral("INSERT INTO DDD_LOCAL (DDD) VALUES (?)")))
        return fail(error, query);
    query.addBindValue(areaCode);
    return query.exec() || fail(error, query);
}

bool SqliteContactWriter::commit(QString *error)
{
    for (QSqlQuery *q : { m_insert.get(), m_update.get(), m_call.get() }) {
        if (q)
            q->finish();
    }
    QSqlQuery end(m_conn->database());
    if (!end.exec(QStringLiteral("COMMIT")))
        return fail(error, end);
    m_open = false;
    return true;
}

bool SqliteContactWriter::fail(QString *error, const QSqlQuery &query)
{
    QString what = sqliteProblemText(sqliteProblem(query.lastError().nativeErrorCode()));
    if (what.isEmpty())
        what = QStringLiteral("Não foi possível gravar os contatos no cadastro.");
    return sqlFailure(error, what, m_filePath, query.lastError().text());
}
