#pragma once

#include <QString>

// The names of the files in the data folder (matched ignoring letter case).
namespace DataFiles {
inline const QString Contacts = QStringLiteral("cada.sqlite");
inline const QString AreaCode = QStringLiteral("ddd.sqlite");
inline const QString Site = QStringLiteral("site.txt");
// The same data as the original platform kept them, brought over by --init.
inline const QString AccessContacts = QStringLiteral("CADA.MDB");
inline const QString AccessAreaCode = QStringLiteral("ddd.MDB");
inline const QString Help = QStringLiteral("Ajuda");
inline const QString HelpExe = QStringLiteral("Ajuda.exe");
inline const QString CallerIdPlugin = QStringLiteral("P.exe");
} // namespace DataFiles
