#include "core/callerid/sources/SipCaller.h"

#include "core/callerid/sources/SipStack.h"

#include <QStringList>

#include <algorithm>

namespace {

QByteArray bytes(const struct pl &part)
{
    return part.p ? QByteArray(part.p, qsizetype(part.l)) : QByteArray();
}

// A display name as libre hands it over: the quotes gone, a backslash still
// before each character it escapes.
QString unescaped(const QByteArray &name)
{
    QByteArray plain;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i) == '\\' && i + 1 < name.size())
            ++i;
        plain.append(name.at(i));
    }
    return QString::fromUtf8(plain).simplified();
}

bool isNumber(const QString &user)
{
    if (user.isEmpty())
        return false;
    bool digits = false;
    for (qsizetype i = 0; i < user.size(); ++i) {
        const QChar c = user.at(i);
        if (c.isDigit())
            digits = true;
        else if (!(c == u'+' && i == 0) && c != u'-' && c != u'.' && c != u' ' && c != u'(' && c != u')')
            return false;
    }
    return digits;
}

bool isWithheld(const QString &user)
{
    const QString lower = user.toLower();
    return lower == QLatin1String("anonymous") || lower == QLatin1String("restricted")
        || lower == QLatin1String("private") || lower == QLatin1String("privado");
}

// A display name that only says the number is not known is no name.
QString realName(const QString &name)
{
    const QString lower = name.toLower();
    if (lower.isEmpty() || isWithheld(lower) || lower == QLatin1String("unknown")
        || lower == QLatin1String("unavailable"))
        return {};
    return name;
}

// Whether the header's parameters (";name=value;...") give `name` this value,
// quoted or not, in any letter case.
bool hasParameter(const QString &parameters, const char *name, const char *value)
{
    const QByteArray text = parameters.toUtf8();
    const struct pl list = { text.constData(), size_t(text.size()) };
    struct pl found;
    if (msg_param_decode(&list, name, &found) != 0)
        return false;
    return bytes(found).replace('"', QByteArray()).compare(value, Qt::CaseInsensitive) == 0;
}

} // namespace

bool SipCaller::readAddress(const QByteArray &text, Address *address)
{
    *address = {};
    const QByteArray value = text.trimmed();
    const struct pl whole = { value.constData(), size_t(value.size()) };
    struct sip_addr decoded;
    if (value.isEmpty() || sip_addr_decode(&decoded, &whole) != 0)
        return false;
    address->displayName = unescaped(bytes(decoded.dname));
    // A header that lists several addresses: what follows the first one's
    // parameters belongs to the next.
    QByteArray parameters = bytes(decoded.params);
    if (const qsizetype comma = parameters.indexOf(','); comma >= 0)
        parameters.truncate(comma);
    address->parameters = QString::fromUtf8(parameters).trimmed();
    address->scheme = QString::fromLatin1(bytes(decoded.uri.scheme)).toLower();
    if (address->scheme == QLatin1String("tel")) {
        // The number is all of a tel: URI but its parameters.
        address->user = QString::fromUtf8(bytes(decoded.uri.host));
        return !address->user.isEmpty();
    }
    if (address->scheme != QLatin1String("sip") && address->scheme != QLatin1String("sips"))
        return false;
    QByteArray user = bytes(decoded.uri.user);
    if (const qsizetype cut = user.indexOf(';'); cut >= 0) // user;parameters
        user.truncate(cut);
    address->user = QString::fromUtf8(QByteArray::fromPercentEncoding(user)).trimmed();
    return true;
}

CallerIdMessage SipCaller::read(const Headers &headers)
{
    CallerIdMessage message;
    Address from;
    const bool hasFrom = readAddress(headers.from, &from);
    Address chosen;
    QString source;
    if (readAddress(headers.assertedIdentity, &chosen))
        source = QStringLiteral("P-Asserted-Identity");
    else if (readAddress(headers.remotePartyId, &chosen))
        source = QStringLiteral("Remote-Party-ID");
    else if (hasFrom) {
        chosen = from;
        source = QStringLiteral("From");
    }
    message.raw = QStringLiteral("SIP %1: %2").arg(source.isEmpty() ? QStringLiteral("-") : source, chosen.user);

    const QStringList privacy = QString::fromUtf8(headers.privacy).toLower().split(u';', Qt::SkipEmptyParts);
    const auto asks = [&](const char *what) {
        return std::any_of(
            privacy.begin(), privacy.end(), [&](const QString &p) { return p.trimmed() == QLatin1String(what); });
    };
    const bool fromPartyId = source == QLatin1String("Remote-Party-ID");
    const bool askedPrivacy = asks("id") || asks("header") || asks("user")
        || (fromPartyId
            && (hasParameter(chosen.parameters, "privacy", "full")
                || hasParameter(chosen.parameters, "privacy", "uri")));
    const bool namePrivate = fromPartyId && hasParameter(chosen.parameters, "privacy", "name");
    if (namePrivate)
        chosen.displayName.clear();
    if (askedPrivacy || isWithheld(chosen.user)) {
        message.kind = CallerIdMessage::Kind::Withheld;
        return message;
    }
    if (!isNumber(chosen.user)) {
        message.kind = CallerIdMessage::Kind::Unavailable;
        message.name = realName(chosen.displayName);
        return message;
    }
    message.kind = CallerIdMessage::Kind::Number;
    message.digits = chosen.user;
    message.digits.remove(u'-').remove(u'.').remove(u' ').remove(u'(').remove(u')');
    QString name = realName(chosen.displayName);
    if (name.isEmpty() && !namePrivate && hasFrom && !isWithheld(from.user))
        name = realName(from.displayName);
    message.name = name;
    return message;
}
