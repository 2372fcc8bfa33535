#pragma once

#include <QString>
#include <QStringList>

namespace DataInit {

// Creates whatever is missing in the data folder: the folder itself, an empty
// register with its schema, the area-code file with its one row and a
// site.txt naming the site. An existing file (in any letter case) is never
// touched. `report` receives one Portuguese line per file.
bool initDataFolder(const QString &dir, QStringList *report, QString *error);

} // namespace DataInit
