#include "core/callerid/sources/SipAddress.h"

#include <QStringList>

namespace {

// "HOST", "HOST:PORT", "[V6]" or "[V6]:PORT" into host and port; the port is
// kept as it was when none is written.
bool readHostPort(const QString &text, QString *host, int *port)
{
    QString rest = text;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return false;
        *host = rest.mid(1, close - 1);
        rest = rest.mid(close + 1);
        if (rest.isEmpty())
            return !host->isEmpty();
        if (!rest.startsWith(u':'))
            return false;
        rest = rest.mid(1);
    } else if (rest.count(u':') == 1) {
        *host = rest.section(u':', 0, 0);
        rest = rest.section(u':', 1);
    } else {
        *host = rest;
        return !rest.isEmpty() && !rest.contains(u':');
    }
    bool ok = false;
    const int value = rest.toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

} // namespace

bool SipAddress::readAccount(const QString &text, SipAddress *address, QString *error)
{
    SipAddress result;
    QString rest = text.trimmed();
    if (rest.startsWith(QLatin1String("sip:"), Qt::CaseInsensitive))
        rest = rest.mid(4);
    QStringList parameters = rest.split(u';');
    rest = parameters.takeFirst();
    for (const QString &p : std::as_const(parameters)) {
        const QString name = p.section(u'=', 0, 0).trimmed().toLower();
        const QString value = p.section(u'=', 1).trimmed().toLower();
        if (name == QLatin1String("transport") && (value == QLatin1String("tcp") || value == QLatin1String("udp"))) {
            result.tcp = value == QLatin1String("tcp");
        } else {
            *error = QStringLiteral("parâmetro desconhecido na conta SIP %1 (só transport=udp ou transport=tcp)")
                         .arg(text);
            return false;
        }
    }
    const qsizetype at = rest.lastIndexOf(u'@');
    result.user = at < 0 ? QString() : rest.left(at);
    if (result.user.isEmpty() || result.user.contains(u':')
        || !readHostPort(rest.mid(at + 1), &result.host, &result.port) || result.host.isEmpty()) {
        *error = QStringLiteral("conta SIP inválida: %1 (escreva USUÁRIO@SERVIDOR[:PORTA], ex.: "
                                "sip:2001@pabx.local:5060)")
                     .arg(text);
        return false;
    }
    *address = result;
    return true;
}

bool SipAddress::readListening(const QString &text, SipAddress *address, QString *error)
{
    SipAddress result;
    const QString rest = text.trimmed();
    bool ok = false;
    const int port = rest.toInt(&ok);
    if (ok && port >= 1 && port <= 65535) {
        result.port = port;
    } else if (!readHostPort(rest, &result.host, &result.port) || !rest.contains(u':')
        || (rest.startsWith(u'[') && !rest.contains(QLatin1String("]:")))) {
        *error = QStringLiteral("endereço de escuta SIP inválido: %1 (escreva [ENDEREÇO:]PORTA, ex.: 5060 ou "
                                "192.168.0.10:5060)")
                     .arg(text.isEmpty() ? QStringLiteral("(vazio)") : text);
        return false;
    }
    *address = result;
    return true;
}
