#include "contacts/SqliteNameScan.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Rows read from the start of the table to tell how many names match.
constexpr int SampleRows = 4000;
// Rows of the name index, each looked up in the table, that cost about as
// much as reading the whole table once (measured at a million contacts).
constexpr qint64 WalkRowsPerScan = 10000;

} // namespace

QString SqliteNameScan::prefilterSql(const NamePattern &pattern)
{
    QString like;
    QString digits; // a GLOB over the name as stored: its digits, the rest any character
    bool hasDigit = false;
    for (const NamePattern::Piece &p : pattern.pieces) {
        switch (p.kind) {
        case NamePattern::Piece::Kind::AnyRun:
            like += QLatin1Char('%');
            digits += QLatin1Char('*');
            break;
        case NamePattern::Piece::Kind::AnyCharacter:
            like += QLatin1Char('_');
            digits += QLatin1Char('?');
            break;
        case NamePattern::Piece::Kind::Digit:
            like += QLatin1Char('_');
            digits += QStringLiteral("[0-9]");
            hasDigit = true;
            break;
        case NamePattern::Piece::Kind::Literal:
            for (const QChar c : p.text) {
                if (c.isHighSurrogate())
                    continue; // a pair is one character: its low half stands for it
                digits += QLatin1Char('?');
                if (c.unicode() >= 0x80)
                    like += QLatin1Char('_');
                else if (c == u'%' || c == u'_' || c == u'\\')
                    like += QLatin1Char('\\') + c;
                else
                    like += c;
            }
            break;
        }
    }
    auto quoted = [](QString text) { return text.replace(QLatin1Char('\''), QLatin1String("''")); };
    QString sql = QStringLiteral("coalesce(A1, '') LIKE '%1%' ESCAPE '\\'").arg(quoted(like));
    if (hasDigit)
        sql += QStringLiteral(" AND coalesce(A1, '') GLOB '%1*'").arg(quoted(digits));
    return sql;
}

bool SqliteNameScan::scanIsSooner(const QSqlDatabase &db, const QString &prefilter, int limit)
{
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("SELECT count(*), coalesce(sum(%1), 0) FROM (SELECT A1 FROM CADA LIMIT ?)").arg(prefilter));
    query.addBindValue(SampleRows);
    if (!query.exec() || !query.next())
        return false;
    const qint64 sampled = query.value(0).toLongLong();
    const qint64 matched = query.value(1).toLongLong();
    // The index read in order finds a page after about limit * sampled /
    // matched rows.
    return qint64(limit) * sampled > matched * WalkRowsPerScan;
}
