#pragma once

#include "core/platform/DataFiles.h"

#include <QString>

class Register;

// The caller-ID monitor's own settings, kept in callerid.ini in the data
// folder: the properties the window hands over (area code, plug-in path),
// the monitor's fixed properties, and the line source with its parameters.
struct CallerIdSettings
{
    enum class Source { None, SoundCard, AudioFile, Modem, Ncid, Sip, SipListen };

    QString a2DDDLocal = QStringLiteral("00");
    QString a3RootPlugIn = QStringLiteral("Não informado");
    QString a5ClearAllDigits = QStringLiteral("#");
    QString a6ModoOperac = QStringLiteral("DTMF");
    bool a7ScreenRestore = false;
    bool a9NotDetectTipo = false;
    int a8Sensibility = 8; // 1..10: the weakest tone heard (8 = -42 dBm0)

    Source source = Source::SoundCard;
    QString soundDevice; // PulseAudio source name; empty: the default input
    QString audioFile; // a recording to decode on activation
    QString modemPort = QStringLiteral("/dev/ttyACM0");
    int modemBaud = 115200;
    QString modemInit = QStringLiteral("AT+VCID=1");
    QString ncidHost = QStringLiteral("localhost");
    int ncidPort = 3333;
    QString sipAccount; // USER@HOST[:PORT][;transport=tcp], registered
    QString sipAuthUser; // empty: the account's user
    QString sipPasswordFile = DataFiles::SipPassword; // relative: in the data folder
    QString sipListen = QStringLiteral("5060"); // [ADDRESS:]PORT, for INVITEs sent straight here
    int sipExpires = 600; // seconds a registration lasts before it is renewed

    // The data folder the settings were read from: relative paths are in it.
    QString dataDir;

    int callLogDays = 730; // calls older than this are removed at start-up

    static QString filePath(const QString &dataDir);
    static CallerIdSettings load(const QString &dataDir);
    bool save(const QString &dataDir) const;

    // A line for one run, as `zuna --line` names it: som[:DEVICE],
    // arquivo:FILE, modem:PORT, ncid:HOST[:PORT], sip:USER@HOST[:PORT] or
    // sip-escuta:[ADDRESS:]PORT. False, with a Portuguese message, for
    // anything else; nothing changes then.
    bool applyLine(const QString &line, QString *error);

    // The desk's area code has one store, the register's (ddd.sqlite or the
    // server), which the window's DDD field shows; a2DDDLocal here follows it
    // for what reads only callerid.ini. A register without one takes the
    // code an older callerid.ini holds (not the default "00").
    static bool loadAreaCode(Register &reg, const QString &dataDir, QString *value, QString *error);
    // Stores `value` in the register, then as a2DDDLocal when it differs.
    static bool storeAreaCode(Register &reg, const QString &dataDir, const QString &value, QString *error);

    // The SIP password file, with a relative name taken in the data folder.
    QString sipPasswordPath() const;

    static QString sourceKey(Source source);
    static Source sourceFromKey(const QString &key);
};
