#include "contacts/NamePattern.h"

#include "contacts/NameKey.h"

NamePattern NamePattern::fromTyped(const QString &typed)
{
    NamePattern pattern;
    if (typed.isEmpty())
        return pattern;

    QString literalPrefix;
    bool inPrefix = true;
    QString glob;
    QString run; // the literal characters since the last wildcard
    for (const QChar c : NameKey::caseFold(typed)) {
        if (c == u'*' || c == u'?' || c == u'#') {
            inPrefix = false;
            glob += c == u'#' ? QStringLiteral("[0-9]") : QString(c);
            if (run.size() > pattern.infix.size())
                pattern.infix = run;
            run.clear();
            continue;
        }
        run += c;
        if (inPrefix)
            literalPrefix += c;
        // GLOB's own special characters stand for themselves inside brackets.
        if (c == u'[' || c == u']')
            glob += QLatin1Char('[') + c + QLatin1Char(']');
        else
            glob += c;
    }
    if (run.size() > pattern.infix.size())
        pattern.infix = run;
    if (pattern.infix.size() < 3 || !literalPrefix.isEmpty())
        pattern.infix.clear();
    pattern.glob = glob + QLatin1Char('*');
    if (!literalPrefix.isEmpty()) {
        pattern.lowKey = NameKey::sortKey(literalPrefix);
        // Every key that begins with lowKey sorts below lowKey + the highest
        // code point, as SQLite compares text byte by byte in UTF-8.
        pattern.highKey = pattern.lowKey + QString::fromUcs4(U"\U0010FFFF");
    }
    return pattern;
}
