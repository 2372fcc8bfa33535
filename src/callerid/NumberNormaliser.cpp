#include "callerid/NumberNormaliser.h"

namespace NumberNormaliser {

namespace {

bool isAreaCode(const QString &digits)
{
    // Brazilian area codes are two digits without a zero.
    return digits.size() >= 2 && digits.at(0) != u'0' && digits.at(1) != u'0';
}

bool startsLandline(QChar c)
{
    return c >= u'2' && c <= u'5';
}

bool isCategory(QChar c)
{
    return c >= u'1' && c <= u'7';
}

} // namespace

QString normalise(const QString &received, const QString &localAreaCode)
{
    QString digits;
    for (const QChar c : received) {
        if (c.isDigit())
            digits += c;
    }
    if (digits.startsWith(u'0')) {
        // Long distance: 0, then a carrier code when what follows is longer
        // than an area code and a number.
        digits.remove(0, 1);
        if (digits.size() == 12 || digits.size() == 13)
            digits.remove(0, 2);
    }
    switch (digits.size()) {
    case 12: // category, area code, mobile
        if (isCategory(digits.at(0)))
            digits.remove(0, 1);
        break;
    case 11: // area code and mobile, or category, area code and landline
        if (digits.at(2) != u'9' && isCategory(digits.at(0)) && isAreaCode(digits.mid(1)) && startsLandline(digits.at(3)))
            digits.remove(0, 1);
        break;
    case 9: // a local mobile, or category and a local landline
        if (digits.at(0) != u'9' && isCategory(digits.at(0)) && startsLandline(digits.at(1)))
            digits.remove(0, 1);
        break;
    default:
        break;
    }
    const QString area = localAreaCode.trimmed();
    if ((digits.size() == 7 || digits.size() == 8) && area.size() == 2 && isAreaCode(area))
        digits.prepend(area);
    return digits;
}

} // namespace NumberNormaliser
