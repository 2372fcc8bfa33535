#pragma once

#include <QString>

// The names of the files in the data folder (matched ignoring letter case).
namespace DataFiles {
inline const QString Contacts = QStringLiteral("cada.sqlite");
inline const QString AreaCode = QStringLiteral("ddd.sqlite");
inline const QString Site = QStringLiteral("site.txt");
inline const QString Help = QStringLiteral("Ajuda");
inline const QString HelpExe = QStringLiteral("Ajuda.exe");
inline const QString CallerIdPlugin = QStringLiteral("P.exe");
} // namespace DataFiles
