#include "core/callerid/OutsideText.h"

#include <QList>

namespace OutsideText {

namespace {

enum class Kind { Keep, Mark, Blank, Drop };

// Characters of other classes that draw nothing: shown, they pad a name
// with empty room or hide what follows.
bool looksBlank(char32_t c)
{
    return c == 0x2800 // braille pattern blank
        || c == 0x3164 || c == 0xFFA0 // Hangul filler, halfwidth Hangul filler
        || c == 0x115F || c == 0x1160; // Hangul choseong and jungseong fillers
}

bool drawsNothing(char32_t c)
{
    return c == 0x034F // combining grapheme joiner
        || c == 0x17B4 || c == 0x17B5 // Khmer inherent vowels
        || (c >= 0x180B && c <= 0x180F) // Mongolian variation selectors
        || (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF); // variation selectors
}

Kind kindOf(char32_t c)
{
    if (looksBlank(c))
        return Kind::Blank;
    if (drawsNothing(c))
        return Kind::Drop;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph: return Kind::Blank;
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned: return Kind::Drop;
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing: return Kind::Mark;
    default: return Kind::Keep;
    }
}

// The next code point of `text` at `i`, a lone surrogate as itself.
char32_t next(const QString &text, qsizetype &i)
{
    const char16_t u = text.at(i++).unicode();
    if (QChar::isHighSurrogate(u) && i < text.size() && QChar::isLowSurrogate(text.at(i).unicode()))
        return QChar::surrogateToUcs4(u, text.at(i++).unicode());
    return u;
}

void append(QString &out, char32_t c)
{
    if (QChar::requiresSurrogates(c)) {
        out += QChar(QChar::highSurrogate(c));
        out += QChar(QChar::lowSurrogate(c));
    } else {
        out += QChar(char16_t(c));
    }
}

// One line, cleaned and capped at `max` characters (a character: a code
// point with its combining marks).
QString cleanLine(const QString &text, qsizetype max)
{
    QString out;
    QList<qsizetype> starts; // where each character of `out` begins
    bool blank = false; // a blank is owed before the next character
    int marks = -1; // marks on the last character; -1: none to carry them
    for (qsizetype i = 0; i < text.size();) {
        const char32_t c = next(text, i);
        switch (kindOf(c)) {
        case Kind::Drop: break;
        case Kind::Blank:
            blank = !out.isEmpty();
            marks = -1;
            break;
        case Kind::Mark:
            if (marks >= 0 && marks < MaxMarks) {
                append(out, c);
                ++marks;
            }
            break;
        case Kind::Keep:
            if (blank) {
                starts << out.size();
                out += u' ';
                blank = false;
            }
            starts << out.size();
            if (starts.size() > max) {
                // Too long: the first max - 1 characters, and a word that it was cut.
                out.truncate(starts.at(max - 1));
                return (out.trimmed() + QChar(0x2026)).normalized(QString::NormalizationForm_C);
            }
            append(out, c);
            marks = 0;
            break;
        }
    }
    return out.normalized(QString::NormalizationForm_C);
}

} // namespace

QString name(const QString &text)
{
    return cleanLine(text, MaxNameLength);
}

QString message(const QString &text)
{
    QStringList lines;
    for (const QString &line : text.split(u'\n')) {
        const QString clean = cleanLine(line, MaxLineLength);
        if (!clean.isEmpty())
            lines << clean;
        if (lines.size() == MaxLines)
            break;
    }
    return lines.join(u'\n');
}

QString quoted(const QString &name)
{
    QString inner = name;
    for (const char16_t q : { u'"', u'\u201C', u'\u201D', u'\u201E', u'\u201F', u'\uFF02', u'\u00AB', u'\u00BB' })
        inner.replace(QChar(q), u'\'');
    return QChar(0x201C) + inner + QChar(0x201D);
}

QString escaped(const QString &text, bool keepLineBreaks)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const char32_t c = next(text, i);
        const QChar::Category category = QChar::category(c);
        if (keepLineBreaks && (c == u'\t' || c == u'\r' || c == u'\n'))
            append(out, c);
        else if (category == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if (category == QChar::Other_Format || category == QChar::Other_Surrogate
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            out += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            append(out, c);
    }
    return out;
}

QString toolTip(const QString &text)
{
    if (!text.contains(u'<') && !text.contains(u'&'))
        return text;
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace OutsideText
