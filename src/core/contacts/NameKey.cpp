#include "core/contacts/NameKey.h"

namespace {

using NameKey::Letter;

// The accented letters of Portuguese. The list is kept to these because
// SQLite's parser limits how deeply function calls nest: one replace() per
// letter and case, plus coalesce() and lower(), is just inside that limit.
const QList<Letter> Letters = {
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
};

// Only A-Z change case, as in SQLite's lower(): both sides must agree.
QChar asciiLower(QChar c)
{
    return (c >= u'A' && c <= u'Z') ? QChar(c.unicode() + 32) : c;
}

} // namespace

namespace NameKey {

const QList<Letter> &letters()
{
    return Letters;
}

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

} // namespace NameKey
