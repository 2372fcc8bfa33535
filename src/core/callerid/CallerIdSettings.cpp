#include "core/callerid/CallerIdSettings.h"

#include "core/callerid/sources/SipAddress.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"
#include "core/platform/DataFiles.h"

#include <QDir>
#include <QSettings>

#include <algorithm>
#include <variant>

namespace {
const char *const SourceKeys[] = { "nenhuma", "placa-de-som", "arquivo", "modem", "ncid", "sip", "sip-escuta" };
}

QString CallerIdSettings::filePath(const QString &dataDir)
{
    return QDir(dataDir).filePath(DataFiles::CallerIdSettings);
}

QString CallerIdSettings::sourceKey(Source source)
{
    return QString::fromLatin1(SourceKeys[int(source)]);
}

CallerIdSettings::Source CallerIdSettings::sourceFromKey(const QString &key)
{
    for (int i = 0; i < int(std::size(SourceKeys)); ++i) {
        if (key == QLatin1String(SourceKeys[i]))
            return Source(i);
    }
    return Source::SoundCard;
}

namespace {

// Every setting once: its key in callerid.ini (lower case, words joined by
// hyphens, as in every settings file of the data folder), the key an earlier
// version wrote it under, and the member it fills. The defaults are the
// members' own initial values.
using Member = std::variant<QString CallerIdSettings::*, bool CallerIdSettings::*, int CallerIdSettings::*>;
struct Key
{
    const char *name;
    Member member;
    const char *older = nullptr;
};
const Key Keys[] = {
    { "controle/ddd-local", &CallerIdSettings::a2DDDLocal, "controle/a2DDDLocal" },
    { "controle/plugin", &CallerIdSettings::a3RootPlugIn, "controle/a3RootPlugIn" },
    { "controle/tecla-limpa-digitos", &CallerIdSettings::a5ClearAllDigits, "controle/a5ClearAllDigits" },
    { "controle/modo-operacao", &CallerIdSettings::a6ModoOperac, "controle/a6ModoOperac" },
    { "controle/restaura-janela", &CallerIdSettings::a7ScreenRestore, "controle/a7ScreenRestore" },
    { "controle/nao-detecta-tipo", &CallerIdSettings::a9NotDetectTipo, "controle/a9NotDetectTipo" },
    { "controle/sensibilidade", &CallerIdSettings::a8Sensibility, "controle/a8Sensibility" },
    { "linha/dispositivo-de-som", &CallerIdSettings::soundDevice },
    { "linha/arquivo", &CallerIdSettings::audioFile },
    { "linha/modem-porta", &CallerIdSettings::modemPort },
    { "linha/modem-velocidade", &CallerIdSettings::modemBaud },
    { "linha/modem-inicializacao", &CallerIdSettings::modemInit },
    { "linha/ncid-servidor", &CallerIdSettings::ncidHost },
    { "linha/ncid-porta", &CallerIdSettings::ncidPort },
    { "linha/sip-conta", &CallerIdSettings::sipAccount },
    { "linha/sip-usuario-autenticacao", &CallerIdSettings::sipAuthUser },
    { "linha/sip-arquivo-senha", &CallerIdSettings::sipPasswordFile },
    { "linha/sip-escuta", &CallerIdSettings::sipListen },
    { "linha/sip-validade", &CallerIdSettings::sipExpires },
    { "chamadas/dias-guardados", &CallerIdSettings::callLogDays },
};
// The source is kept by name, not by number.
const char *const SourceName = "linha/fonte";

} // namespace

bool CallerIdSettings::applyLine(const QString &line, QString *error)
{
    const QString kind = line.section(QLatin1Char(':'), 0, 0);
    const QString rest = line.section(QLatin1Char(':'), 1);
    const bool hasRest = line.contains(QLatin1Char(':'));
    if (kind == QLatin1String("som")) {
        source = Source::SoundCard;
        soundDevice = rest; // empty: the default input
        return true;
    }
    if (kind == QLatin1String("arquivo") && !rest.isEmpty()) {
        source = Source::AudioFile;
        audioFile = rest;
        return true;
    }
    if (kind == QLatin1String("modem") && !rest.isEmpty()) {
        source = Source::Modem;
        modemPort = rest;
        return true;
    }
    if (kind == QLatin1String("ncid") && !rest.isEmpty()) {
        // HOST, HOST:PORT, or [IPv6]:PORT.
        QString host = rest;
        int port = 3333;
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        const bool bracketed = rest.startsWith(QLatin1Char('['));
        if (colon > 0 && (!bracketed || rest.at(colon - 1) == QLatin1Char(']'))
            && (bracketed || rest.count(QLatin1Char(':')) == 1)) {
            bool ok = false;
            port = rest.mid(colon + 1).toInt(&ok);
            if (!ok || port < 1 || port > 65535) {
                *error = QStringLiteral("porta inválida em --line %1 (1 a 65535)").arg(line);
                return false;
            }
            host = rest.left(colon);
        }
        if (bracketed)
            host = host.mid(1).chopped(1);
        if (host.isEmpty()) {
            *error = QStringLiteral("falta o servidor em --line %1 (ex.: ncid:servidor:3333)").arg(line);
            return false;
        }
        source = Source::Ncid;
        ncidHost = host;
        ncidPort = port;
        return true;
    }
    if (kind == QLatin1String("sip")) {
        SipAddress account;
        if (!SipAddress::readAccount(rest, &account, error))
            return false;
        source = Source::Sip;
        sipAccount = rest;
        return true;
    }
    if (kind == QLatin1String("sip-escuta")) {
        SipAddress listening;
        if (!SipAddress::readListening(rest, &listening, error))
            return false;
        source = Source::SipListen;
        sipListen = rest;
        return true;
    }
    *error = QStringLiteral("linha desconhecida: %1 (use som[:DISPOSITIVO], arquivo:ARQUIVO, modem:PORTA, "
                            "ncid:SERVIDOR[:PORTA], sip:USUÁRIO@SERVIDOR[:PORTA] ou sip-escuta:[ENDEREÇO:]PORTA)")
                 .arg(hasRest || !line.isEmpty() ? line : QStringLiteral("(vazia)"));
    return false;
}

QString CallerIdSettings::sipPasswordPath() const
{
    return QDir(dataDir).filePath(sipPasswordFile);
}

CallerIdSettings CallerIdSettings::load(const QString &dataDir)
{
    CallerIdSettings s;
    const QSettings ini(filePath(dataDir), QSettings::IniFormat);
    bool older = false;
    for (const Key &key : Keys) {
        QString name = QString::fromLatin1(key.name);
        if (key.older && !ini.contains(name) && ini.contains(QLatin1String(key.older))) {
            name = QString::fromLatin1(key.older);
            older = true;
        }
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(s.*member)>;
                s.*member = ini.value(name, s.*member).template value<T>();
            },
            key.member);
    }
    s.a8Sensibility = std::clamp(s.a8Sensibility, 1, 10);
    s.sipExpires = std::clamp(s.sipExpires, 60, 86400);
    s.dataDir = dataDir;
    s.source = sourceFromKey(ini.value(QLatin1String(SourceName), sourceKey(s.source)).toString());
#ifndef Q_OS_WIN
    // Earlier versions wrote the plug-in's Windows-style path here on every
    // system; nothing reads it, and off Windows it names nothing.
    if (s.a3RootPlugIn.endsWith(DataFiles::CallerIdPlugin))
        s.a3RootPlugIn = CallerIdSettings().a3RootPlugIn;
#endif
    // A file of an earlier version is rewritten once, in today's keys (a
    // folder that may not be written keeps them, read again next time).
    if (older)
        s.save(dataDir);
    return s;
}

bool CallerIdSettings::save(const QString &dataDir) const
{
    QSettings ini(filePath(dataDir), QSettings::IniFormat);
    for (const Key &key : Keys) {
        std::visit([&](auto member) { ini.setValue(QString::fromLatin1(key.name), this->*member); }, key.member);
        if (key.older)
            ini.remove(QLatin1String(key.older));
    }
    ini.setValue(QLatin1String(SourceName), sourceKey(source));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

bool CallerIdSettings::loadAreaCode(Register &reg, const QString &dataDir, QString *value, QString *error)
{
    if (!reg.loadAreaCode(value, error))
        return false;
    if (value->isEmpty()) {
        const QString older = load(dataDir).a2DDDLocal;
        if (PhoneNumber::isAreaCode(older))
            *value = older;
    }
    return true;
}

bool CallerIdSettings::storeAreaCode(Register &reg, const QString &dataDir, const QString &value, QString *error)
{
    if (!reg.storeAreaCode(value, error))
        return false;
    CallerIdSettings settings = load(dataDir);
    if (settings.a2DDDLocal == value)
        return true;
    settings.a2DDDLocal = value;
    if (!settings.save(dataDir)) {
        if (error)
            *error = QStringLiteral("Não foi possível gravar %1.").arg(filePath(dataDir));
        return false;
    }
    return true;
}
