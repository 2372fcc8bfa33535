#include "core/contacts/PhoneNumber.h"

#include <algorithm>

#include <phonenumbers/logger.h>
#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>

using i18n::phonenumbers::PhoneNumberUtil;

namespace {

// The longest Brazilian dialling: 0, a carrier, an area code and a mobile.
constexpr int MaxDigits = 14;
// Shorter than a subscriber number of the oldest registers is no telephone.
constexpr int MinDigits = 7;

const PhoneNumberUtil &util()
{
    static PhoneNumberUtil *const instance = [] {
        PhoneNumberUtil *u = PhoneNumberUtil::GetInstance();
        u->SetLogger(new i18n::phonenumbers::NullLogger()); // it would print to stderr
        return u;
    }();
    return *instance;
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Digits and what people put between them; "0xx11" is how long-distance
// numbers used to be printed. Anything else (a letter, a quote) is no number.
bool readDigits(const QString &text, QString *digits, bool *international)
{
    const QString t = text.trimmed();
    *international = t.startsWith(u'+');
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (isAsciiDigit(c)) {
            digits->append(c);
        } else if (c == u'x' || c == u'X') {
            if (i + 1 >= t.size() || (t.at(i + 1) != u'x' && t.at(i + 1) != u'X') || !digits->startsWith(u'0'))
                return false;
            ++i;
        } else if (!QStringView(u" \t\u00A0()-\u2013./").contains(c) && !(c == u'+' && i == 0)) {
            return false;
        }
    }
    return digits->size() >= MinDigits && digits->size() <= MaxDigits;
}

// Subscriber numbers of 8 digits starting with 6 to 9 are mobiles written
// before the ninth digit was added; the same line is dialled with a 9 today.
QString withNinthDigit(const QString &subscriber)
{
    if (subscriber.size() == 8 && subscriber.at(0) >= u'6')
        return QLatin1Char('9') + subscriber;
    return subscriber;
}

bool isNonGeographicSubscriber(const QString &digits)
{
    // 300X and 400X: dialled without an area code, anywhere in the country.
    return digits.size() == 8 && (digits.startsWith(QLatin1String("300")) || digits.startsWith(QLatin1String("400")));
}

QString dashed(const QString &subscriber)
{
    return subscriber.left(subscriber.size() - 4) + QLatin1Char('-') + subscriber.right(4);
}

bool globs(const QString &digits, QLatin1StringView head)
{
    // SQL's GLOB 'head*' where head holds digits, '[3589]'-style sets and
    // '[1-9]'-style ranges.
    qsizetype at = 0;
    for (qsizetype i = 0; i < head.size(); ++i, ++at) {
        if (at >= digits.size())
            return false;
        const QChar c = digits.at(at);
        if (head.at(i) != u'[') {
            if (c != head.at(i))
                return false;
            continue;
        }
        bool inSet = false;
        for (++i; head.at(i) != u']'; ++i) {
            if (i + 2 < head.size() && head.at(i + 1) == u'-' && head.at(i + 2) != u']') {
                inSet = inSet || (c >= head.at(i) && c <= head.at(i + 2));
                i += 2;
            } else {
                inSet = inSet || c == head.at(i);
            }
        }
        if (!inSet)
            return false;
    }
    return true;
}

} // namespace

QString PhoneNumber::storedKey(const QString &text)
{
    // 1. The digits, without what people put between them.
    QString d = text.toLower();
    d.removeIf([](QChar c) { return QStringView(u" ()-./+\t\u00A0\u2013").contains(c); });
    d.replace(QLatin1String("0xx"), QLatin1String("0"));
    if (d.isEmpty() || !std::all_of(d.cbegin(), d.cend(), isAsciiDigit))
        return {};
    // 2. The national number: without +55, a carrier's code, the long-distance 0.
    const qsizetype size = d.size();
    QString n = d;
    if (globs(d, QLatin1StringView("0[3589]00")))
        n = d;
    else if ((size == 12 || size == 13) && globs(d, QLatin1StringView("55[1-9][1-9]")))
        n = d.mid(2);
    else if ((size == 13 || size == 14) && globs(d, QLatin1StringView("0[1-9][0-9][1-9][1-9]")))
        n = d.mid(3);
    else if (size >= 10 && size <= 12 && globs(d, QLatin1StringView("0[1-9][1-9]")))
        n = d.mid(1);
    // 3. The key.
    const qsizetype length = n.size();
    if ((length == 10 || length == 11) && globs(n, QLatin1StringView("0[3589]00")))
        return n;
    if ((length == 9 || length == 10) && globs(n, QLatin1StringView("[3589]00")))
        return QLatin1Char('0') + n;
    if (n.startsWith(u'0'))
        return {};
    if (length == 10 && globs(n, QLatin1StringView("[1-9][1-9][34]00")))
        return n.mid(2);
    if (length == 10 && globs(n, QLatin1StringView("[1-9][1-9][6-9]")))
        return n.left(2) + QLatin1Char('9') + n.mid(2);
    if (length == 8 && globs(n, QLatin1StringView("[6-9]")))
        return QLatin1Char('9') + n;
    if (length >= 7 && length <= 11)
        return n;
    return {};
}

bool PhoneNumber::isAreaCode(const QString &text)
{
    return text.size() == 2 && text.at(0) >= u'1' && text.at(0) <= u'9' && text.at(1) >= u'1' && text.at(1) <= u'9';
}

PhoneNumber PhoneNumber::read(const QString &text, const QString &localAreaCode)
{
    PhoneNumber n;
    n.m_text = text;
    if (isAreaCode(localAreaCode.trimmed()))
        n.m_localAreaCode = localAreaCode.trimmed();

    QString digits;
    bool international = false;
    if (!readDigits(text, &digits, &international))
        return n;

    const PhoneNumberUtil &u = util();
    i18n::phonenumbers::PhoneNumber parsed;
    const std::string input = ((international ? QStringLiteral("+") : QString()) + digits).toStdString();
    if (u.Parse(input, "BR", &parsed) != PhoneNumberUtil::NO_PARSING_ERROR)
        return n;
    std::string formatted;
    if (parsed.country_code() != 55) {
        u.Format(parsed, PhoneNumberUtil::INTERNATIONAL, &formatted);
        n.m_kind = Kind::Foreign;
        n.m_digits = digits;
        n.m_formatted = QString::fromStdString(formatted);
        return n;
    }
    std::string nsnText;
    u.GetNationalSignificantNumber(parsed, &nsnText);
    const QString nsn = QString::fromStdString(nsnText);
    u.Format(parsed, PhoneNumberUtil::NATIONAL, &formatted);
    n.m_formatted = QString::fromStdString(formatted);

    const PhoneNumberUtil::PhoneNumberType type = u.GetNumberType(parsed);
    const bool specialRate = type == PhoneNumberUtil::TOLL_FREE || type == PhoneNumberUtil::PREMIUM_RATE
        || type == PhoneNumberUtil::SHARED_COST || type == PhoneNumberUtil::UAN;
    const bool zeroX00 = (nsn.size() == 9 || nsn.size() == 10) && nsn.mid(1, 2) == QLatin1String("00")
        && QStringView(u"3589").contains(nsn.at(0));
    if (zeroX00 && (specialRate || digits.startsWith(u'0'))) {
        // 0800, 0300, 0500, 0900: the leading 0 is part of the number as dialled.
        n.m_kind = Kind::NonGeographic;
        n.m_digits = QLatin1Char('0') + nsn;
        return n;
    }
    if (isNonGeographicSubscriber(nsn)) {
        n.m_kind = Kind::NonGeographic;
        n.m_digits = nsn;
        return n;
    }
    if ((nsn.size() == 10 || nsn.size() == 11) && isAreaCode(nsn.left(2))) {
        const QString subscriber = nsn.mid(2);
        if (isNonGeographicSubscriber(subscriber)) {
            n.m_kind = Kind::NonGeographic;
            n.m_digits = subscriber;
            n.m_formatted = dashed(subscriber);
            return n;
        }
        if (subscriber.size() == 9 && subscriber.at(0) != u'9')
            return n; // eleven digits that are not a mobile
        n.m_kind = Kind::National;
        n.m_areaCode = nsn.left(2);
        n.m_subscriber = subscriber;
        return n;
    }
    if (nsn.size() == 9 && nsn.at(0) != u'9' && isAreaCode(nsn.left(2))) {
        // An area code and one of the 7-digit numbers older registers keep.
        n.m_kind = Kind::National;
        n.m_areaCode = nsn.left(2);
        n.m_subscriber = nsn.mid(2);
        return n;
    }
    const bool localMobile = nsn.size() == 9 && nsn.at(0) == u'9';
    if (localMobile || ((nsn.size() == 7 || nsn.size() == 8) && nsn.at(0) != u'0')) {
        n.m_kind = Kind::Local;
        n.m_subscriber = nsn;
    }
    return n;
}

bool PhoneNumber::existsToday() const
{
    const auto valid = [](const QString &international) {
        i18n::phonenumbers::PhoneNumber parsed;
        return util().Parse(international.toStdString(), "BR", &parsed) == PhoneNumberUtil::NO_PARSING_ERROR
            && util().IsValidNumber(parsed);
    };
    switch (m_kind) {
    case Kind::National:
    case Kind::Local: {
        const bool mobile = m_subscriber.size() == 9 && m_subscriber.at(0) == u'9';
        const bool landline = m_subscriber.size() == 8 && m_subscriber.at(0) >= u'2' && m_subscriber.at(0) <= u'5';
        if (!mobile && !landline)
            return false;
        const QString area = m_kind == Kind::National ? m_areaCode : m_localAreaCode;
        return area.isEmpty() || valid(QStringLiteral("+55") + area + m_subscriber);
    }
    case Kind::NonGeographic: return true;
    case Kind::Foreign: return valid(QLatin1Char('+') + m_digits);
    case Kind::NotANumber: break;
    }
    return false;
}

QString PhoneNumber::key() const
{
    const QString stored = storedKey(m_text);
    if (m_kind == Kind::Local && !stored.isEmpty())
        return m_localAreaCode + stored;
    return stored;
}

QStringList PhoneNumber::lookupKeys() const
{
    if (m_kind == Kind::NotANumber || key().isEmpty())
        return {};
    QStringList keys { key() };
    const bool ownArea = m_kind == Kind::Local || (m_kind == Kind::National && m_areaCode == m_localAreaCode);
    if (ownArea && !m_localAreaCode.isEmpty())
        keys << withNinthDigit(m_subscriber);
    return keys;
}

QString PhoneNumber::layout(bool completeLocal) const
{
    switch (m_kind) {
    case Kind::National: return QLatin1Char('(') + m_areaCode + QLatin1Char(')') + dashed(m_subscriber);
    case Kind::Local:
        if (completeLocal && !m_localAreaCode.isEmpty())
            return QLatin1Char('(') + m_localAreaCode + QLatin1Char(')') + dashed(m_subscriber);
        return dashed(m_subscriber);
    case Kind::NonGeographic:
    case Kind::Foreign: return m_formatted;
    case Kind::NotANumber: break;
    }
    return m_text;
}
