#pragma once

#include <QString>

// The attendant's own area code: table a1 of its own small SQLite file, one
// text column a1, exactly one row. Only the first row is read or written.
class AreaCodeStore
{
public:
    explicit AreaCodeStore(QString filePath);

    // Creates the file with its table and one row holding empty text.
    static bool create(const QString &filePath, QString *error);

    // The value of the first row. A missing table, a table without rows or a
    // NULL value is an error.
    bool load(QString *value, QString *error) const;
    // Writes `value` (empty text included) into the first row.
    bool store(const QString &value, QString *error) const;

private:
    QString m_filePath;
};
