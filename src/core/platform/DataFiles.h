#pragma once

#include <QString>

// The names of the files in the data folder (matched without regard to
// letter case), each spelt here only.
namespace DataFiles {
inline const QString Contacts = QStringLiteral("cada.sqlite");
inline const QString AreaCode = QStringLiteral("ddd.sqlite");
inline const QString Site = QStringLiteral("site.txt");
// Which register: an SQLite file here (the default) or a PostgreSQL server.
inline const QString RegisterSettings = QStringLiteral("registro.ini");
inline const QString CallerIdSettings = QStringLiteral("callerid.ini");
// Held while a copy of Zuna runs on the folder.
inline const QString Lock = QStringLiteral(".zuna.lock");
// Where numbers come in from scripts and `zuna --call` while the monitor is on.
inline const QString CallSocket = QStringLiteral(".zuna-chamadas.sock");
// The copies of the register (see BackupFolder), unless copias.ini names
// another folder for them.
inline const QString Backups = QStringLiteral("backups");
inline const QString BackupSettings = QStringLiteral("copias.ini");
// The SIP account's password, on its first line; readable by its owner alone.
inline const QString SipPassword = QStringLiteral("sip-senha");
// The same data as the original platform kept them, brought over by --init.
inline const QString AccessContacts = QStringLiteral("CADA.MDB");
inline const QString AccessAreaCode = QStringLiteral("ddd.MDB");
inline const QString Help = QStringLiteral("Ajuda");
inline const QString HelpExe = QStringLiteral("Ajuda.exe");
inline const QString CallerIdPlugin = QStringLiteral("P.exe");
} // namespace DataFiles
