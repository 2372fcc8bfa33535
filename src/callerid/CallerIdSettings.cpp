#include "callerid/CallerIdSettings.h"

#include "platform/DataFiles.h"

#include <QDir>
#include <QSettings>

namespace {
const char *const SourceKeys[] = { "nenhuma", "placa-de-som", "arquivo", "modem", "ncid" };
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

CallerIdSettings CallerIdSettings::load(const QString &dataDir)
{
    CallerIdSettings s;
    const QSettings ini(filePath(dataDir), QSettings::IniFormat);
    s.a2DDDLocal = ini.value(QStringLiteral("controle/a2DDDLocal"), s.a2DDDLocal).toString();
    s.a3RootPlugIn = ini.value(QStringLiteral("controle/a3RootPlugIn"), s.a3RootPlugIn).toString();
    s.a5ClearAllDigits = ini.value(QStringLiteral("controle/a5ClearAllDigits"), s.a5ClearAllDigits).toString();
    s.a6ModoOperac = ini.value(QStringLiteral("controle/a6ModoOperac"), s.a6ModoOperac).toString();
    s.a7ScreenRestore = ini.value(QStringLiteral("controle/a7ScreenRestore"), s.a7ScreenRestore).toBool();
    s.a9NotDetectTipo = ini.value(QStringLiteral("controle/a9NotDetectTipo"), s.a9NotDetectTipo).toBool();
    s.a8Sensibility = std::clamp(ini.value(QStringLiteral("controle/a8Sensibility"), s.a8Sensibility).toInt(), 1, 10);
    s.source = sourceFromKey(ini.value(QStringLiteral("linha/fonte"), sourceKey(s.source)).toString());
    s.soundDevice = ini.value(QStringLiteral("linha/dispositivo-de-som"), s.soundDevice).toString();
    s.audioFile = ini.value(QStringLiteral("linha/arquivo"), s.audioFile).toString();
    s.modemPort = ini.value(QStringLiteral("linha/modem-porta"), s.modemPort).toString();
    s.modemBaud = ini.value(QStringLiteral("linha/modem-velocidade"), s.modemBaud).toInt();
    s.modemInit = ini.value(QStringLiteral("linha/modem-inicializacao"), s.modemInit).toString();
    s.ncidHost = ini.value(QStringLiteral("linha/ncid-servidor"), s.ncidHost).toString();
    s.ncidPort = ini.value(QStringLiteral("linha/ncid-porta"), s.ncidPort).toInt();
    return s;
}

bool CallerIdSettings::save(const QString &dataDir) const
{
    QSettings ini(filePath(dataDir), QSettings::IniFormat);
    ini.setValue(QStringLiteral("controle/a2DDDLocal"), a2DDDLocal);
    ini.setValue(QStringLiteral("controle/a3RootPlugIn"), a3RootPlugIn);
    ini.setValue(QStringLiteral("controle/a5ClearAllDigits"), a5ClearAllDigits);
    ini.setValue(QStringLiteral("controle/a6ModoOperac"), a6ModoOperac);
    ini.setValue(QStringLiteral("controle/a7ScreenRestore"), a7ScreenRestore);
    ini.setValue(QStringLiteral("controle/a9NotDetectTipo"), a9NotDetectTipo);
    ini.setValue(QStringLiteral("controle/a8Sensibility"), a8Sensibility);
    ini.setValue(QStringLiteral("linha/fonte"), sourceKey(source));
    ini.setValue(QStringLiteral("linha/dispositivo-de-som"), soundDevice);
    ini.setValue(QStringLiteral("linha/arquivo"), audioFile);
    ini.setValue(QStringLiteral("linha/modem-porta"), modemPort);
    ini.setValue(QStringLiteral("linha/modem-velocidade"), modemBaud);
    ini.setValue(QStringLiteral("linha/modem-inicializacao"), modemInit);
    ini.setValue(QStringLiteral("linha/ncid-servidor"), ncidHost);
    ini.setValue(QStringLiteral("linha/ncid-porta"), ncidPort);
    ini.sync();
    return ini.status() == QSettings::NoError;
}
