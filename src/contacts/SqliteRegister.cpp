#include "contacts/SqliteRegister.h"

#include "contacts/NameKey.h"
#include "contacts/SqlConnection.h"
#include "contacts/SqlRows.h"
#include "contacts/SqliteContactWriter.h"
#include "contacts/SqliteNameScan.h"
#include "contacts/SqliteReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QVariant>

#include <functional>
#include <limits>

namespace {

const QString Columns = QStringLiteral("CD, A1, A4, A9, A10, A11, A12, A13, A14, OB");
const QString CallColumns
    = QStringLiteral("ID, QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, NOME_LINHA, FONTE, LINHA, CD, NOME");
const QString &CallTimeFormat = SqliteRegister::CallTimeFormat;

QString replaceSql(const QString &inner, char16_t from, QChar to)
{
    return QStringLiteral("replace(%1,'%2','%3')").arg(inner, QChar(from), to);
}

// The name's sort key in SQL, as NameKey::sortKey() computes it: built-in
// functions only, so that the index on it stays usable by the sqlite3 tool.
QString sortKeySql(const QString &column)
{
    QString expr = QStringLiteral("coalesce(%1,'')").arg(column);
    for (const NameKey::Letter &l : NameKey::letters()) {
        expr = replaceSql(expr, l.upper, QLatin1Char(l.base));
        expr = replaceSql(expr, l.lower, QLatin1Char(l.base));
    }
    return QStringLiteral("lower(%1)").arg(expr);
}

// The name case-folded, accents kept, as NameKey::caseFold() does it.
QString caseFoldSql(const QString &column)
{
    QString expr = QStringLiteral("coalesce(%1,'')").arg(column);
    for (const NameKey::Letter &l : NameKey::letters())
        expr = replaceSql(expr, l.upper, l.lower);
    return QStringLiteral("lower(%1)").arg(expr);
}

// The pattern as a GLOB over the case-folded name.
QString globOf(const NamePattern &pattern)
{
    QString glob;
    for (const NamePattern::Piece &p : pattern.pieces) {
        switch (p.kind) {
        case NamePattern::Piece::Kind::AnyRun: glob += QLatin1Char('*'); break;
        case NamePattern::Piece::Kind::AnyCharacter: glob += QLatin1Char('?'); break;
        case NamePattern::Piece::Kind::Digit: glob += QStringLiteral("[0-9]"); break;
        case NamePattern::Piece::Kind::Literal:
            for (const QChar c : p.text) {
                // GLOB's own special characters stand for themselves in brackets.
                if (c == u'*' || c == u'?' || c == u'[' || c == u']')
                    glob += QLatin1Char('[') + c + QLatin1Char(']');
                else
                    glob += c;
            }
            break;
        }
    }
    return glob + QLatin1Char('*');
}
const QString Schema = QStringLiteral(":/data/schema-cada.sql");
const QString AreaCodeSchema = QStringLiteral(":/data/schema-ddd.sql");
const QString AreaCodeOpenFailed = QStringLiteral("Não foi possível abrir o arquivo do DDD local.");
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
// Rows brought into a companion in one transaction when an earlier register
// is brought up to date: few enough that a save meanwhile waits only briefly.
// Between two slices the register is left alone at least as long as a slice
// took, so that a desk waiting to save gets its turn.
constexpr int SliceRows = 10000;
constexpr int MinPauseMs = 50;
// Above this many rows holding a part of a name, the name index read in order
// finds a page sooner than the rows found by their trigrams, sorted.
constexpr int DenseMatches = 2000;
const qint64 AllRows = std::numeric_limits<qint64>::max();

bool failOpen(QString *error, const QString &file, const SqlConnection &conn, RegisterProblem *problem = nullptr)
{
    if (problem)
        *problem = conn.problem();
    const QString what = sqliteProblemText(conn.problem());
    return sqlFailure(error, what.isEmpty() ? QStringLiteral("Não foi possível abrir o cadastro de contatos.") : what,
        file, conn.errorText());
}

bool failAreaCode(QString *error, const QString &file, const QSqlQuery &query)
{
    QString what = QStringLiteral("Erro ao acessar o arquivo do DDD local.");
    if (query.lastError().text().contains(QLatin1String("no such table"), Qt::CaseInsensitive))
        what = QStringLiteral("O arquivo do DDD local não contém a tabela a1.");
    return sqlFailure(error, what, file, query.lastError().text());
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
        QStringLiteral("CREATE INDEX IF NOT EXISTS CADA_NOME ON CADA (%1)").arg(sortKeySql(QStringLiteral("A1"))),
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
// rows per transaction, the last slice with `upTo` = AllRows.
bool inSlices(
    const QSqlDatabase &db, qint64 after, const std::function<bool(qint64, qint64, QString *)> &fill, QString *detail)
{
    for (;;) {
        QElapsedTimer took;
        took.start();
        WriteTransaction tx(db);
        if (!tx.begun()) {
            *detail = tx.query().lastError().text();
            return false;
        }
        qint64 upTo = AllRows;
        {
            QSqlQuery bound(db);
            bound.prepare(QStringLiteral("SELECT CD FROM CADA WHERE CD > ? ORDER BY CD LIMIT 1 OFFSET ?"));
            bound.addBindValue(after);
            bound.addBindValue(SliceRows - 1);
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
        if (upTo == AllRows)
            return true;
        after = upTo;
        QThread::msleep(std::max<qint64>(MinPauseMs, took.elapsed()));
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
                && (upTo != AllRows || createIndexes(db, detail));
        },
        detail);
}

qint64 namesIndexedUpTo(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT ATE FROM CADA_BUSCA_PREPARO")) && query.next()
        ? query.value(0).toLongLong()
        : -1;
}

// Brings the names of a register made before the trigram index into it; the
// triggers index only rows up to the mark that each slice moves on.
bool fillNameSearch(const QSqlDatabase &db, QString *detail)
{
    const qint64 from = namesIndexedUpTo(db);
    if (from == AllRows)
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

// Whether the rows holding this part of a name are few enough to be found by
// their trigrams and sorted, rather than by reading the name index in order.
bool fewRowsHold(const QSqlDatabase &db, const QString &part)
{
    if (namesIndexedUpTo(db) != AllRows)
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM CADA_BUSCA WHERE CADA_BUSCA MATCH ? LIMIT ?)"));
    query.addBindValue(SqliteRegister::trigramQuery(part));
    query.addBindValue(DenseMatches + 1);
    return query.exec() && query.next() && query.value(0).toInt() <= DenseMatches;
}

// Whether the calls holding this text are few enough to be found by their
// trigrams and sorted, rather than by reading the log newest first.
bool fewCallsHold(const QSqlDatabase &db, const QString &part)
{
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM CHAMADAS_BUSCA WHERE CHAMADAS_BUSCA MATCH ? LIMIT ?)"));
    query.addBindValue(SqliteRegister::trigramQuery(part));
    query.addBindValue(DenseMatches + 1);
    return query.exec() && query.next() && query.value(0).toInt() <= DenseMatches;
}

// A call of the log, its time as this backend keeps it.
CallRecord callAt(const QSqlQuery &query)
{
    return SqlRows::readCall(query, QDateTime::fromString(query.value(1).toString(), CallTimeFormat));
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

bool SqliteRegister::createSchema(const QSqlDatabase &db, QString *detail)
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

bool SqliteRegister::upgrade(QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_writeWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    const QSqlDatabase db = conn.database();
    bool present = false;
    QString detail;
    if (!exists(db, QStringLiteral("table"), QStringLiteral("CADA"), &present, &detail))
        return sqlFailure(error, QStringLiteral("Erro ao acessar o cadastro de contatos."), m_filePath, detail);
    if (!present)
        return sqlFailure(error, QStringLiteral("O arquivo não contém a tabela de contatos CADA."), m_filePath, {});
    QStringList missing;
    for (const Companion &c : Companions) {
        if (!exists(db, QStringLiteral("table"), QLatin1String(c.table), &present, &detail))
            return sqlFailure(error, QStringLiteral("Erro ao acessar o cadastro de contatos."), m_filePath, detail);
        if (!present)
            missing << QLatin1String(c.script);
    }
    if (missing.isEmpty())
        return true;
    WriteTransaction tx(db);
    bool ok = tx.begun();
    for (const QString &script : std::as_const(missing))
        ok = ok && runSqlScript(db, script, &detail);
    if (!ok || !tx.commit()) {
        if (detail.isEmpty())
            detail = tx.query().lastError().text();
        return sqlFailure(error,
            QStringLiteral("Não foi possível preparar o cadastro de contatos para esta versão do Zuna."), m_filePath,
            detail);
    }
    return true;
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
        WriteTransaction tx(conn.database());
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
    return readCalls(conn.database(), m_filePath, filter, beforeId, limit, rows, error);
}

bool SqliteRegister::readCalls(const QSqlDatabase &db, const QString &filePath, const CallFilter &filter,
    qint64 beforeId, int limit, QList<CallRecord> *rows, QString *error, RegisterProblem *problem)
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
            values << trigramQuery(needle);
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
        return failQuery(error, filePath, query, problem);
    for (const QVariant &v : std::as_const(values))
        query.addBindValue(v);
    if (!query.exec())
        return failQuery(error, filePath, query, problem);
    rows->clear();
    while (query.next())
        rows->append(callAt(query));
    return true;
}

bool SqliteRegister::forEachCall(
    const QDateTime &since, const std::function<bool(const CallRecord &)> &visit, QString *error)
{
    SqlConnection conn(m_filePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    QSqlQuery query(conn.database());
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT %1 FROM CHAMADAS WHERE QUANDO >= ? ORDER BY ID").arg(CallColumns)))
        return failQuery(error, m_filePath, query);
    query.addBindValue(since.isValid() ? since.toString(CallTimeFormat) : QString(QLatin1String("")));
    if (!query.exec())
        return failQuery(error, m_filePath, query);
    while (query.next()) {
        if (!visit(callAt(query)))
            return false;
    }
    return true;
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
                query.addBindValue(SliceRows);
                if (!query.exec())
                    return false;
                deleted = query.numRowsAffected();
                return true;
            },
            error);
        if (!ok)
            return false;
        *removed += deleted;
        if (deleted < SliceRows)
            return true;
        QThread::msleep(std::max<qint64>(MinPauseMs, slice.elapsed()));
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

bool SqliteRegister::buildIndexes(QString *error)
{
    SqlConnection conn(m_filePath);
    if (!conn.isOpen())
        return failOpen(error, m_filePath, conn);
    const QSqlDatabase db = conn.database();
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
        return sqlFailure(error, QStringLiteral("Não foi possível criar os índices do cadastro."), m_filePath, detail);
    return true;
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
    const QString key = sortKeySql(QStringLiteral("A1"));
    QStringList where;
    QVariantList values;
    // The sort-key range keeps the search on the name index; the GLOB then
    // checks the whole pattern, letter case ignored and accents kept.
    if (!pattern.lowKey.isEmpty()) {
        where << QStringLiteral("%1 >= ? AND %1 < ?").arg(key);
        values << pattern.lowKey << pattern.highKey;
    }
    // A pattern that starts with a wildcard may go through every name: a
    // cheap check first spares most of them the case folding.
    const bool anywhere = pattern.lowKey.isEmpty() && !pattern.matchesEveryone();
    const QString prefilter = anywhere ? SqliteNameScan::prefilterSql(pattern) : QString();
    if (anywhere)
        where << prefilter;
    const QString glob = SqliteNameScan::quoted(globOf(pattern));
    const qsizetype globAt = where.size();
    if (!pattern.matchesEveryone()) // written into the statement, as the check before it
        where << QStringLiteral("%1 GLOB '%2'").arg(caseFoldSql(QStringLiteral("A1")), glob);
    // A part of a name that few rows hold: those rows, found by trigrams.
    bool narrowed = false;
    if (!pattern.infix.isEmpty() && fewRowsHold(db, pattern.infix)) {
        where << QStringLiteral("CD IN (SELECT rowid FROM CADA_BUSCA WHERE CADA_BUSCA MATCH ?)");
        values << trigramQuery(pattern.infix);
        narrowed = true;
    }
    // Keyset paging: the next page starts at the last key read, and rows of an
    // equal key continue by code. Each page is one short, finished read.
    auto from = [&](const QString &rowKey) {
        return after ? QStringList { QStringLiteral("%1 >= ? AND (%1 > ? OR CD > ?)").arg(rowKey) } : QStringList();
    };
    const QVariantList fromValues = after ? QVariantList { after->key, after->key, after->cd } : QVariantList();
    // The rows in order of `rowKey` from `table` meeting `extra` besides the rest.
    auto read = [&](const QString &table, const QString &rowKey, const QString &extra, int count) {
        QString sql = QStringLiteral("SELECT CD, A1, A4, A9, A12, A13, %1 FROM %2").arg(rowKey, table);
        const QStringList all = where + from(rowKey) + (extra.isEmpty() ? QStringList() : QStringList { extra });
        if (!all.isEmpty())
            sql += QStringLiteral(" WHERE ") + all.join(QStringLiteral(" AND "));
        sql += QStringLiteral(" ORDER BY %1, CD LIMIT ?").arg(rowKey);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            return failQuery(error, filePath, query, problem);
        for (const QVariant &v : values + fromValues + QVariantList { count })
            query.addBindValue(v);
        if (!query.exec())
            return failQuery(error, filePath, query, problem);
        while (query.next())
            rows->append(SqlRows::readListRow(query));
        return true;
    };
    if (!anywhere || narrowed || !SqliteNameScan::makeFunctionsKnown(db))
        return read(QStringLiteral("CADA"), key, {}, limit);

    // Without an index to narrow it: the name index read in order, but only
    // so far; the matches beyond are found by reading the table once.
    QSqlQuery capQuery(db);
    capQuery.setForwardOnly(true);
    QString capSql = QStringLiteral("SELECT %1 FROM CADA").arg(key);
    if (after)
        capSql += QStringLiteral(" WHERE ") + from(key).join(QStringLiteral(" AND "));
    if (!capQuery.prepare(capSql + QStringLiteral(" ORDER BY %1, CD LIMIT 1 OFFSET ?").arg(key)))
        return failQuery(error, filePath, capQuery, problem);
    for (const QVariant &v : fromValues + QVariantList { SqliteNameScan::walkRows(db, prefilter) })
        capQuery.addBindValue(v);
    if (!capQuery.exec())
        return failQuery(error, filePath, capQuery, problem);
    if (!capQuery.next())
        return read(QStringLiteral("CADA"), key, {}, limit); // few rows left: all read in order
    const QString cap = SqliteNameScan::quoted(capQuery.value(0).toString());
    if (!read(QStringLiteral("CADA"), key, QStringLiteral("%1 <= '%2'").arg(key, cap), limit))
        return false;
    if (rows->size() >= limit)
        return true;
    const QString rowKey = SqliteNameScan::SortKeyFunction + QStringLiteral("(A1)");
    where[globAt] = QStringLiteral("%1(A1) GLOB '%2'").arg(SqliteNameScan::CaseFoldFunction, glob);
    return read(QStringLiteral("CADA NOT INDEXED"), rowKey, QStringLiteral("%1 > '%2'").arg(rowKey, cap),
        limit - int(rows->size()));
}

// --- the desk's area code: table a1 of its own file, one row

bool SqliteRegister::createAreaCode(const QString &filePath, QString *error)
{
    if (QFileInfo::exists(filePath))
        return sqlFailure(error, QStringLiteral("O arquivo do DDD local já existe."), filePath, {});
    QString detail;
    {
        SqlConnection conn(filePath, SqlConnection::Mode::Create);
        if (!conn.isOpen()) {
            detail = conn.errorText();
        } else {
            WriteTransaction tx(conn.database());
            if (!tx.begun() || !runSqlScript(conn.database(), AreaCodeSchema, &detail) || !tx.commit()) {
                if (detail.isEmpty())
                    detail = tx.query().lastError().text();
            }
        }
    }
    if (detail.isEmpty())
        return true;
    QFile::remove(filePath);
    return sqlFailure(error, QStringLiteral("Não foi possível criar o arquivo do DDD local."), filePath, detail);
}

bool SqliteRegister::loadAreaCode(QString *value, QString *error)
{
    SqlConnection conn(m_areaCodePath, SqlConnection::Mode::OpenExisting, m_readWaitMs);
    if (!conn.isOpen())
        return sqlFailure(error, AreaCodeOpenFailed, m_areaCodePath, conn.errorText());
    QSqlQuery query(conn.database());
    if (!query.exec(QStringLiteral("SELECT a1 FROM a1 ORDER BY rowid LIMIT 1")))
        return failAreaCode(error, m_areaCodePath, query);
    if (!query.next())
        return sqlFailure(
            error, QStringLiteral("A tabela a1 do arquivo do DDD local não tem nenhuma linha."), m_areaCodePath, {});
    if (query.value(0).isNull())
        return sqlFailure(error, QStringLiteral("O DDD local na primeira linha da tabela a1 está sem valor (NULL)."),
            m_areaCodePath, {});
    *value = query.value(0).toString();
    return true;
}

bool SqliteRegister::storeAreaCode(const QString &value, QString *error)
{
    SqlConnection conn(m_areaCodePath, SqlConnection::Mode::OpenExisting, m_writeWaitMs);
    if (!conn.isOpen())
        return sqlFailure(error, AreaCodeOpenFailed, m_areaCodePath, conn.errorText());
    QSqlQuery query(conn.database());
    if (!query.prepare(
            QStringLiteral("UPDATE a1 SET a1 = ? WHERE rowid = (SELECT rowid FROM a1 ORDER BY rowid LIMIT 1)")))
        return failAreaCode(error, m_areaCodePath, query);
    query.addBindValue(value.isNull() ? QString(QLatin1String("")) : value);
    if (!query.exec())
        return failAreaCode(error, m_areaCodePath, query);
    if (query.numRowsAffected() == 0)
        return sqlFailure(
            error, QStringLiteral("A tabela a1 do arquivo do DDD local não tem nenhuma linha."), m_areaCodePath, {});
    return true;
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
