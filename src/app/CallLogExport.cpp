#include "app/CallLogExport.h"

#include "contacts/Register.h"

#include <QTextStream>

namespace CallLogExport {

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
                    quoted << csvField(f);
                out << quoted.join(QLatin1Char(',')) << "\r\n";
            } else {
                const QString who = c.contactCode > 0 ? c.contactName
                    : c.callerName.isEmpty()          ? QStringLiteral("(não cadastrado)")
                                                      : c.callerName + QStringLiteral(" (não cadastrado)");
                out << date << ' ' << time << "  " << c.laidOut.leftJustified(16) << ' ' << who << '\n';
            }
            return out.status() == QTextStream::Ok;
        },
        error);
}

} // namespace CallLogExport
