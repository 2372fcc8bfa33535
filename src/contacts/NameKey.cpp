#include "contacts/NameKey.h"

#include <array>

namespace {

struct Letter
{
    char16_t upper;
    char16_t lower;
    char base;
};

// The accented letters of Portuguese. The list is kept to these because
// SQLite's parser limits how deeply function calls nest: one replace() per
// letter and case, plus coalesce() and lower(), is just inside that limit.
constexpr std::array<Letter, 13> Letters { {
    { u'Á', u'á', 'a' },
    { u'À', u'à', 'a' },
    { u'Â', u'â', 'a' },
    { u'Ã', u'ã', 'a' },
    { u'É', u'é', 'e' },
    { u'Ê', u'ê', 'e' },
    { u'Í', u'í', 'i' },
    { u'Ó', u'ó', 'o' },
    { u'Ô', u'ô', 'o' },
    { u'Õ', u'õ', 'o' },
    { u'Ú', u'ú', 'u' },
    { u'Ü', u'ü', 'u' },
    { u'Ç', u'ç', 'c' },
} };

// SQLite's lower() folds only A-Z; the C++ side must do exactly the same.
QChar asciiLower(QChar c)
{
    return (c >= u'A' && c <= u'Z') ? QChar(c.unicode() + 32) : c;
}

QString replaceSql(const QString &inner, char16_t from, QChar to)
{
    return QStringLiteral("replace(%1,'%2','%3')").arg(inner, QChar(from), to);
}

} // namespace

namespace NameKey {

QString sortKey(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        for (const Letter &l : Letters) {
            if (c == l.upper || c == l.lower) {
                c = QLatin1Char(l.base);
                break;
            }
        }
        c = asciiLower(c);
    }
    return out;
}

QString sortKeySql(const QString &column)
{
    QString expr = QStringLiteral("coalesce(%1,'')").arg(column);
    for (const Letter &l : Letters) {
        expr = replaceSql(expr, l.upper, QLatin1Char(l.base));
        expr = replaceSql(expr, l.lower, QLatin1Char(l.base));
    }
    return QStringLiteral("lower(%1)").arg(expr);
}

QString caseFold(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        for (const Letter &l : Letters) {
            if (c == l.upper) {
                c = l.lower;
                break;
            }
        }
        c = asciiLower(c);
    }
    return out;
}

QString caseFoldSql(const QString &column)
{
    QString expr = QStringLiteral("coalesce(%1,'')").arg(column);
    for (const Letter &l : Letters)
        expr = replaceSql(expr, l.upper, l.lower);
    return QStringLiteral("lower(%1)").arg(expr);
}

} // namespace NameKey
