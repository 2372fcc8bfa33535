#include "core/contacts/SqliteRegister.h"

#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqlRows.h"
#include "core/contacts/SqliteAreaCode.h"
#include "core/contacts/SqliteCallLog.h"
#include "core/contacts/SqliteContactWriter.h"
#include "core/contacts/SqliteNameScan.h"
#include "core/contacts/SqliteReader.h"
#include "core/contacts/SqliteSchema.h"
#include "core/contacts/SqliteWriteTransaction.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <functional>

namespace {

const QString Columns = QStringLiteral("CD, A1, A4, A9, A10, A11, A12, A13, A14, OB");
const QString &CallTimeFormat = SqliteRegister::CallTimeFormat;

bool failOpen(QString *error, const QString &file, const SqlConnection &conn, RegisterProblem *problem = nullptr)
{
    if (problem)
        *problem = conn.problem();
    const QString what = sqliteProblemText(conn.problem());
    return sqlFailure(error, what.isEmpty() ? QStringLiteral("Não foi possível abrir o cadastro de contatos.") : what,
        file, conn.errorText());
}

bool failQuery(QString *error, const QString &file, const QSqlQuery &query, RegisterProblem *problem = nullptr)
{
    const RegisterProblem met = sqliteProblem(query.lastError().nativeErrorCode());
    if (problem)
        *problem = met;
    QString what = sqliteProblemText(met);
    if (query.lastError().text().contains(QLatin1String("no such table"), Qt::CaseInsensitive))
        what = QStringLiteral("O arquivo não contém a tabela de contatos CADA.");
    else if (query.lastError().text().contains(QLatin1String("no such column"), Qt::CaseInsensitive))
        what = QStringLiteral("A tabela de contatos CADA não tem todas as colunas esperadas.");
    else if (what.isEmpty())
        what = QStringLiteral("Erro ao acessar o cadastro de contatos.");
    return sqlFailure(error, what, file, query.lastError().text());
}

// Whether the rows holding this part of a name are few enough to be found by
// their trigrams and sorted, rather than by reading the name index in order.
bool fewRowsHold(const QSqlDatabase &db, const QString &part)
{
    if (SqliteSchema::namesIndexedUpTo(db) != SqliteSchema::AllRows)
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM CADA_BUSCA WHERE CADA_BUSCA MATCH ? LIMIT ?)"));
    query.addBindValue(SqliteRegister::trigramQuery(part));
    query.addBindValue(SqliteSchema::DenseMatches + 1);
    return query.exec() && query.next() && query.value(0).toInt() <= SqliteSchema::DenseMatches;
}

} // namespace

QString SqliteRegister::trigramQuery(const QString &part)
{
    QStringList trigrams;
    for (qsizetype i = 0; i + 3 <= part.size(); ++i)
        trigrams << QLatin1Char('"') + part.mid(i, 3).replace(QLatin1Char('"'), QLatin1String("\"\""))
                + QLatin1Char('"');
    trigrams.removeDuplicates();
    return trigrams.join(QLatin1String(" AND "));
}

SqliteRegister::SqliteRegister(QString filePath, QString areaCodePath, Patience patience, QObject *parent)
    : Register(parent)
    , m_filePath(std::move(filePath))
    , m_areaCodePath(std::move(areaCodePath))
    , m_readWaitMs(patience == Patience::Window ? WindowReadWaitMs : SqlConnection::BusyTimeoutMs)
    , m_writeWaitMs(patience == Patience::Window ? WindowWriteWaitMs : SqlConnection::BusyTimeoutMs)
{
}

QString SqliteRegister::where() const
{
    return m_filePath;
}

Register::Health SqliteRegister::health()
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    RegisterProblem problem = conn.problem();
    if (conn.isOpen()) {
        QSqlQuery query(conn.database());
        if (query.exec(QStringLiteral("SELECT N FROM CADA_CONTAGEM")) && query.next())
            return Health::Ok;
        problem = sqliteProblem(query.lastError().nativeErrorCode());
    }
    return problem == RegisterProblem::Busy ? Health::Busy : Health::Gone;
}

bool SqliteRegister::create(const QString &filePath, QString *error)
{
    if (QFileInfo::exists(filePath))
        return sqlFailure(error, QStringLiteral("O cadastro de contatos já existe."), filePath, {});
    bool ok = false;
    QString detail;
    {
        SqlConnection conn(filePath, SqlConnection::Mode::Create);
        if (!conn.isOpen())
            return failOpen(error, filePath, conn);
        SqliteWriteTransaction tx(conn.database());
        ok = tx.begun() && SqliteSchema::create(conn.database(), &detail) && tx.commit();
        if (!ok && detail.isEmpty())
            detail = tx.query().lastError().text();
    }
    if (!ok) {
        QFile::remove(filePath);
        return sqlFailure(error, QStringLiteral("Não foi possível criar o cadastro de contatos."), filePath, detail);
    }
    return true;
}

bool SqliteRegister::count(qint64 *result, QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    if (!query.exec(QStringLiteral("SELECT N FROM CADA_CONTAGEM")) || !query.next())
        return failQuery(error, m_filePath, query);
    *result = query.value(0).toLongLong();
    return true;
}

bool SqliteRegister::findByCode(qint64 code, std::optional<ContactRecord> *result, QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
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
        *result = SqlRows::readContact(query);
    return true;
}

bool SqliteRegister::upgrade(QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_writeWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    return SqliteSchema::addMissing(conn.database(), m_filePath, error);
}

bool SqliteRegister::buildIndexes(QString *error)
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    return SqliteSchema::buildIndexes(conn.database(), m_filePath, error);
}

bool SqliteRegister::findByKeys(
    const QStringList &keys, const QString &laidOut, std::optional<ContactRecord> *result, QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    if (!query.prepare(QStringLiteral("SELECT %1 FROM CADA_FONES JOIN CADA USING (CD) WHERE CHAVE IN (?, ?) "
                                      "ORDER BY A4 = ? DESC, CD LIMIT 1")
                           .arg(Columns)))
        return failQuery(error, m_filePath, query);
    query.addBindValue(keys.value(0));
    query.addBindValue(keys.value(1, keys.value(0)));
    query.addBindValue(laidOut);
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    if (query.next())
        *result = SqlRows::readContact(query);
    return true;
}

bool SqliteRegister::write(const std::function<bool(QSqlQuery &)> &work, QString *error) const
{
    for (int attempt = 1;; ++attempt) {
        SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_writeWaitMs);
        if (!conn.isOpen())
            return failOpen(error, m_filePath, conn);
        SqliteWriteTransaction tx(conn.database());
        QSqlQuery query(conn.database());
        const QSqlQuery *failed = nullptr;
        if (!tx.begun())
            failed = &tx.query();
        else if (!work(query))
            failed = &query;
        else if (!tx.commit())
            failed = &tx.query();
        if (!failed)
            return true;
        // SQLITE_SCHEMA: the statement could not be made anew after another
        // connection's work; seen once when a save waits on the indexes being
        // built. A new connection reads the schema afresh.
        if (attempt == 1 && failed->lastError().nativeErrorCode() == QLatin1String("17"))
            continue;
        return failQuery(error, m_filePath, *failed);
    }
}

bool SqliteRegister::logCall(CallRecord *call, QString *error)
{
    return write(
        [&](QSqlQuery &query) {
            if (!query.prepare(
                    QStringLiteral("INSERT INTO CHAMADAS (QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, NOME_LINHA, "
                                   "FONTE, LINHA, CD, NOME, BUSCA) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
                return false;
            query.addBindValue(call->when.toString(CallTimeFormat));
            SqlRows::bindCall(query, *call);
            if (!query.exec())
                return false;
            call->id = query.lastInsertId().toLongLong();
            return true;
        },
        error);
}

bool SqliteRegister::listCalls(
    const CallFilter &filter, qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    return SqliteCallLog::readPage(conn.database(), m_filePath, filter, beforeId, limit, rows, error);
}

bool SqliteRegister::forEachCall(
    const QDateTime &since, const std::function<bool(const CallRecord &)> &visit, QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    return SqliteCallLog::forEach(conn.database(), m_filePath, since, visit, error);
}

bool SqliteRegister::pruneCalls(const QDateTime &before, qint64 *removed, QString *error)
{
    *removed = 0;
    for (;;) {
        QElapsedTimer slice;
        slice.start();
        int deleted = 0;
        const bool ok = write(
            [&](QSqlQuery &query) {
                if (!query.prepare(QStringLiteral("DELETE FROM CHAMADAS WHERE ID IN (SELECT ID FROM CHAMADAS "
                                                  "WHERE QUANDO < ? ORDER BY QUANDO LIMIT ?)")))
                    return false;
                query.addBindValue(before.toString(CallTimeFormat));
                query.addBindValue(SqliteSchema::SliceRows);
                if (!query.exec())
                    return false;
                deleted = query.numRowsAffected();
                return true;
            },
            error);
        if (!ok)
            return false;
        *removed += deleted;
        if (deleted < SqliteSchema::SliceRows)
            return true;
        QThread::msleep(std::max<qint64>(SqliteSchema::MinPauseMs, slice.elapsed()));
    }
}

bool SqliteRegister::insert(const ContactRecord &record, qint64 *newCode, QString *error)
{
    return write(
        [&](QSqlQuery &query) {
            if (!query.prepare(QStringLiteral("INSERT INTO CADA (A1, A4, A9, A10, A11, A12, A13, A14, OB) "
                                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")))
                return false;
            SqlRows::bindContact(query, record);
            if (!query.exec())
                return false;
            *newCode = query.lastInsertId().toLongLong();
            return true;
        },
        error);
}

bool SqliteRegister::update(const ContactRecord &record, const ContactRecord *asLoaded, Saved *result, QString *error)
{
    return write(
        [&](QSqlQuery &query) {
            QString sql = QStringLiteral("UPDATE CADA SET A1 = ?, A4 = ?, A9 = ?, A10 = ?, A11 = ?, A12 = ?, "
                                         "A13 = ?, A14 = ?, OB = ? WHERE CD = ?");
            // Only while the row holds what was loaded (NULL read as empty).
            if (asLoaded)
                sql += QStringLiteral(" AND coalesce(A1, '') = ? AND coalesce(A4, '') = ? AND coalesce(A9, '') = ? "
                                      "AND coalesce(A10, '') = ? AND coalesce(A11, '') = ? AND coalesce(A12, '') = ? "
                                      "AND coalesce(A13, '') = ? AND coalesce(A14, '') = ? AND coalesce(OB, '') = ?");
            if (!query.prepare(sql))
                return false;
            SqlRows::bindContact(query, record);
            query.addBindValue(record.cd);
            if (asLoaded)
                SqlRows::bindContact(query, *asLoaded);
            if (!query.exec())
                return false;
            if (query.numRowsAffected() > 0) {
                *result = Saved::Updated;
                return true;
            }
            query.finish();
            if (!query.prepare(QStringLiteral("SELECT count(*) FROM CADA WHERE CD = ?")))
                return false;
            query.addBindValue(record.cd);
            if (!query.exec() || !query.next())
                return false;
            *result = query.value(0).toInt() > 0 ? Saved::ChangedElsewhere : Saved::Missing;
            return true;
        },
        error);
}

bool SqliteRegister::forEachContact(const std::function<bool(const ContactRecord &)> &visit, QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT %1 FROM CADA ORDER BY CD").arg(Columns)))
        return failQuery(error, m_filePath, query);
    while (query.next()) {
        if (!visit(SqlRows::readContact(query)))
            return false;
    }
    return true;
}

bool SqliteRegister::remove(qint64 code, QString *error)
{
    return write(
        [&](QSqlQuery &query) {
            if (!query.prepare(QStringLiteral("DELETE FROM CADA WHERE CD = ?")))
                return false;
            query.addBindValue(code);
            return query.exec();
        },
        error);
}

bool SqliteRegister::queryFailure(
    QString *error, const QString &filePath, const QSqlQuery &query, RegisterProblem *problem)
{
    return failQuery(error, filePath, query, problem);
}

bool SqliteRegister::openFailure(
    QString *error, const QString &filePath, const SqlConnection &conn, RegisterProblem *problem)
{
    return failOpen(error, filePath, conn, problem);
}

std::unique_ptr<Register::Reader> SqliteRegister::reader(bool patient) const
{
    return std::make_unique<SqliteReader>(m_filePath, patient ? SqlConnection::BusyTimeoutMs : 0);
}

bool SqliteRegister::listPage(const QSqlDatabase &db, const QString &filePath, const NamePattern &pattern,
    const ListRow *after, int limit, QList<ListRow> *rows, QString *error, RegisterProblem *problem)
{
    rows->clear();
    if (pattern.matchesNobody())
        return true;
    const QString key = SqliteSchema::sortKeySql(QStringLiteral("A1"));
    const QString cKey = SqliteNameScan::SortKeyFunction + QStringLiteral("(A1)");
    const bool everyone = pattern.matchesEveryone();
    // The sort-key range keeps the search on the name index.
    QStringList range;
    QVariantList rangeValues;
    if (!pattern.lowKey.isEmpty()) {
        range << QStringLiteral("%1 >= ? AND %1 < ?").arg(key);
        rangeValues << pattern.lowKey << pattern.highKey;
    }
    // Each name is checked cheaply first, which spares most names that do
    // not match the case folding (computed in C when the functions could be
    // made known); then by the GLOB over the case-folded name, letter case
    // ignored and accents kept, unless the cheap check is exact already.
    const bool inC = !everyone && SqliteNameScan::makeFunctionsKnown(db);
    QStringList check;
    if (!everyone) {
        check << SqliteNameScan::prefilterSql(pattern, inC);
        if (!SqliteNameScan::prefilterDecides(pattern)) // written into the statement, as the check before it
            check << QStringLiteral("%1 GLOB '%2'")
                         .arg(inC ? SqliteNameScan::CaseFoldFunction + QStringLiteral("(A1)")
                                  : SqliteSchema::caseFoldSql(QStringLiteral("A1")),
                             SqliteNameScan::quoted(SqliteNameScan::glob(pattern)));
    }
    // In the name index, the key is checked first: only the names whose key
    // fits are looked up in the table.
    const QString keyGlob = SqliteNameScan::quoted(SqliteNameScan::glob(pattern, true));
    const QStringList keyCheck
        = everyone ? QStringList() : QStringList { QStringLiteral("%1 GLOB '%2'").arg(key, keyGlob) };
    // A part of a name that few rows hold: those rows, found by trigrams.
    QStringList narrowed;
    QVariantList narrowedValues;
    if (!pattern.infix.isEmpty() && fewRowsHold(db, pattern.infix)) {
        narrowed << QStringLiteral("CD IN (SELECT rowid FROM CADA_BUSCA WHERE CADA_BUSCA MATCH ?)");
        narrowedValues << trigramQuery(pattern.infix);
    }
    // Keyset paging: the next page starts at the last key read, and rows of an
    // equal key continue by code. Each page is one short, finished read.
    auto from = [&](const QString &rowKey) {
        return after ? QStringList { QStringLiteral("%1 >= ? AND (%1 > ? OR CD > ?)").arg(rowKey) } : QStringList();
    };
    const QVariantList fromValues = after ? QVariantList { after->key, after->key, after->cd } : QVariantList();
    // The rows meeting `conditions`, in order of `rowKey`, from `table`.
    auto read = [&](const QString &table, const QString &rowKey, const QStringList &conditions,
                    const QVariantList &values, qsizetype count) {
        QString sql = QStringLiteral("SELECT CD, A1, A4, A9, A12, A13, %1 FROM %2").arg(rowKey, table);
        if (!conditions.isEmpty())
            sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
        sql += QStringLiteral(" ORDER BY %1, CD LIMIT ?").arg(rowKey);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            return failQuery(error, filePath, query, problem);
        for (const QVariant &v : values + QVariantList { count })
            query.addBindValue(v);
        if (!query.exec())
            return failQuery(error, filePath, query, problem);
        while (query.next())
            rows->append(SqlRows::readListRow(query));
        return true;
    };
    // From the name index: the rows of the range above the key `above` and up
    // to the key `upTo` (each a quoted text; empty: the range's own bound).
    // Only the tightest bound on each side is given: SQLite starts and stops
    // reading the index by one and checks any other on every row it reads.
    const bool afterIsLower = after && after->key.toUtf8() >= pattern.lowKey.toUtf8();
    auto readInOrder = [&](const QString &above, const QString &upTo) {
        QStringList bounds;
        QVariantList values;
        if (!above.isEmpty()) {
            bounds << QStringLiteral("%1 > '%2'").arg(key, above);
        } else if (!pattern.lowKey.isEmpty() && !afterIsLower) {
            bounds << QStringLiteral("%1 >= ?").arg(key);
            values << pattern.lowKey;
        }
        if (!upTo.isEmpty()) {
            bounds << QStringLiteral("%1 <= '%2'").arg(key, upTo);
        } else if (!pattern.highKey.isEmpty()) {
            bounds << QStringLiteral("%1 < ?").arg(key);
            values << pattern.highKey;
        }
        return read(QStringLiteral("CADA"), key, bounds + keyCheck + check + narrowed + from(key),
            values + narrowedValues + fromValues, limit - rows->size());
    };
    qint64 contacts = -1;
    if (!everyone && narrowed.isEmpty() && inC) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT N FROM CADA_CONTAGEM")) && query.next())
            contacts = query.value(0).toLongLong();
    }
    if (contacts < 0)
        return readInOrder({}, {});

    // Without an index to narrow it: the name index read in order, but only
    // so far; the matches beyond are found by reading the table once.
    // `cap` gets the key `offset` rows into what is left of the range, or
    // stays empty when fewer rows are left. Within a prefix's range, the rows
    // counted are those whose key fits, the ones looked up: going through
    // the rest of a range costs little. Not so through the whole index,
    // which would then be gone through twice when few keys fit.
    const QStringList counted = pattern.lowKey.isEmpty() ? QStringList() : keyCheck;
    auto capAt = [&](qint64 offset, QString *cap) {
        QString sql = QStringLiteral("SELECT %1 FROM CADA").arg(key);
        const QStringList conditions = range + counted + from(key);
        if (!conditions.isEmpty())
            sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(sql + QStringLiteral(" ORDER BY %1, CD LIMIT 1 OFFSET ?").arg(key)))
            return failQuery(error, filePath, query, problem);
        for (const QVariant &v : rangeValues + fromValues + QVariantList { offset })
            query.addBindValue(v);
        if (!query.exec())
            return failQuery(error, filePath, query, problem);
        *cap = query.next() ? SqliteNameScan::quoted(query.value(0).toString()) : QString();
        return true;
    };
    const qint64 walk = SqliteNameScan::walkRows(contacts);
    QString cap;
    if (!capAt(walk, &cap))
        return false;
    if (cap.isEmpty())
        return readInOrder({}, {}); // few rows left: all read in order
    if (!readInOrder({}, cap))
        return false;
    if (rows->size() >= limit)
        return true;
    // Many matches among the first rows: more of them further on. Few: the
    // table is read, unless few rows are left.
    const qint64 more = SqliteNameScan::moreWalkRows(contacts);
    const bool dense = rows->size() * more >= qint64(limit) * walk;
    QString further;
    if (!capAt(dense ? more : SqliteNameScan::wholeRangeRows(contacts), &further))
        return false;
    if (further.isEmpty())
        return readInOrder(cap, {});
    if (dense) {
        if (!readInOrder(cap, further))
            return false;
        if (rows->size() >= limit)
            return true;
        cap = further;
    }
    // The table once, beyond the cap: the cheap check first, so that the key
    // is computed only for the names it keeps (a name that matches lies in
    // the prefix's range: its key begins with the prefix's).
    const QStringList inTable = check + from(cKey) + QStringList { QStringLiteral("%1 > '%2'").arg(cKey, cap) };
    return read(QStringLiteral("CADA NOT INDEXED"), cKey, inTable, fromValues, limit - rows->size());
}

// --- the desk's area code, in a file of its own

bool SqliteRegister::createAreaCode(const QString &filePath, QString *error)
{
    return SqliteAreaCode::create(filePath, error);
}

bool SqliteRegister::loadAreaCode(QString *value, QString *error)
{
    return SqliteAreaCode::load(m_areaCodePath, m_readWaitMs, value, error);
}

bool SqliteRegister::storeAreaCode(const QString &value, QString *error)
{
    return SqliteAreaCode::store(m_areaCodePath, m_writeWaitMs, value, error);
}

// --- many contacts at once

bool SqliteRegister::insertAll(const QList<ContactRecord> &records, const QList<Rewrite> &rewrites,
    const std::function<void(qint64)> &progress, QString *error)
{
    SqliteContactWriter writer(m_filePath, SqliteContactWriter::Codes::New);
    if (!writer.begin(error))
        return false;
    for (qsizetype i = 0; i < records.size() + rewrites.size(); ++i) {
        if (i < records.size() ? !writer.add(records.at(i), error)
                               : !writer.rewrite(rewrites, i - records.size(), error))
            return false;
        if (progress && (i + 1) % 1000 == 0)
            progress(i + 1);
    }
    return writer.commit(error);
}

bool SqliteRegister::contactsByPhoneKeys(const QStringList &keys, QHash<QString, ContactRecord> *found, QString *error)
{
    constexpr qsizetype Batch = 500;
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    query.setForwardOnly(true);
    for (qsizetype from = 0; from < keys.size(); from += Batch) {
        const QStringList part = keys.mid(from, Batch);
        QStringList marks(part.size(), QStringLiteral("?"));
        if (!query.prepare(QStringLiteral("SELECT %1, CHAVE FROM CADA_FONES JOIN CADA USING (CD) WHERE CHAVE IN (%2) "
                                          "ORDER BY CD")
                               .arg(Columns, marks.join(QLatin1Char(',')))))
            return failQuery(error, m_filePath, query);
        for (const QString &k : part)
            query.addBindValue(k);
        if (!query.exec())
            return failQuery(error, m_filePath, query);
        while (query.next()) {
            const QString key = query.value(10).toString();
            if (!found->contains(key))
                found->insert(key, SqlRows::readContact(query));
        }
    }
    return true;
}
