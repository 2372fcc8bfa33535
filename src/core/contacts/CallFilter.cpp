#include "core/contacts/CallFilter.h"

#include "core/contacts/NameKey.h"

QString CallFilter::searchText(const QString &contactName, const QString &callerName, const QString &key)
{
    return NameKey::sortKey(contactName) + QLatin1Char('\n') + NameKey::sortKey(callerName) + QLatin1Char('\n') + key;
}

QString CallFilter::needle(const QString &typed)
{
    const QString text = typed.trimmed();
    bool letters = false;
    QString digits;
    for (const QChar c : text) {
        if (c.isLetter())
            letters = true;
        else if (c.isDigit())
            digits += c;
    }
    if (!letters && digits.isEmpty())
        return {}; // blanks, brackets or dashes alone: no filter yet
    return letters ? NameKey::sortKey(text) : digits;
}
