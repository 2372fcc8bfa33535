#include "core/contacts/SqliteNameScan.h"

#include "core/contacts/NameKey.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

namespace {

// A name's bytes with the accented letters of NameKey::letters() replaced as
// the SQL expressions do it (by the base letter for the sort key, by the
// lower-case letter for the case folding), then A-Z lowered: on the UTF-8
// bytes themselves, so that bytes that are no character come out as those
// expressions leave them.
using Pairs = QHash<quint16, QByteArray>;

quint16 pairOf(char16_t c)
{
    const QByteArray utf8 = QString(QChar(c)).toUtf8(); // two bytes: all lie below U+0800
    return quint16(quint8(utf8.at(0)) << 8 | quint8(utf8.at(1)));
}

const Pairs &sortKeyPairs()
{
    static const Pairs pairs = [] {
        Pairs p;
        for (const NameKey::Letter &l : NameKey::letters()) {
            p.insert(pairOf(l.upper), QByteArray(1, l.base));
            p.insert(pairOf(l.lower), QByteArray(1, l.base));
        }
        return p;
    }();
    return pairs;
}

const Pairs &caseFoldPairs()
{
    static const Pairs pairs = [] {
        Pairs p;
        for (const NameKey::Letter &l : NameKey::letters())
            p.insert(pairOf(l.upper), QString(QChar(l.lower)).toUtf8());
        return p;
    }();
    return pairs;
}

void replaced(sqlite3_context *context, int, sqlite3_value **argv)
{
    const Pairs &pairs = *static_cast<const Pairs *>(sqlite3_user_data(context));
    const auto *text = sqlite3_value_text(argv[0]);
    const int size = sqlite3_value_bytes(argv[0]);
    QByteArray out;
    out.reserve(size);
    for (int i = 0; i < size; ++i) {
        const unsigned char b = text[i];
        if (b >= 0x80 && i + 1 < size) {
            const auto found = pairs.constFind(quint16(b << 8 | text[i + 1]));
            if (found != pairs.constEnd()) {
                out += *found;
                ++i;
                continue;
            }
        }
        out += (b >= 'A' && b <= 'Z') ? char(b + 32) : char(b);
    }
    sqlite3_result_text(context, out.constData(), int(out.size()), SQLITE_TRANSIENT);
}

} // namespace

QString SqliteNameScan::quoted(QString text)
{
    return text.replace(QLatin1Char('\''), QLatin1String("''"));
}

bool SqliteNameScan::makeFunctionsKnown(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *native = *static_cast<sqlite3 *const *>(handle.constData());
    if (!native)
        return false;
    // Made known once per connection: making a function known again would
    // fail while a statement runs, and make SQLite prepare every statement
    // of the connection again.
    sqlite3_stmt *probe = nullptr;
    const QByteArray known = QByteArray("SELECT ") + SortKeyFunction + "(''), " + CaseFoldFunction + "('')";
    const bool already = sqlite3_prepare_v2(native, known.constData(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    if (already)
        return true;
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    return sqlite3_create_function_v2(native, SortKeyFunction, 1, flags, const_cast<Pairs *>(&sortKeyPairs()), replaced,
               nullptr, nullptr, nullptr)
        == SQLITE_OK
        && sqlite3_create_function_v2(native, CaseFoldFunction, 1, flags, const_cast<Pairs *>(&caseFoldPairs()),
               replaced, nullptr, nullptr, nullptr)
        == SQLITE_OK;
}

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
    QString sql = QStringLiteral("coalesce(A1, '') LIKE '%1%' ESCAPE '\\'").arg(quoted(like));
    if (hasDigit)
        sql += QStringLiteral(" AND coalesce(A1, '') GLOB '%1*'").arg(quoted(digits));
    return sql;
}

int SqliteNameScan::walkRows(const QSqlDatabase &db, const QString &prefilter)
{
    // Rows read from the start of the table to tell how many names match.
    constexpr int SampleRows = 4000;
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("SELECT count(*), coalesce(sum(%1), 0) FROM (SELECT A1 FROM CADA LIMIT ?)").arg(prefilter));
    query.addBindValue(SampleRows);
    if (!query.exec() || !query.next())
        return FewMatchWalkRows;
    const qint64 sampled = query.value(0).toLongLong();
    const qint64 matched = query.value(1).toLongLong();
    return matched * 100 > sampled ? ManyMatchWalkRows : FewMatchWalkRows;
}
