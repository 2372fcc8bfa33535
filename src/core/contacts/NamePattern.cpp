#include "core/contacts/NamePattern.h"

#include "core/contacts/NameKey.h"

NamePattern NamePattern::fromTyped(const QString &typed)
{
    NamePattern pattern;
    if (typed.isEmpty())
        return pattern;
    if (typed.contains(QChar(0))) {
        pattern.nobody = true;
        return pattern;
    }

    QString literalPrefix;
    bool inPrefix = true;
    QString run; // the literal characters since the last wildcard
    for (const QChar c : NameKey::caseFold(typed)) {
        if (c == u'*' || c == u'?' || c == u'#') {
            inPrefix = false;
            if (!run.isEmpty())
                pattern.pieces.append({ Piece::Kind::Literal, run });
            if (run.size() > pattern.infix.size())
                pattern.infix = run;
            run.clear();
            pattern.pieces.append({ c == u'*' ? Piece::Kind::AnyRun
                    : c == u'?'               ? Piece::Kind::AnyCharacter
                                              : Piece::Kind::Digit,
                {} });
            continue;
        }
        run += c;
        if (inPrefix)
            literalPrefix += c;
    }
    if (!run.isEmpty())
        pattern.pieces.append({ Piece::Kind::Literal, run });
    if (run.size() > pattern.infix.size())
        pattern.infix = run;
    if (pattern.infix.size() < 3 || !literalPrefix.isEmpty())
        pattern.infix.clear();
    if (!literalPrefix.isEmpty()) {
        pattern.lowKey = NameKey::sortKey(literalPrefix);
        // Every key that begins with lowKey sorts below lowKey + the highest
        // code point, in a byte-by-byte comparison of UTF-8.
        pattern.highKey = pattern.lowKey + QString::fromUcs4(U"\U0010FFFF");
    }
    return pattern;
}
