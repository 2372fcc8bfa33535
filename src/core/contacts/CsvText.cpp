#include "core/contacts/CsvText.h"

namespace {

bool startsFormula(QStringView text)
{
    return !text.isEmpty() && QStringView(u"=+-@\t\r").contains(text.front());
}

} // namespace

namespace CsvText {

QString neutralised(const QString &text)
{
    if (startsFormula(text) || text.startsWith(QLatin1Char('\'')))
        return QLatin1Char('\'') + text;
    return text;
}

QString restored(const QString &text)
{
    if (text.size() >= 2 && text.front() == u'\'' && (startsFormula(QStringView(text).mid(1)) || text.at(1) == u'\''))
        return text.mid(1);
    return text;
}

QString field(const QString &text, QChar separator)
{
    const QString safe = neutralised(text);
    if (!safe.contains(separator) && !safe.contains(QLatin1Char('"')) && !safe.contains(QLatin1Char('\n'))
        && !safe.contains(QLatin1Char('\r')))
        return safe;
    QString quoted = safe;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace CsvText
