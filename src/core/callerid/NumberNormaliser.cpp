#include "core/callerid/NumberNormaliser.h"

#include "core/contacts/PhoneNumber.h"

namespace NumberNormaliser {

namespace {

bool isCategory(QChar c)
{
    return c == u'1' || c == u'2' || c == u'3' || c == u'5' || c == u'6' || c == u'7';
}

} // namespace

QList<Reading> readings(const QString &received, const QString &localAreaCode)
{
    // A number with its country code ("+55...", from SIP or NCID) carries no
    // caller category and is read as written.
    const QString trimmed = received.trimmed();
    if (trimmed.startsWith(u'+')) {
        const PhoneNumber number = PhoneNumber::read(trimmed, localAreaCode);
        if (number.isNumber())
            return { { number.key(), false, number.existsToday() } };
    }
    QString digits;
    for (const QChar c : received) {
        if (c >= u'0' && c <= u'9')
            digits += c;
    }
    if (digits.isEmpty())
        return {};
    // 55 and a national number: the country code written without its "+".
    // A category in front of twelve digits would leave an area code and a
    // mobile, which the country code's reading never is; it is the country
    // code wherever it reads as one.
    if ((digits.size() == 12 || digits.size() == 13) && digits.startsWith(QLatin1String("55"))) {
        const PhoneNumber number = PhoneNumber::read(QLatin1Char('+') + digits, localAreaCode);
        if (number.kind() == PhoneNumber::Kind::National && number.existsToday())
            return { { number.key(), false, true } };
    }
    QList<Reading> found;
    const auto consider = [&](const QString &candidate, bool category) {
        const PhoneNumber number = PhoneNumber::read(candidate, localAreaCode);
        if (number.existsToday() && (found.isEmpty() || found.first().key != number.key()))
            found.append({ number.key(), category, true });
    };
    consider(digits, false);
    if (isCategory(digits.at(0)))
        consider(digits.mid(1), true);
    if (found.isEmpty()) {
        const PhoneNumber number = PhoneNumber::read(digits, localAreaCode);
        found.append({ number.isNumber() ? number.key() : digits, false, false });
    }
    return found;
}

QString normalise(const QString &received, const QString &localAreaCode)
{
    const QList<Reading> all = readings(received, localAreaCode);
    return all.size() == 1 ? all.first().key : QString();
}

bool isReadable(const QString &received)
{
    const QString text = received.trimmed();
    bool digit = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c >= u'0' && c <= u'9')
            digit = true;
        else if (c != u' ' && c != u'-' && c != u'.' && c != u'(' && c != u')' && !(c == u'+' && i == 0))
            return false;
    }
    return digit;
}

} // namespace NumberNormaliser
