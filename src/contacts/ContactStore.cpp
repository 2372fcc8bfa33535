#include "contacts/ContactStore.h"

#include "contacts/NameKey.h"
#include "contacts/PhoneNumber.h"
#include "contacts/SqlConnection.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <limits>

namespace {

const QString Columns = QStringLiteral("CD, A1, A4, A9, A10, A11, A12, A13, A14, OB");
const QString Schema = QStringLiteral(":/data/schema-cada.sql");
// The telephone keys' table and the triggers that keep it; added to registers
// made before it.
const QString PhoneKeys = QStringLiteral(":/data/phone-key.sql");
// Rows keyed in one transaction when an earlier register is brought up to
// date: short enough that a save at the desk meanwhile waits only briefly.
constexpr int KeyFillRows = 20000;

bool failOpen(QString *error, const QString &file, const SqlConnection &conn)
{
    return sqlFailure(error, QStringLiteral("Não foi possível abrir o cadastro de contatos."), file, conn.errorText());
}

bool failQuery(QString *error, const QString &file, const QSqlQuery &query)
{
    QString what = QStringLiteral("Erro ao acessar o cadastro de contatos.");
    if (query.lastError().text().contains(QLatin1String("no such table"), Qt::CaseInsensitive))
        what = QStringLiteral("O arquivo não contém a tabela de contatos CADA.");
    else if (query.lastError().text().contains(QLatin1String("no such column"), Qt::CaseInsensitive))
        what = QStringLiteral("A tabela de contatos CADA não tem todas as colunas esperadas.");
    return sqlFailure(error, what, file, query.lastError().text());
}

QString text(const QSqlQuery &query, int column)
{
    return query.value(column).toString(); // NULL reads as empty text
}

ContactRecord readRecord(const QSqlQuery &query)
{
    ContactRecord r;
    r.cd = query.value(0).toLongLong();
    r.a1 = text(query, 1);
    r.a4 = text(query, 2);
    r.a9 = text(query, 3);
    r.a10 = text(query, 4);
    r.a11 = text(query, 5);
    r.a12 = text(query, 6);
    r.a13 = text(query, 7);
    r.a14 = text(query, 8);
    r.ob = text(query, 9);
    return r;
}

void bindFields(QSqlQuery &query, const ContactRecord &r)
{
    // Empty fields are stored as empty text, never as NULL.
    const QString fields[] = { r.a1, r.a4, r.a9, r.a10, r.a11, r.a12, r.a13, r.a14, r.ob };
    for (const QString &f : fields)
        query.addBindValue(f.isNull() ? QString(QLatin1String("")) : f);
}

// One write transaction; IMMEDIATE takes the write lock at the start, so a
// file busy with another writer is waited on (busy timeout) rather than
// failing half-way.
class WriteTransaction
{
public:
    explicit WriteTransaction(const QSqlDatabase &db)
        : m_query(db)
    {
        m_ok = m_query.exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    ~WriteTransaction()
    {
        if (m_ok && !m_done)
            m_query.exec(QStringLiteral("ROLLBACK"));
    }
    bool begun() const { return m_ok; }
    bool commit()
    {
        m_done = m_query.exec(QStringLiteral("COMMIT"));
        return m_done;
    }
    const QSqlQuery &query() const { return m_query; }

private:
    QSqlQuery m_query;
    bool m_ok = false;
    bool m_done = false;
};

// The indexes the register is read through: names in sort order, and
// telephones by key. CADA_A4, on the telephone's text, served an older lookup.
bool createIndexes(const QSqlDatabase &db, QString *detail)
{
    const QString statements[] = {
        QStringLiteral("CREATE INDEX IF NOT EXISTS CADA_NOME ON CADA (%1)")
            .arg(NameKey::sortKeySql(QStringLiteral("A1"))),
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

// Keys the telephones of a register made before the keys' table, a slice of
// rows per transaction. Rows written meanwhile are keyed by the triggers and
// skipped here. The index, built last, marks the work as done.
bool fillPhoneKeys(const QSqlDatabase &db, QString *detail)
{
    qint64 after = -1;
    for (;;) {
        WriteTransaction tx(db);
        QSqlQuery bound(db);
        bound.prepare(QStringLiteral("SELECT CD FROM CADA WHERE CD > ? ORDER BY CD LIMIT 1 OFFSET ?"));
        bound.addBindValue(after);
        bound.addBindValue(KeyFillRows - 1);
        if (!tx.begun() || !bound.exec()) {
            *detail = (tx.begun() ? bound : tx.query()).lastError().text();
            return false;
        }
        const bool last = !bound.next();
        const qint64 upTo = last ? std::numeric_limits<qint64>::max() : bound.value(0).toLongLong();
        bound.finish();
        QSqlQuery fill(db);
        fill.prepare(QStringLiteral("INSERT OR IGNORE INTO CADA_FONES (CD, CHAVE) SELECT CD, A4 FROM CADA "
                                    "WHERE CD > ? AND CD <= ?"));
        fill.addBindValue(after);
        fill.addBindValue(upTo);
        if (!fill.exec() || (last && !createIndexes(db, detail)) || !tx.commit()) {
            if (detail->isEmpty())
                *detail = fill.lastError().text().isEmpty() ? tx.query().lastError().text() : fill.lastError().text();
            return false;
        }
        if (last)
            return true;
        after = upTo;
    }
}

} // namespace

ContactStore::ContactStore(QString filePath)
    : m_filePath(std::move(filePath))
{
}

bool ContactStore::create(const QString &filePath, QString *error)
{
    if (QFileInfo::exists(filePath))
        return sqlFailure(error, QStringLiteral("O cadastro de contatos já existe."), filePath, {});
    bool ok = false;
    QString detail;
    {
        SqlConnection conn(filePath, SqlConnection::Mode::Create);
        if (!conn.isOpen())
            return failOpen(error, filePath, conn);
        WriteTransaction tx(conn.database());
        ok = tx.begun() && createSchema(conn.database(), &detail) && tx.commit();
        if (!ok && detail.isEmpty())
            detail = tx.query().lastError().text();
    }
    if (!ok) {
        QFile::remove(filePath);
        return sqlFailure(error, QStringLiteral("Não foi possível criar o cadastro de contatos."), filePath, detail);
    }
    return true;
}

bool ContactStore::count(qint64 *result, QString *error) const
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM CADA")) || !query.next())
        return failQuery(error, m_filePath, query);
    *result = query.value(0).toLongLong();
    return true;
}

bool ContactStore::findByCode(qint64 code, std::optional<ContactRecord> *result, QString *error) const
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    if (!query.prepare(QStringLiteral("SELECT %1 FROM CADA WHERE CD = ?").arg(Columns)))
        return failQuery(error, m_filePath, query);
    query.addBindValue(code);
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    result->reset();
    if (query.next())
        *result = readRecord(query);
    return true;
}

bool ContactStore::createSchema(const QSqlDatabase &db, QString *detail)
{
    return runSqlScript(db, Schema, detail) && runSqlScript(db, PhoneKeys, detail) && createIndexes(db, detail);
}

bool ContactStore::upgrade(QString *error) const
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    bool hasTable = false, hasKeys = false;
    QString detail;
    if (!exists(conn.database(), QStringLiteral("table"), QStringLiteral("CADA"), &hasTable, &detail)
        || !exists(conn.database(), QStringLiteral("table"), QStringLiteral("CADA_FONES"), &hasKeys, &detail))
        return sqlFailure(error, QStringLiteral("Erro ao acessar o cadastro de contatos."), m_filePath, detail);
    if (!hasTable)
        return sqlFailure(error, QStringLiteral("O arquivo não contém a tabela de contatos CADA."), m_filePath, {});
    if (hasKeys)
        return true;
    WriteTransaction tx(conn.database());
    if (!tx.begun() || !runSqlScript(conn.database(), PhoneKeys, &detail) || !tx.commit()) {
        if (detail.isEmpty())
            detail = tx.query().lastError().text();
        return sqlFailure(error,
            QStringLiteral("Não foi possível preparar o cadastro de contatos para esta versão do Zuna."), m_filePath,
            detail);
    }
    return true;
}

bool ContactStore::findCaller(const PhoneNumber &number, std::optional<ContactRecord> *result, QString *error) const
{
    result->reset();
    QStringList keys = number.lookupKeys();
    if (keys.isEmpty())
        return true;
    if (keys.size() == 1)
        keys << keys.first();
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    // Several contacts may share the number: the one stored exactly as the
    // number is laid out comes first, then the oldest.
    if (!query.prepare(QStringLiteral("SELECT %1 FROM CADA_FONES JOIN CADA USING (CD) WHERE CHAVE IN (?, ?) "
                                      "ORDER BY A4 = ? DESC, CD LIMIT 1")
                           .arg(Columns)))
        return failQuery(error, m_filePath, query);
    query.addBindValue(keys.at(0));
    query.addBindValue(keys.at(1));
    query.addBindValue(number.layout());
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    if (query.next())
        *result = readRecord(query);
    return true;
}

bool ContactStore::insert(const ContactRecord &record, qint64 *newCode, QString *error) const
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    WriteTransaction tx(conn.database());
    if (!tx.begun())
        return failQuery(error, m_filePath, tx.query());
    QSqlQuery query(conn.database());
    if (!query.prepare(QStringLiteral("INSERT INTO CADA (A1, A4, A9, A10, A11, A12, A13, A14, OB) "
                                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")))
        return failQuery(error, m_filePath, query);
    bindFields(query, record);
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    const qint64 code = query.lastInsertId().toLongLong();
    if (!tx.commit())
        return failQuery(error, m_filePath, tx.query());
    *newCode = code;
    return true;
}

bool ContactStore::update(const ContactRecord &record, bool *found, QString *error) const
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    WriteTransaction tx(conn.database());
    if (!tx.begun())
        return failQuery(error, m_filePath, tx.query());
    QSqlQuery query(conn.database());
    if (!query.prepare(QStringLiteral("UPDATE CADA SET A1 = ?, A4 = ?, A9 = ?, A10 = ?, A11 = ?, A12 = ?, A13 = ?, "
                                      "A14 = ?, OB = ? WHERE CD = ?")))
        return failQuery(error, m_filePath, query);
    bindFields(query, record);
    query.addBindValue(record.cd);
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    const bool changed = query.numRowsAffected() > 0;
    if (!tx.commit())
        return failQuery(error, m_filePath, tx.query());
    *found = changed;
    return true;
}

bool ContactStore::remove(qint64 code, QString *error) const
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    WriteTransaction tx(conn.database());
    if (!tx.begun())
        return failQuery(error, m_filePath, tx.query());
    QSqlQuery query(conn.database());
    if (!query.prepare(QStringLiteral("DELETE FROM CADA WHERE CD = ?")))
        return failQuery(error, m_filePath, query);
    query.addBindValue(code);
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    if (!tx.commit())
        return failQuery(error, m_filePath, tx.query());
    return true;
}

bool ContactStore::buildIndexes(QString *error) const
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    bool keyed = false;
    QString detail;
    const bool ok
        = exists(conn.database(), QStringLiteral("index"), QStringLiteral("CADA_FONES_CHAVE"), &keyed, &detail)
        && (keyed || fillPhoneKeys(conn.database(), &detail)) && createIndexes(conn.database(), &detail);
    if (!ok)
        return sqlFailure(error, QStringLiteral("Não foi possível criar os índices do cadastro."), m_filePath, detail);
    return true;
}

bool ContactStore::listPage(const QSqlDatabase &db, const NamePattern &pattern, const ListRow *after, int limit,
    QList<ListRow> *rows, QString *error) const
{
    const QString key = NameKey::sortKeySql(QStringLiteral("A1"));
    QStringList where;
    QVariantList values;
    // The sort-key range keeps the search on the name index; the GLOB then
    // checks the whole pattern, letter case ignored and accents kept.
    if (!pattern.lowKey.isEmpty()) {
        where << QStringLiteral("%1 >= ? AND %1 < ?").arg(key);
        values << pattern.lowKey << pattern.highKey;
    }
    if (!pattern.matchesEveryone()) {
        where << QStringLiteral("%1 GLOB ?").arg(NameKey::caseFoldSql(QStringLiteral("A1")));
        values << pattern.glob;
    }
    // Keyset paging: the next page starts at the last key read, and rows of an
    // equal key continue by code. Each page is one short, finished read.
    if (after) {
        where << QStringLiteral("%1 >= ? AND (%1 > ? OR CD > ?)").arg(key);
        values << after->key << after->key << after->cd;
    }
    QString sql = QStringLiteral("SELECT CD, A1, A4, A9, A12, A13, %1 FROM CADA").arg(key);
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY %1, CD LIMIT ?").arg(key);
    values << limit;

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return failQuery(error, m_filePath, query);
    for (const QVariant &v : values)
        query.addBindValue(v);
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    rows->clear();
    while (query.next()) {
        ListRow row;
        row.cd = query.value(0).toLongLong();
        row.a1 = text(query, 1);
        row.a4 = text(query, 2);
        row.a9 = text(query, 3);
        row.a12 = text(query, 4);
        row.a13 = text(query, 5);
        row.key = text(query, 6);
        rows->append(row);
    }
    return true;
}
