#pragma once

#include <QString>

// The desk's area code in SQLite: table a1 of a file of its own, one row.
class SqliteAreaCode
{
public:
    // A new file whose one row holds empty text; fails when the file exists.
    static bool create(const QString &filePath, QString *error);
    static bool load(const QString &filePath, int waitMs, QString *value, QString *error);
    static bool store(const QString &filePath, int waitMs, const QString &value, QString *error);
};
