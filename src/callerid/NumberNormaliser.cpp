#include "callerid/NumberNormaliser.h"

#include "contacts/PhoneNumber.h"

namespace NumberNormaliser {

namespace {

bool startsLandline(QChar c)
{
    return c >= u'2' && c <= u'5';
}

// The exchange may put a one-digit caller category (1 ordinary, 2 prepaid,
// 3 test, 5 operator, 6 data, 7 payphone) in front of the number. Only the
// shape of what follows tells it from a digit of the number.
bool isCategory(QChar c)
{
    return c >= u'1' && c <= u'7';
}

QString withoutCategory(const QString &digits)
{
    switch (digits.size()) {
    case 12: // category, area code, mobile (or category and 0800 ...)
        if (isCategory(digits.at(0)))
            return digits.mid(1);
        break;
    case 11: // area code and mobile, or category, area code and landline
        if (digits.at(2) != u'9' && isCategory(digits.at(0)) && PhoneNumber::isAreaCode(digits.mid(1, 2))
            && startsLandline(digits.at(3)))
            return digits.mid(1);
        break;
    case 9: // a local mobile, or category and a local landline
        if (digits.at(0) != u'9' && isCategory(digits.at(0)) && startsLandline(digits.at(1)))
            return digits.mid(1);
        break;
    default: break;
    }
    return digits;
}

} // namespace

QString normalise(const QString &received, const QString &localAreaCode)
{
    // A number with its country code ("+55...", from SIP or NCID) carries no
    // caller category and is read as written.
    if (received.trimmed().startsWith(u'+')) {
        const PhoneNumber number = PhoneNumber::read(received.trimmed(), localAreaCode);
        if (number.isNumber())
            return number.key();
    }
    QString digits;
    for (const QChar c : received) {
        if (c >= u'0' && c <= u'9')
            digits += c;
    }
    if (!digits.startsWith(u'0'))
        digits = withoutCategory(digits);
    const PhoneNumber number = PhoneNumber::read(digits, localAreaCode);
    return number.isNumber() ? number.key() : digits;
}

} // namespace NumberNormaliser
