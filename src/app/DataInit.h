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
bool initDataFolder(const QString &dir, const QString &workerProgram, QStringList *report, QString *error,
    const QString &areaCode = {});

} // namespace DataInit
