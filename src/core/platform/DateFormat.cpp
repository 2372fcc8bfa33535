#include "core/platform/DateFormat.h"

#include <QLocale>

namespace {
DateFormat *g_replacement = nullptr;
}

DateFormat &DateFormat::instance()
{
    static LocaleDateFormat real;
    return g_replacement ? *g_replacement : real;
}

void DateFormat::setInstance(DateFormat *replacement)
{
    g_replacement = replacement;
}

bool LocaleDateFormat::setShortDateFormat(const QString &format)
{
    const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    if (brazil.dateFormat(QLocale::ShortFormat) != format)
        return false;
    QLocale::setDefault(brazil);
    return QLocale().dateFormat(QLocale::ShortFormat) == format;
}
