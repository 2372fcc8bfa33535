#pragma once

#include <QString>
#include <QStringList>

namespace DataInit {

// Creates whatever is missing in the data folder: the folder itself, an empty
// register with its schema, the area-code file with its one row and a
// site.txt naming the site. An existing file (in any letter case) is never
// touched. A register or area-code file brought from the original platform
// ("CADA.MDB", "ddd.MDB", any letter case) is copied into the new file by
// `workerProgram` (see AccessImport) instead of starting empty. A non-empty
// `areaCode` is then stored as the desk's own, in a new or an existing
// area-code file. `report` receives one Portuguese line per file.
//
// With `databaseUrl` (or a registro.ini already naming a server) the register
// and the area code are kept on that PostgreSQL server instead: the folder
// gets site.txt and a registro.ini naming the server, and the server's
// database gets the register's schema unless it has it already.
bool initDataFolder(const QString &dir, const QString &workerProgram, QStringList *report, QString *error,
    const QString &areaCode = {}, const QString &databaseUrl = {});

// Copies the data folder's SQLite register and area code into the empty
// register of the server at `databaseUrl` (its schema created when missing).
bool copyRegister(const QString &dir, const QString &databaseUrl, QStringList *report, QString *error);

} // namespace DataInit
