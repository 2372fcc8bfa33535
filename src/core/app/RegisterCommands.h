#pragma once

#include <QString>
#include <QStringList>

// The register's commands for the terminal and for scripts: copies, restore,
// contacts out and in. Each prints what it did and returns the program's
// exit status (0 done, 1 failed: nothing changed).
namespace RegisterCommands {

int backup(const QString &dataDir, const QString &databaseUrl, const QString &file);
int restore(const QString &dataDir, const QString &file);
int exportContacts(const QString &dataDir, const QString &databaseUrl, const QString &file);
// With `merge`, a contact whose telephone is stored completes the stored one.
int importContacts(const QString &dataDir, const QString &databaseUrl, const QString &file, bool yes, bool merge,
    const QStringList &columnMap = {});

} // namespace RegisterCommands
