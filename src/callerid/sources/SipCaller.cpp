#include "callerid/sources/SipCaller.h"

#include <QStringList>

#include <algorithm>

namespace {

// The first address of a header that may list several: a comma outside
// quotes and angle brackets ends it.
QByteArray firstAddress(const QByteArray &value)
{
    bool quoted = false;
    bool bracketed = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (quoted && c == '\\')
            ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == '<')
            bracketed = true;
        else if (!quoted && c == '>')
            bracketed = false;
        else if (!quoted && !bracketed && c == ',')
            return value.left(i);
    }
    return value;
}

QString unquoted(QByteArray text)
{
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith('"') && text.endsWith('"')) {
        QByteArray plain;
        for (qsizetype i = 1; i + 1 < text.size(); ++i) {
            if (text.at(i) == '\\' && i + 2 < text.size())
                ++i;
            plain.append(text.at(i));
        }
        text = plain;
    }
    return QString::fromUtf8(text).simplified();
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

bool hasParameter(const QString &parameters, const QString &name, const QString &value)
{
    for (const QString &p : parameters.split(u';', Qt::SkipEmptyParts)) {
        if (p.section(u'=', 0, 0).trimmed().compare(name, Qt::CaseInsensitive) == 0
            && p.section(u'=', 1).trimmed().remove(u'"').compare(value, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

bool SipCaller::readAddress(const QByteArray &text, Address *address)
{
    *address = {};
    const QByteArray value = firstAddress(text).trimmed();
    QByteArray uri;
    const qsizetype open = [&] {
        bool quoted = false;
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (quoted && value.at(i) == '\\')
                ++i;
            else if (value.at(i) == '"')
                quoted = !quoted;
            else if (!quoted && value.at(i) == '<')
                return i;
        }
        return qsizetype(-1);
    }();
    if (open >= 0) {
        const qsizetype close = value.indexOf('>', open);
        if (close < 0)
            return false;
        address->displayName = unquoted(value.left(open));
        uri = value.mid(open + 1, close - open - 1).trimmed();
        address->parameters = QString::fromUtf8(value.mid(close + 1)).trimmed();
    } else {
        // An addr-spec: parameters after the URI belong to the header.
        const qsizetype semicolon = value.indexOf(';');
        uri = semicolon < 0 ? value : value.left(semicolon);
        if (semicolon >= 0)
            address->parameters = QString::fromUtf8(value.mid(semicolon));
    }
    const qsizetype colon = uri.indexOf(':');
    if (colon <= 0)
        return false;
    address->scheme = QString::fromLatin1(uri.left(colon)).toLower();
    QByteArray rest = uri.mid(colon + 1);
    if (address->scheme == QLatin1String("tel")) {
        address->user = QString::fromUtf8(rest.left(rest.indexOf(';') < 0 ? rest.size() : rest.indexOf(';')));
        return !address->user.isEmpty();
    }
    if (address->scheme != QLatin1String("sip") && address->scheme != QLatin1String("sips"))
        return false;
    const qsizetype at = rest.lastIndexOf('@');
    QByteArray user = at < 0 ? QByteArray() : rest.left(at);
    // user;parameters:password
    const qsizetype cut = user.indexOf(';');
    if (cut >= 0)
        user.truncate(cut);
    const qsizetype password = user.indexOf(':');
    if (password >= 0)
        user.truncate(password);
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
            && (hasParameter(chosen.parameters, QStringLiteral("privacy"), QStringLiteral("full"))
                || hasParameter(chosen.parameters, QStringLiteral("privacy"), QStringLiteral("uri"))));
    const bool namePrivate
        = fromPartyId && hasParameter(chosen.parameters, QStringLiteral("privacy"), QStringLiteral("name"));
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
