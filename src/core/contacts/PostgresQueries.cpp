#include "core/contacts/PostgresQueries.h"

#include "core/contacts/NameKey.h"
#include "core/contacts/PostgresStatement.h"
#include "core/contacts/SqlRows.h"

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
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

// Rows of the name index a search reads in order before it reads the table
// instead. Rows read from the start of the table to tell how many hold a
// pattern's run of letters, and how many of them may for the trigram index
// to be asked for the rest: above one in a hundred, the rows it finds, each
// looked up, checked and given its key by one process, cost more than a
// read of the table that the server's workers share.
constexpr int HeadRows = 2000;
constexpr int SampleRows = 2000;
constexpr int FewInSample = 20;
// When the head found some matches but not a page, the index is read on in
// order for three times as many rows as should hold the rest of the page at
// the head's rate (names that share a beginning share their other names
// too: the rate changes along the index): never when that is more than one
// row in WalkShare of the table (a row looked up costs some fifty rows of
// the table read in a row, so a walk that finds too little adds at most an
// eighth to the read of the table that follows), nor on fewer than
// WalkFromHits matches (too few to tell a rate).
constexpr int WalkShare = 400;
constexpr int WalkFromHits = 4;

// A LIKE (its letter case ignored) that every name matching the pieces
// meets: ASCII characters stand for themselves, any other for one character
// (a case-insensitive LIKE may not fold them as the register does).
QString likeFilter(const QList<NamePattern::Piece> &pieces)
{
    QString like;
    for (const NamePattern::Piece &p : pieces) {
        switch (p.kind) {
        case NamePattern::Piece::Kind::AnyRun: like += QLatin1Char('%'); break;
        case NamePattern::Piece::Kind::AnyCharacter:
        case NamePattern::Piece::Kind::Digit: like += QLatin1Char('_'); break;
        case NamePattern::Piece::Kind::Literal:
            for (const QChar c : p.text) {
                if (c.isHighSurrogate())
                    continue; // a pair is one character: its low half stands for it
                if (c.unicode() >= 0x80)
                    like += QLatin1Char('_');
                else
                    like += likeLiteral(QString(c));
            }
            break;
        }
    }
    return like + QLatin1Char('%');
}

// The name's sort key as zuna_chave_nome() makes it, in an expression the
// name index does not hold, and several times as quick to compute: a name
// of ASCII alone (a third of them) only needs lower() in the "C" collation,
// which changes A-Z alone; any other has each accented letter replaced,
// one replace() per letter, which costs a quick search of the name when
// the letter is not there (translate() looks every character up in its
// list, and costs about twice as much).
QString quickSortKey()
{
    QString key = QStringLiteral("lower(coalesce(a1, '') COLLATE \"C\")");
    for (const NameKey::Letter &l : NameKey::letters()) {
        for (const QChar accented : { l.lower, l.upper })
            key = QStringLiteral("replace(%1, '%2', '%3')").arg(key, accented, QChar(QLatin1Char(l.base)));
    }
    return QStringLiteral("((CASE WHEN octet_length(a1) = length(a1) THEN lower(a1 COLLATE \"C\") ELSE %1 END) "
                          "COLLATE \"C\")")
        .arg(key);
}

// Whether the LIKE of likeFilter(), in the "C" collation (where ILIKE
// ignores the case of A-Z alone), matches exactly the names the pattern
// does: when every character is ASCII and none must be a digit.
bool likeIsExact(const NamePattern &pattern)
{
    for (const NamePattern::Piece &p : pattern.pieces) {
        if (p.kind == NamePattern::Piece::Kind::Digit)
            return false;
        for (const QChar c : p.text) {
            if (c.unicode() >= 0x80)
                return false;
        }
    }
    return true;
}

// The first letter of the pattern beyond ASCII, in lower case, and its
// capital (itself when it has none); empty when there is none.
QString firstLetterBeyondAscii(const NamePattern &pattern)
{
    for (const NamePattern::Piece &p : pattern.pieces) {
        for (const QChar c : p.text) {
            if (c.unicode() < 0x80 || c.isSurrogate())
                continue;
            for (const NameKey::Letter &l : NameKey::letters()) {
                if (c == l.lower)
                    return QString(c) + QChar(l.upper);
            }
            return QString(c) + c;
        }
    }
    return {};
}

// The pattern as a POSIX regular expression over the name as stored,
// anchored at its start: each letter that the case folding reaches as
// itself or as its capital, so that it matches exactly the names whose
// case-folded form the pattern matches.
QString storedRegex(const NamePattern &pattern)
{
    QString regex = QStringLiteral("^");
    for (const NamePattern::Piece &p : pattern.pieces) {
        switch (p.kind) {
        case NamePattern::Piece::Kind::AnyRun: regex += QStringLiteral(".*"); break;
        case NamePattern::Piece::Kind::AnyCharacter: regex += QLatin1Char('.'); break;
        case NamePattern::Piece::Kind::Digit: regex += QStringLiteral("[0-9]"); break;
        case NamePattern::Piece::Kind::Literal:
            for (const QChar c : p.text) {
                QChar capital;
                if (c >= u'a' && c <= u'z')
                    capital = QChar(c.unicode() - 32);
                for (const NameKey::Letter &l : NameKey::letters()) {
                    if (c == l.lower)
                        capital = l.upper;
                }
                if (!capital.isNull())
                    regex += QLatin1Char('[') + c + capital + QLatin1Char(']');
                else if (QStringView(u".^$*+?()[]{}|\\").contains(c))
                    regex += QLatin1Char('\\') + c;
                else
                    regex += c;
            }
            break;
        }
    }
    return regex;
}

QString searchSql(const QSqlDatabase &db, const NamePattern &pattern, const Register::ListRow *after, int limit)
{
    // One statement in three parts, each read only when the one before it
    // left the page short:
    // 1. The name index read in order, but only its first HeadRows rows (or
    //    the range's): a page at once when matches are many, and every row
    //    it reads is looked up in the table, which costs as much per row as
    //    reading dozens of rows of the table in a row. When the head holds
    //    a few matches, the walk goes on as far as their rate says the page
    //    needs.
    // 2. The matches after those, when few rows of a sample of the table hold
    //    the longest run of letters (three or more): the rows the trigram
    //    index finds, sorted.
    // 3. Otherwise the matches after those, from one read of the table,
    //    sorted: what the bare server does for any pattern.
    // Parts 2 and 3 sort by the key in an expression the name index does not
    // hold, so that the planner never walks the index in order through a
    // table whose names seldom match. Each row is checked on the name as
    // stored, with no case folding computed per row: by a LIKE that ignores
    // the case of A-Z, exact when the pattern holds only ASCII and no "#";
    // otherwise also by a regular expression that takes the case variants
    // of each letter.
    QStringList where;
    QVariantList values;
    if (!pattern.lowKey.isEmpty()) {
        where << QStringLiteral("%1 >= ? AND %1 < ?").arg(SortKey);
        values << pattern.lowKey << pattern.highKey;
    }
    QStringList checks;
    QVariantList checkValues;
    const QString like = likeFilter(pattern.pieces);
    if (like.contains(QRegularExpression(QStringLiteral("[^%_]")))) {
        checks << QStringLiteral("coalesce(a1, '') COLLATE \"C\" ILIKE ?");
        checkValues << like;
    }
    // The LIKE lets any character stand for a letter beyond ASCII: a name
    // that holds neither case of the first such letter is passed over
    // before the regular expression is asked (in a CASE, since the server
    // would otherwise ask the cheaper-looking regular expression first).
    const QString letter = firstLetterBeyondAscii(pattern);
    if (!likeIsExact(pattern)) {
        if (letter.isEmpty()) {
            checks << QStringLiteral("coalesce(a1, '') ~ ?");
        } else {
            checks << QStringLiteral(
                "CASE WHEN strpos(a1, ?) > 0 OR strpos(a1, ?) > 0 THEN coalesce(a1, '') ~ ? ELSE false END");
            checkValues << QString(letter.at(0)) << QString(letter.at(1));
        }
        checkValues << storedRegex(pattern);
    }
    const QString check = checks.isEmpty() ? QStringLiteral("true") : checks.join(QStringLiteral(" AND "));
    const QString unsorted = quickSortKey();
    const QString columns = QStringLiteral("cd, a1, a4, a9, a12, a13");

    QString head = QStringLiteral("SELECT %1, %2 AS k FROM cada").arg(columns, SortKey);
    QStringList headWhere = where;
    QVariantList headValues = values;
    if (after) {
        headWhere << QStringLiteral("(%1, cd) > (? COLLATE \"C\", ?)").arg(SortKey);
        headValues << after->key << after->cd;
    }
    if (!headWhere.isEmpty())
        head += QStringLiteral(" WHERE ") + headWhere.join(QStringLiteral(" AND "));
    head += QStringLiteral(" ORDER BY %1, cd LIMIT %2").arg(SortKey).arg(HeadRows);

    QVariantList all;
    // The head's rows are numbered as they are read, so that the last one
    // tells whether the head was full without reading it again; a read
    // that has its page stops there.
    QString sql = QStringLiteral("WITH scanned AS MATERIALIZED (SELECT * FROM (SELECT head.*, %2 AS hit, "
                                 "row_number() OVER (ORDER BY k, cd) AS i FROM (%1) head) head WHERE hit OR i = %3 "
                                 "ORDER BY k, cd LIMIT %4)")
                      .arg(head, check)
                      .arg(HeadRows)
                      .arg(limit + 1);
    all << checkValues << headValues;
    // The walk on from the head's last row (there is none unless the head
    // was full), and the page's first matches from both.
    QStringList walkWhere = where;
    walkWhere << QStringLiteral(
        "(%1, cd) > ((SELECT k FROM scanned WHERE i = %2), (SELECT cd FROM scanned WHERE i = %2))")
                     .arg(SortKey)
                     .arg(HeadRows);
    const QString walkRows
        = QStringLiteral("(SELECT CASE WHEN n >= %1 AND n < %2 AND need <= cap THEN need ELSE 0 END FROM (SELECT n, "
                         "ceil(3.0 * (%2 - n) * %3 / greatest(n, 1))::int AS need, (SELECT greatest(reltuples, 0) / %4 "
                         "FROM pg_class WHERE oid = 'cada'::regclass) AS cap FROM (SELECT count(*) FILTER (WHERE hit) "
                         "AS n FROM scanned) hits) walk)")
              .arg(WalkFromHits)
              .arg(limit)
              .arg(HeadRows)
              .arg(WalkShare);
    sql += QStringLiteral(
        ", walked AS MATERIALIZED (SELECT * FROM (SELECT %1, %2 AS k FROM cada WHERE %3 ORDER BY %2, "
        "cd LIMIT %4) walk WHERE %5 ORDER BY k, cd LIMIT %6), found AS MATERIALIZED (SELECT * FROM "
        "((SELECT %1, k FROM scanned WHERE hit) UNION ALL (SELECT * FROM walked)) head ORDER BY k, cd "
        "LIMIT %6)")
               .arg(columns, SortKey, walkWhere.join(QStringLiteral(" AND ")), walkRows, check)
               .arg(limit);
    all << values << checkValues;
    if (!pattern.infix.isEmpty()) {
        // How many rows of the sample hold the run of letters.
        const NamePattern::Piece anyRun { NamePattern::Piece::Kind::AnyRun, {} };
        sql += QStringLiteral(", holding AS (SELECT count(*) AS n FROM (SELECT a1 FROM cada LIMIT %1) sample "
                              "WHERE coalesce(a1, '') COLLATE \"C\" ILIKE ?)")
                   .arg(SampleRows);
        all << likeFilter({ anyRun, { NamePattern::Piece::Kind::Literal, pattern.infix } });
    }

    // The matches after the last page but not in the head: the head holds
    // every match up to its last row, so these all come after those found.
    // Read only when the head was full: otherwise it read every row there
    // is. No range of the key here: every name that passes the check lies
    // in it already, and the key would be computed for every row the
    // check passes; the rows of a range, looked up one by one through the
    // index, would cost more than a read of the table.
    sql += QStringLiteral(", full_head AS (SELECT count(*) > 0 AS yes FROM scanned WHERE i = %1)").arg(HeadRows);
    QStringList restWhere;
    QVariantList restValues;
    if (after) {
        restWhere << QStringLiteral("(%1, cd) > (? COLLATE \"C\", ?)").arg(unsorted);
        restValues << after->key << after->cd;
    }
    restWhere << check;
    sql += QStringLiteral(" SELECT * FROM ((SELECT * FROM found)");
    auto rest = [&](const QString &gate, const QVariantList &gateValues, const QString &extra,
                    const QVariantList &extraValues) {
        // The conditions that say whether to read at all are asked outside
        // the read, so that the server starts no workers for a read it
        // would not make. The rows found in the head are the first matches
        // of all, so the read keeps twice the page and those are taken out
        // of it afterwards: asked of every row of the table, the list of
        // their codes costs more than the whole check.
        sql += QStringLiteral(" UNION ALL (SELECT * FROM (SELECT %1, %2 AS k FROM cada WHERE %3%4 ORDER BY 7, cd LIMIT "
                              "%5) rest WHERE (SELECT yes FROM full_head) AND %6 AND cd <> ALL (coalesce((SELECT "
                              "array_agg(cd) FROM found), '{}')))")
                   .arg(columns, unsorted, restWhere.join(QStringLiteral(" AND ")), extra)
                   .arg(2 * limit)
                   .arg(gate);
        all << restValues << checkValues << extraValues << gateValues;
    };
    if (pattern.infix.isEmpty()) {
        rest(QStringLiteral("true"), {}, {}, {});
    } else {
        const QString infixLike = QLatin1Char('%') + likeLiteral(pattern.infix) + QLatin1Char('%');
        const QString holding = QStringLiteral("(SELECT n FROM holding)");
        rest(holding + QStringLiteral(" <= ?"), { FewInSample }, QStringLiteral(" AND zuna_dobra_nome(a1) LIKE ?"),
            { infixLike });
        rest(holding + QStringLiteral(" > ?"), { FewInSample }, {}, {});
    }
    sql += QStringLiteral(") page LIMIT %1").arg(limit);
    // Each ? replaced by its value, as a literal the driver writes.
    QString written;
    qsizetype next = 0;
    for (const QChar c : std::as_const(sql)) {
        if (c != u'?' || next >= all.size()) {
            written += c;
            continue;
        }
        const QVariant &v = all.at(next++);
        if (v.typeId() == QMetaType::QString) {
            QSqlField field(QString(), QMetaType(QMetaType::QString));
            field.setValue(v);
            written += db.driver()->formatValue(field);
        } else {
            written += QString::number(v.toLongLong());
        }
    }
    return written;
}

} // namespace

// A call of the log: its time travels as seconds since the epoch, read as
// local time, so no time zone is read wrong.
CallRecord PostgresQueries::callAt(const QSqlQuery &query)
{
    return SqlRows::readCall(query, QDateTime::fromSecsSinceEpoch(query.value(1).toLongLong()));
}

QStringList PostgresQueries::contactLiterals(const QSqlDatabase &db, const ContactRecord &record)
{
    QStringList literals;
    for (const QString &f :
        { record.a1, record.a4, record.a9, record.a10, record.a11, record.a12, record.a13, record.a14, record.ob }) {
        QSqlField field(QString(), QMetaType(QMetaType::QString));
        field.setValue(f.isNull() ? QString(QLatin1String("")) : f);
        literals << db.driver()->formatValue(field);
    }
    return literals;
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
        // The lowest id since then bounds a walk down the ids. Read from the
        // time index (the calls since then, a day's at most a few thousand):
        // asked as min(id) of the table, the planner walks the ids up from the
        // first call ever, a million of them, until one is recent enough. The
        // subquery's OFFSET keeps it from being read that way.
        where << QStringLiteral("quando >= to_timestamp(?) AND id >= (SELECT min(id) FROM (SELECT id FROM chamadas "
                                "WHERE quando >= to_timestamp(?) OFFSET 0) since)");
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
    std::unique_ptr<PostgresStatement> statement;
    QSqlQuery search(db);
    search.setForwardOnly(true);
    bool ran = false;
    if (pattern.matchesEveryone()) {
        // The name index read in order from where the last page ended: one
        // plan for every page, the statement kept prepared.
        QString sql = QStringLiteral("SELECT cd, a1, a4, a9, a12, a13, %1 FROM cada").arg(SortKey);
        if (after)
            sql += QStringLiteral(" WHERE (%1, cd) > (? COLLATE \"C\", ?)").arg(SortKey);
        statement
            = std::make_unique<PostgresStatement>(db, sql + QStringLiteral(" ORDER BY %1, cd LIMIT ?").arg(SortKey));
        if (after) {
            statement->query().addBindValue(after->key);
            statement->query().addBindValue(after->cd);
        }
        statement->query().addBindValue(limit);
        ran = statement->exec();
    } else {
        // The plan of a search depends on what was typed (how many names the
        // range and the pattern keep): planned anew each time, with the
        // values written into the statement, in one round trip.
        ran = search.exec(searchSql(db, pattern, after, limit));
    }
    QSqlQuery &query = statement ? statement->query() : search;
    if (!ran) {
        const auto met = PostgresConnection::problemOf(query, false);
        if (problem)
            *problem = met;
        return PostgresConnection::failure(error,
            PostgresConnection::textFor(met, QStringLiteral("Erro ao ler a lista de contatos.")), server,
            query.lastError().text());
    }
    while (query.next())
        rows->append(SqlRows::readListRow(query));
    // Rows come one by one: a statement ended (its time limit, the server
    // lost) after the first rows leaves the page short, not done.
    if (query.lastError().type() != QSqlError::NoError) {
        rows->clear();
        const auto met = PostgresConnection::problemOf(query, false);
        if (problem)
            *problem = met;
        return PostgresConnection::failure(error,
            PostgresConnection::textFor(met, QStringLiteral("Erro ao ler a lista de contatos.")), server,
            query.lastError().text());
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
