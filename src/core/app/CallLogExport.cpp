#include "core/app/CallLogExport.h"

#include "core/callerid/NumberNormaliser.h"
#include "core/callerid/OutsideText.h"
#include "core/contacts/Register.h"

#include <QTextStream>

namespace CallLogExport {

namespace {

// What a spreadsheet takes for the start of a formula.
bool startsFormula(const QString &text)
{
    if (text.isEmpty())
        return false;
    const QChar c = text.at(0);
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

} // namespace

QString csvCell(const QString &text)
{
    QString cell = OutsideText::escaped(text, true);
    // A number as written ("+55 11 3333-4444") has nothing a formula could
    // call and stays as it is; anything else that would start a formula is
    // made text with a leading single quote.
    if (startsFormula(cell) && !NumberNormaliser::isReadable(cell))
        cell.prepend(u'\'');
    return csvField(cell);
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool write(Register &reg, const QDate &since, bool csv, QTextStream &out, QString *error)
{
    out.setEncoding(QStringConverter::Utf8);
    if (csv)
        out << CsvHeader << "\r\n";
    const QDateTime from = since.isValid() ? QDateTime(since, QTime(0, 0)) : QDateTime();
    return reg.forEachCall(
        from,
        [&](const CallRecord &c) {
            const QString date = c.when.toString(csv ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("dd/MM/yyyy"));
            const QString time = c.when.toString(QStringLiteral("HH:mm:ss"));
            if (csv) {
                const QStringList fields
                    = { date, time, c.laidOut, c.received, c.key, CallRecord::kindName(c.kind), c.callerName, c.source,
                          c.line, c.contactCode > 0 ? QString::number(c.contactCode) : QString(), c.contactName };
                QStringList quoted;
                for (const QString &f : fields)
                    quoted << csvCell(f);
                out << quoted.join(QLatin1Char(',')) << "\r\n";
            } else {
                const QString who = c.contactCode > 0 ? c.contactName
                    : c.callerName.isEmpty()          ? QStringLiteral("(não cadastrado)")
                                                      : c.callerName + QStringLiteral(" (não cadastrado)");
                // Nothing from the line reaches the terminal as a control.
                out << date << ' ' << time << "  " << OutsideText::escaped(c.laidOut).leftJustified(16) << ' '
                    << OutsideText::escaped(who) << '\n';
            }
            return out.status() == QTextStream::Ok;
        },
        error);
}

} // namespace CallLogExport
